// The file transform on Windows files: round trips through the temporaries
// of the Windows file layer, and the read-only attribute, which Windows
// enforces where POSIX looks at directory permissions.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <set>
#include <string>

#include "run/transform.h"
#include "support/runs.h"
#include "support/system_win32.h"
#include "support/vectors.h"

namespace {

const std::string HELLO = "hello\n";

class WindowsTransform : public testing::Test {
  protected:
    // "hello\n" under the passphrase "secret"; read before the test moves
    // into its scratch directory, as the vector path may be relative to the
    // build directory's drive.
    static std::string container;
    static void SetUpTestSuite() {
        container = hello_container();
    }
    scratch_dir scratch;

    void SetUp() override {
        scratch.enter();
        ASSERT_EQ(container.size(), 37 + HELLO.size());
    }

    static bool read_only(const std::string& path) {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    }
};

std::string WindowsTransform::container;

TEST_F(WindowsTransform, RoundTripsWithDeleteInDirectoriesWrittenEitherWay) {
    std::filesystem::create_directory("sub");
    for (const std::string name : {"sub/a.txt", "sub\\b.txt"}) {
        write_file(name, HELLO);
        std::string path = name;
        EXPECT_EQ(transform_alone(path, "secret", true), OUTCOME_ENCRYPTED) << name;
        EXPECT_EQ(path, name);
        EXPECT_EQ(read_file(name + ".tvk"), container) << name;
        EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES) << "input kept";

        path = name + ".tvk";
        EXPECT_EQ(transform_alone(path, "secret", true), OUTCOME_DECRYPTED) << name;
        EXPECT_EQ(path, name + ".tvk");
        EXPECT_EQ(read_file(name), HELLO);
    }
    EXPECT_EQ(names_in("sub"), (std::set<std::string>{"a.txt", "b.txt"}));
}

TEST_F(WindowsTransform, ContainerWithoutSuffixIsReplacedUnderItsName) {
    write_file("data.bin", container);
    std::string path = "data.bin";
    EXPECT_EQ(transform_alone(path, "secret", true), OUTCOME_DECRYPTED);
    EXPECT_EQ(path, "data.bin");
    EXPECT_EQ(read_file("data.bin"), HELLO);
    EXPECT_EQ(names_in("."), std::set<std::string>{"data.bin"});
}

TEST_F(WindowsTransform, WrongPassphraseChangesNothing) {
    write_file("a.txt.tvk", container);
    write_file("a.txt", "earlier");
    std::string path = "a.txt.tvk";
    EXPECT_EQ(transform_alone(path, "other", true), OUTCOME_WRONG_KEY);
    EXPECT_EQ(read_file("a.txt.tvk"), container);
    EXPECT_EQ(read_file("a.txt"), "earlier");
    EXPECT_EQ(names_in("."), (std::set<std::string>{"a.txt", "a.txt.tvk"}));
}

// A read-only input cannot be deleted by "-d" (the run names it and goes
// on), its container is read-only too, and a
// read-only container cannot be opened for update, so it is taken as plain
// and encrypted again.
TEST_F(WindowsTransform, ReadOnlyInputsStayAndTheirContainersAreReadOnly) {
    write_file("r.txt", HELLO);
    set_attributes("r.txt", FILE_ATTRIBUTE_READONLY);
    std::string path = "r.txt";
    EXPECT_EQ(transform_alone(path, "secret", true), OUTCOME_ENCRYPTED);
    EXPECT_EQ(read_file("r.txt"), HELLO);
    EXPECT_EQ(read_file("r.txt.tvk"), container);
    EXPECT_TRUE(read_only("r.txt.tvk"));

    path = "r.txt.tvk";
    EXPECT_EQ(transform_alone(path, "secret", false), OUTCOME_ENCRYPTED);
    EXPECT_EQ(read_file("r.txt.tvk.tvk").size(), 2 * 37 + HELLO.size());
    EXPECT_EQ(names_in("."), (std::set<std::string>{"r.txt", "r.txt.tvk", "r.txt.tvk.tvk"}));
}

// Windows does not overwrite a read-only file: decrypting onto one fails
// with the output message, which names the container, and leaves both files
// as they were, with no temporary behind.
TEST_F(WindowsTransform, ReadOnlyOutputIsNotOverwritten) {
    write_file("c.txt.tvk", container);
    write_file("c.txt", "protected");
    set_attributes("c.txt", FILE_ATTRIBUTE_READONLY);
    std::string path = "c.txt.tvk";
    EXPECT_EQ(transform_alone(path, "secret", true), OUTCOME_OUTPUT_FAILED);
    EXPECT_EQ(read_file("c.txt"), "protected");
    EXPECT_EQ(read_file("c.txt.tvk"), container);
    EXPECT_EQ(names_in("."), (std::set<std::string>{"c.txt", "c.txt.tvk"}));
}

}  // namespace

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "container/container.h"
#include "container/transform.h"
#include "front/outcome.h"
#include "platform/fault.h"
#include "platform/files.h"
#include "support/oracles.h"
#include "support/vectors.h"

namespace fs = std::filesystem;

namespace {

struct scratch_dir {
    std::string root;
    scratch_dir() {
        char pattern[] = "/tmp/tovik-transform-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        root = pattern;
    }
    ~scratch_dir() {
        fault_clear();
        std::error_code ignored;
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(root, ignored);
    }
    std::string at(const std::string& name) const { return root + "/" + name; }
    // Every entry with its bytes: two snapshots are equal only when nothing
    // was created, removed or changed.
    std::map<std::string, std::string> snapshot() const {
        std::map<std::string, std::string> entries;
        for (const auto& entry : fs::directory_iterator(root)) {
            entries[entry.path().filename().string()] = read(entry.path().string());
        }
        return entries;
    }
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(root)) {
            found.insert(entry.path().filename().string());
        }
        return found;
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

void write_file(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    ::chmod(path.c_str(), mode);
}

mode_t mode_of(const std::string& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// The container of plain under "secret", built from the recorded key
// schedule and the textbook RC4 above, not from the program's code.
std::string expected_container(const std::string& plain) {
    for (const auto& row : read_vector_file("key-schedule.txt")) {
        if (row[0] == "736563726574") return row[1] + textbook_rc4(from_hex(row[2]), plain);
    }
    ADD_FAILURE() << "no vector for \"secret\"";
    return {};
}

bool has_temporary(const scratch_dir& dir) {
    for (const std::string& name : dir.names()) {
        if (is_temporary_name(name)) return true;
    }
    return false;
}

// Runs body in a child process as an unprivileged user (when run as root),
// so that permission bits are enforced; returns the child's exit status.
template <typename Body>
int as_unprivileged(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Outcome codes as exit statuses of a child.
int status_of(int outcome) {
    return outcome + 100;
}

}  // namespace

TEST(Transform, RoundTripsGiveTheIndependentContainerAndTheBytesBack) {
    const std::size_t sizes[] = {
        1, 36, 37, 1023, 1024, 1025, COPY_BLOCK - 37, COPY_BLOCK, 3 * 1024 * 1024 + 7};
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        scratch_dir dir;
        const std::string plain = random_bytes(size, static_cast<unsigned>(size));
        write_file(dir.at("data.bin"), plain);
        std::string path = dir.at("data.bin");
        ASSERT_EQ(transform_file(path, "secret", 0), OUTCOME_ENCRYPTED);
        EXPECT_EQ(path, dir.at("data.bin"));
        EXPECT_EQ(dir.names(), (std::set<std::string>{"data.bin", "data.bin.tvk"}));
        EXPECT_TRUE(scratch_dir::read(dir.at("data.bin.tvk")) == expected_container(plain));

        fs::remove(dir.at("data.bin"));
        path = dir.at("data.bin.tvk");
        ASSERT_EQ(transform_file(path, "secret", 0), OUTCOME_DECRYPTED);
        EXPECT_EQ(path, dir.at("data.bin.tvk"));  // the name the driver reports
        EXPECT_EQ(dir.names(), (std::set<std::string>{"data.bin", "data.bin.tvk"}));
        EXPECT_TRUE(scratch_dir::read(dir.at("data.bin")) == plain);
    }
}

TEST(Transform, WrongPassphraseChangesNothing) {
    scratch_dir dir;
    write_file(dir.at("a"), "the plain text");
    std::string path = dir.at("a");
    ASSERT_EQ(transform_file(path, "secret", 0), OUTCOME_ENCRYPTED);
    write_file(dir.at("a"), "a file of the output's name");
    const auto before = dir.snapshot();
    for (int delete_input : {0, 1}) {
        for (const char* wrong : {"Secret", "", "secret "}) {
            path = dir.at("a.tvk");
            EXPECT_EQ(transform_file(path, wrong, delete_input), OUTCOME_WRONG_KEY);
            EXPECT_EQ(path, dir.at("a.tvk"));
            EXPECT_EQ(dir.snapshot(), before);
        }
    }
}

TEST(Transform, ExistingOutputIsReplacedAndPermissionsFollowTheInput) {
    scratch_dir dir;
    write_file(dir.at("a"), "new contents", 0640);
    write_file(dir.at("a.tvk"), "an older container", 0666);
    std::string path = dir.at("a");
    ASSERT_EQ(transform_file(path, "secret", 0), OUTCOME_ENCRYPTED);
    EXPECT_EQ(scratch_dir::read(dir.at("a.tvk")), expected_container("new contents"));
    EXPECT_EQ(mode_of(dir.at("a.tvk")), 0640u);

    fs::remove(dir.at("a"));
    ::chmod(dir.at("a.tvk").c_str(), 0600);
    path = dir.at("a.tvk");
    ASSERT_EQ(transform_file(path, "secret", 0), OUTCOME_DECRYPTED);
    EXPECT_EQ(scratch_dir::read(dir.at("a")), "new contents");
    EXPECT_EQ(mode_of(dir.at("a")), 0600u);
}

TEST(Transform, DeleteRemovesExactlyTheInputAfterSuccess) {
    scratch_dir dir;
    write_file(dir.at("a"), "alpha");
    write_file(dir.at("b"), "bystander");
    std::string path = dir.at("a");
    ASSERT_EQ(transform_file(path, "secret", 1), OUTCOME_ENCRYPTED);
    EXPECT_EQ(path, dir.at("a"));
    EXPECT_EQ(dir.names(), (std::set<std::string>{"a.tvk", "b"}));
    // Durability before the delete: the output and then its directory.
    EXPECT_EQ(fault_calls(fault_point::sync), 2);

    path = dir.at("a.tvk");
    ASSERT_EQ(transform_file(path, "secret", 1), OUTCOME_DECRYPTED);
    EXPECT_EQ(path, dir.at("a.tvk"));
    EXPECT_EQ(dir.names(), (std::set<std::string>{"a", "b"}));
    EXPECT_EQ(scratch_dir::read(dir.at("a")), "alpha");
    EXPECT_EQ(scratch_dir::read(dir.at("b")), "bystander");
}

TEST(Transform, WithoutDeleteNothingIsSyncedOrDeleted) {
    scratch_dir dir;
    write_file(dir.at("a"), "alpha");
    std::string path = dir.at("a");
    fault_clear();
    ASSERT_EQ(transform_file(path, "secret", 0), OUTCOME_ENCRYPTED);
    path = dir.at("a.tvk");
    ASSERT_EQ(transform_file(path, "secret", 0), OUTCOME_DECRYPTED);
    EXPECT_EQ(fault_calls(fault_point::sync), 0);
    EXPECT_EQ(fault_calls(fault_point::unlink), 0);
    EXPECT_EQ(dir.names(), (std::set<std::string>{"a", "a.tvk"}));
}

// The decision rests on the content; the name only shapes the output name.
TEST(Transform, ContainersWithoutTheSuffixAreDecryptedInPlace) {
    for (const char* name : {"moved", "shout.TVK", "x.tvk.bak"}) {
        for (int delete_input : {0, 1}) {
            SCOPED_TRACE(testing::Message() << name << " -d " << delete_input);
            scratch_dir dir;
            write_file(dir.at(name), expected_container("in place"));
            std::string path = dir.at(name);
            fault_clear();
            ASSERT_EQ(transform_file(path, "secret", delete_input), OUTCOME_DECRYPTED);
            EXPECT_EQ(path, dir.at(name));  // its real name, no suffix appended
            EXPECT_EQ(dir.names(), std::set<std::string>{name});
            EXPECT_EQ(scratch_dir::read(dir.at(name)), "in place");
            // The container was replaced: the plain copy is made durable.
            EXPECT_EQ(fault_calls(fault_point::sync), 2);
        }
    }
}

TEST(Transform, ScratchNameOfTheOldToolIsAnOrdinaryTarget) {
    scratch_dir dir;
    write_file(dir.at("tovk4.tmp"), "left by an old run");
    write_file(dir.at("other"), "other");
    std::string path = dir.at("tovk4.tmp");
    ASSERT_EQ(transform_file(path, "secret", 1), OUTCOME_ENCRYPTED);
    path = dir.at("other");
    ASSERT_EQ(transform_file(path, "secret", 0), OUTCOME_ENCRYPTED);
    EXPECT_EQ(dir.names(), (std::set<std::string>{"tovk4.tmp.tvk", "other", "other.tvk"}));
    path = dir.at("tovk4.tmp.tvk");
    ASSERT_EQ(transform_file(path, "secret", 1), OUTCOME_DECRYPTED);
    EXPECT_EQ(scratch_dir::read(dir.at("tovk4.tmp")), "left by an old run");
    EXPECT_EQ(scratch_dir::read(dir.at("other")), "other");
}

TEST(Transform, LongNamesUseTheShortTemporaryOrFailCleanly) {
    scratch_dir dir;
    const std::string fits(250, 'n');  // its container name has 254 characters
    write_file(dir.at(fits), "long");
    std::string path = dir.at(fits);
    ASSERT_EQ(transform_file(path, "secret", 0), OUTCOME_ENCRYPTED);
    EXPECT_EQ(scratch_dir::read(dir.at(fits + ".tvk")), expected_container("long"));

    const std::string too_long(253, 'm');  // no room for ".tvk"
    write_file(dir.at(too_long), "longer");
    path = dir.at(too_long);
    EXPECT_EQ(transform_file(path, "secret", 1), OUTCOME_OUTPUT_FAILED);
    EXPECT_EQ(dir.names(), (std::set<std::string>{fits, fits + ".tvk", too_long}));
    EXPECT_EQ(scratch_dir::read(dir.at(too_long)), "longer");
}

TEST(Transform, MissingOrSpecialInputsAreInputFailures) {
    scratch_dir dir;
    std::string path = dir.at("missing");
    EXPECT_EQ(transform_file(path, "secret", 1), OUTCOME_INPUT_FAILED);
    ASSERT_EQ(::mkfifo(dir.at("fifo").c_str(), 0644), 0);
    path = dir.at("fifo");
    EXPECT_EQ(transform_file(path, "secret", 1), OUTCOME_INPUT_FAILED);  // and does not block
    fs::create_directory(dir.at("sub"));
    path = dir.at("sub");
    EXPECT_EQ(transform_file(path, "secret", 1), OUTCOME_INPUT_FAILED);
    EXPECT_EQ(dir.names(), (std::set<std::string>{"fifo", "sub"}));
}

// Permission cases run in a child without privileges, where they hold.
TEST(Transform, ReadOnlyAndUnreadableFiles) {
    scratch_dir dir;
    ::chmod(dir.root.c_str(), 0777);
    const std::string container = expected_container("inner");
    write_file(dir.at("ro.tvk"), container, 0444);
    write_file(dir.at("ro-plain"), "read only", 0444);
    write_file(dir.at("hidden"), "unreadable", 0000);
    const auto transform_as_unprivileged = [&](const char* name, int delete_input) {
        return as_unprivileged([&] {
            std::string path = dir.at(name);
            return status_of(transform_file(path, "secret", delete_input));
        });
    };

    EXPECT_EQ(as_unprivileged(
                  [&] { return status_of(probe_container(dir.at("ro.tvk"), CONTAINER_MAGIC)); }),
              status_of(-1));
    // A container that cannot be opened for update is taken as plain.
    EXPECT_EQ(transform_as_unprivileged("ro.tvk", 0), status_of(OUTCOME_ENCRYPTED));
    EXPECT_EQ(scratch_dir::read(dir.at("ro.tvk.tvk")), expected_container(container));
    EXPECT_EQ(scratch_dir::read(dir.at("ro.tvk")), container);
    EXPECT_EQ(transform_as_unprivileged("ro-plain", 0), status_of(OUTCOME_ENCRYPTED));
    EXPECT_EQ(scratch_dir::read(dir.at("ro-plain.tvk")), expected_container("read only"));
    EXPECT_EQ(mode_of(dir.at("ro-plain.tvk")), 0444u);
    EXPECT_EQ(transform_as_unprivileged("hidden", 1), status_of(OUTCOME_INPUT_FAILED));
    EXPECT_EQ(dir.names(), (std::set<std::string>{"ro.tvk", "ro.tvk.tvk", "ro-plain",
                                                  "ro-plain.tvk", "hidden"}));

    // A directory where no temporary can be created.
    scratch_dir locked;
    write_file(locked.at("a"), "locked in");
    const auto before = locked.snapshot();
    ::chmod(locked.root.c_str(), 0555);
    EXPECT_EQ(as_unprivileged([&] {
                  std::string path = locked.at("a");
                  return status_of(transform_file(path, "secret", 1));
              }),
              status_of(OUTCOME_OUTPUT_FAILED));
    EXPECT_EQ(locked.snapshot(), before);
}

// Two processes in one directory: each its own file, then both the same one
// into the same output name.
TEST(Transform, TwoTransformsAtOnceInOneDirectory) {
    scratch_dir dir;
    const std::string first = random_bytes(2 * COPY_BLOCK + 11, 1);
    const std::string second = random_bytes(3 * COPY_BLOCK + 5, 2);
    const std::string shared = random_bytes(COPY_BLOCK + 3, 3);
    write_file(dir.at("first"), first);
    write_file(dir.at("second"), second);
    write_file(dir.at("shared"), shared);
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
        children[i] = ::fork();
        if (children[i] != 0) continue;
        const std::string own = dir.at(i == 0 ? "first" : "second");
        int failures = 0;
        for (int round = 0; round < 3; ++round) {
            std::string path = own;
            failures += transform_file(path, "secret", 1) != OUTCOME_ENCRYPTED;
            path = own + ".tvk";
            failures += transform_file(path, "secret", 1) != OUTCOME_DECRYPTED;
            path = dir.at("shared");
            failures += transform_file(path, "secret", 0) != OUTCOME_ENCRYPTED;
        }
        ::_exit(failures);
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(dir.names(), (std::set<std::string>{"first", "second", "shared", "shared.tvk"}));
    EXPECT_TRUE(scratch_dir::read(dir.at("first")) == first);
    EXPECT_TRUE(scratch_dir::read(dir.at("second")) == second);
    EXPECT_TRUE(scratch_dir::read(dir.at("shared.tvk")) == expected_container(shared));
}

namespace {

// What is left after an injected failure.
enum class leaves { nothing, complete_output };

struct injected_case {
    fault_point point;
    int nth;
    int delete_input;
    int outcome;
    leaves left;
};

const char* point_name(fault_point point) {
    static const char* const names[] = {"open",  "create", "read",   "write", "sync",
                                        "close", "rename", "unlink", "list"};
    return names[static_cast<int>(point)];
}

void run_injected(const injected_case& c, bool decrypting) {
    SCOPED_TRACE(testing::Message() << (decrypting ? "decrypt " : "encrypt ") << point_name(c.point)
                                    << " call " << c.nth << " -d " << c.delete_input);
    scratch_dir dir;
    const std::string plain = random_bytes(COPY_BLOCK + 100, 9);  // two writes
    const std::string container = expected_container(plain);
    const std::string input = decrypting ? "x.tvk" : "x";
    const std::string output = decrypting ? "x" : "x.tvk";
    write_file(dir.at(input), decrypting ? container : plain);
    const auto before = dir.snapshot();

    fault_clear();
    fault_arm(c.point, c.nth, EIO);
    std::string path = dir.at(input);
    EXPECT_EQ(transform_file(path, "secret", c.delete_input), c.outcome);
    EXPECT_GE(fault_calls(c.point), c.nth) << "the step was never reached";
    EXPECT_FALSE(has_temporary(dir));
    const bool stripped = decrypting && c.outcome == OUTCOME_OUTPUT_FAILED;
    EXPECT_EQ(path, dir.at(stripped ? output : input));

    auto expected = before;  // the input, intact and not deleted
    if (c.left == leaves::complete_output) expected[output] = decrypting ? plain : container;
    EXPECT_TRUE(dir.snapshot() == expected);
}

}  // namespace

TEST(TransformFailures, EachStepFailsCleanlyWhileEncrypting) {
    const injected_case cases[] = {
        {fault_point::read, 1, 0, OUTCOME_INPUT_FAILED, leaves::nothing},  // the first bytes
        {fault_point::read, 2, 0, OUTCOME_INPUT_FAILED, leaves::nothing},  // the body
        {fault_point::create, 1, 0, OUTCOME_OUTPUT_FAILED, leaves::nothing},
        {fault_point::write, 1, 0, OUTCOME_DISK_WRITE, leaves::nothing},
        {fault_point::write, 2, 0, OUTCOME_DISK_WRITE, leaves::nothing},
        {fault_point::write, 3, 0, OUTCOME_DISK_WRITE, leaves::nothing},    // permissions
        {fault_point::close, 1, 0, OUTCOME_DISK_WRITE, leaves::nothing},    // the output
        {fault_point::close, 2, 0, OUTCOME_INPUT_FAILED, leaves::nothing},  // the input
        {fault_point::rename, 1, 0, OUTCOME_OUTPUT_FAILED, leaves::nothing},
        {fault_point::read, 2, 1, OUTCOME_INPUT_FAILED, leaves::nothing},
        {fault_point::write, 2, 1, OUTCOME_DISK_WRITE, leaves::nothing},
        {fault_point::sync, 1, 1, OUTCOME_DISK_WRITE, leaves::nothing},  // the output
        {fault_point::close, 1, 1, OUTCOME_DISK_WRITE, leaves::nothing},
        {fault_point::rename, 1, 1, OUTCOME_OUTPUT_FAILED, leaves::nothing},
        {fault_point::sync, 2, 1, OUTCOME_DISK_WRITE, leaves::complete_output},  // its directory
        {fault_point::unlink, 1, 1, OUTCOME_ENCRYPTED, leaves::complete_output},
    };
    for (const injected_case& c : cases) run_injected(c, false);
}

TEST(TransformFailures, EachStepFailsCleanlyWhileDecrypting) {
    const injected_case cases[] = {
        {fault_point::read, 1, 0, OUTCOME_INPUT_FAILED, leaves::nothing},  // the header
        {fault_point::read, 2, 0, OUTCOME_NOT_FOUND, leaves::nothing},     // the body
        {fault_point::create, 1, 0, OUTCOME_OUTPUT_FAILED, leaves::nothing},
        {fault_point::write, 1, 0, OUTCOME_DISK_WRITE, leaves::nothing},
        {fault_point::write, 2, 0, OUTCOME_DISK_WRITE, leaves::nothing},
        {fault_point::write, 3, 0, OUTCOME_DISK_WRITE, leaves::nothing},
        {fault_point::close, 1, 0, OUTCOME_DISK_WRITE, leaves::nothing},
        {fault_point::close, 2, 0, OUTCOME_NOT_FOUND, leaves::nothing},
        {fault_point::rename, 1, 0, OUTCOME_OUTPUT_FAILED, leaves::nothing},
        {fault_point::read, 2, 1, OUTCOME_NOT_FOUND, leaves::nothing},
        {fault_point::write, 1, 1, OUTCOME_DISK_WRITE, leaves::nothing},
        {fault_point::sync, 1, 1, OUTCOME_DISK_WRITE, leaves::nothing},
        {fault_point::close, 1, 1, OUTCOME_DISK_WRITE, leaves::nothing},
        {fault_point::rename, 1, 1, OUTCOME_OUTPUT_FAILED, leaves::nothing},
        {fault_point::sync, 2, 1, OUTCOME_DISK_WRITE, leaves::complete_output},
        {fault_point::unlink, 1, 1, OUTCOME_DECRYPTED, leaves::complete_output},
    };
    for (const injected_case& c : cases) run_injected(c, true);
}

// Refused for update (as a read-only file is): a container is then taken as
// plain and encrypted once more, and a plain file is read all the same.
TEST(TransformFailures, RefusedUpdateFallsBackToReading) {
    for (bool decrypting : {false, true}) {
        scratch_dir dir;
        const std::string content = decrypting ? expected_container("abc") : "abc";
        write_file(dir.at("x"), content);
        fault_clear();
        fault_arm(fault_point::open, 1, EACCES);
        std::string path = dir.at("x");
        EXPECT_EQ(transform_file(path, "secret", 1), OUTCOME_ENCRYPTED);
        EXPECT_EQ(dir.names(), std::set<std::string>{"x.tvk"});
        EXPECT_EQ(scratch_dir::read(dir.at("x.tvk")), expected_container(content));
    }
}

// The two speed-ups of the file transform and what they must keep.
// Batched deletions under "-d": no input goes before its output is durable
// (one sync for the batch), a failed sync deletes nothing, a name that
// another file took over since is kept, and every way out of the process
// either finishes the batch or leaves the inputs in place. Long bodies go
// through a ring of blocks on two threads: a failure at any read or write
// there still ends cleanly.
namespace {

std::string read_file(const fs::path& path) { return scratch_dir::read(path.string()); }

// A fresh directory with batching on; both undone at the end.
class DeletionBatch : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tovik-batch-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        fault_clear();
        batch_deletions(true);
    }
    void TearDown() override {
        fault_clear();
        finish_deletions();
        batch_deletions(false);
        fs::remove_all(dir);
    }
    // Encrypts or decrypts name under "-d".
    int transform(const std::string& name) {
        std::string path = (dir / name).string();
        return transform_file(path, "secret", 1);
    }
    // The plain bytes of a container, decrypted in a copy (no "-d").
    std::string plain_of(const std::string& container) {
        fs::copy_file(dir / container, dir / "check.tvk", fs::copy_options::overwrite_existing);
        std::string path = (dir / "check.tvk").string();
        EXPECT_EQ(transform_file(path, "secret", 0), OUTCOME_DECRYPTED);
        const std::string plain = read_file(dir / "check");
        fs::remove(dir / "check.tvk");
        fs::remove(dir / "check");
        return plain;
    }
    fs::path dir;
};

TEST_F(DeletionBatch, InputsWaitForOneSyncThenGo) {
    const std::string plain[] = {random_bytes(1, 1), random_bytes(4096, 2), random_bytes(3 * COPY_BLOCK, 3)};
    for (int i = 0; i < 3; ++i) write_file(dir / std::to_string(i), plain[i]);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(transform(std::to_string(i)), OUTCOME_ENCRYPTED);
    EXPECT_EQ(fault_calls(fault_point::sync), 0);
    EXPECT_EQ(fault_calls(fault_point::unlink), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(read_file(dir / std::to_string(i)) == plain[i]) << "input " << i;
    }

    EXPECT_TRUE(finish_deletions());
    EXPECT_EQ(fault_calls(fault_point::sync), 1);  // one sync for the three
    for (int i = 0; i < 3; ++i) {
        const std::string name = std::to_string(i);
        EXPECT_FALSE(fs::exists(dir / name)) << name;
        EXPECT_TRUE(plain_of(name + ".tvk") == plain[i]) << name;
    }
    EXPECT_TRUE(finish_deletions());  // nothing left: no second sync
    EXPECT_EQ(fault_calls(fault_point::sync), 1);
}

TEST_F(DeletionBatch, FullBatchIsSyncedAndDeletedOnItsOwn) {
    for (std::size_t i = 0; i <= DELETION_BATCH; ++i) write_file(dir / std::to_string(i), "x");
    for (std::size_t i = 0; i <= DELETION_BATCH; ++i) {
        ASSERT_EQ(transform(std::to_string(i)), OUTCOME_ENCRYPTED) << i;
    }
    // The full batch was synced on its own (its inputs are being deleted on
    // a second thread); the input after it waits for the next sync.
    EXPECT_EQ(fault_calls(fault_point::sync), 1);
    EXPECT_TRUE(fs::exists(dir / std::to_string(DELETION_BATCH)));
    EXPECT_TRUE(finish_deletions());
    EXPECT_EQ(fault_calls(fault_point::sync), 2);
    for (std::size_t i = 0; i <= DELETION_BATCH; ++i) {
        ASSERT_FALSE(fs::exists(dir / std::to_string(i))) << i;
        ASSERT_TRUE(fs::exists(dir / (std::to_string(i) + ".tvk"))) << i;
    }
}

TEST_F(DeletionBatch, FailedSyncDeletesNothing) {
    write_file(dir / "a", "alpha");
    ASSERT_EQ(transform("a"), OUTCOME_ENCRYPTED);
    fs::rename(dir / "a.tvk", dir / "b.tvk");
    ASSERT_EQ(transform("b.tvk"), OUTCOME_DECRYPTED);
    fault_arm(fault_point::sync, 1, EIO);
    EXPECT_FALSE(finish_deletions());
    EXPECT_EQ(read_file(dir / "a"), "alpha");
    EXPECT_EQ(read_file(dir / "b"), "alpha");
    EXPECT_TRUE(fs::exists(dir / "b.tvk"));
    EXPECT_TRUE(finish_deletions());  // the failed batch is dropped, inputs kept
    EXPECT_TRUE(fs::exists(dir / "a"));
    EXPECT_TRUE(fs::exists(dir / "b.tvk"));
}

// A run over "a" and then its container "a.tvk" writes "a" again: the waiting
// deletion of the first "a" must not take the new one, and the new "a" may
// replace the old one only once "a.tvk" is durable.
TEST_F(DeletionBatch, ANameTakenOverIsKept) {
    const std::string plain = random_bytes(COPY_BLOCK + 5, 4);
    write_file(dir / "a", plain);
    ASSERT_EQ(transform("a"), OUTCOME_ENCRYPTED);
    EXPECT_EQ(fault_calls(fault_point::sync), 0);
    ASSERT_EQ(transform("a.tvk"), OUTCOME_DECRYPTED);
    // The batch ("a" waiting) was synced before "a" was replaced, and the
    // new "a" was synced on its own, as without batching.
    EXPECT_GE(fault_calls(fault_point::sync), 2);
    EXPECT_TRUE(read_file(dir / "a") == plain);
    EXPECT_TRUE(finish_deletions());
    EXPECT_TRUE(read_file(dir / "a") == plain);
    EXPECT_FALSE(fs::exists(dir / "a.tvk"));
}

TEST_F(DeletionBatch, InputReplacedMeanwhileIsKept) {
    write_file(dir / "x", "old");
    ASSERT_EQ(transform("x"), OUTCOME_ENCRYPTED);
    write_file(dir / "new", "new");
    fs::rename(dir / "new", dir / "x");  // another program puts a file there
    EXPECT_TRUE(finish_deletions());
    EXPECT_EQ(read_file(dir / "x"), "new");
    EXPECT_EQ(plain_of("x.tvk"), "old");
}

// A process that ends through exit (every reported failure and the wrong
// key end so) finishes the batch; one that ends without it (a signal) keeps
// the inputs.
TEST_F(DeletionBatch, ExitFinishesAndAbruptEndKeeps) {
    for (bool clean_exit : {true, false}) {
        SCOPED_TRACE(clean_exit ? "exit" : "_exit");
        write_file(dir / "x", "data");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const bool encrypted = transform("x") == OUTCOME_ENCRYPTED && fs::exists(dir / "x");
            if (clean_exit) std::exit(encrypted ? 0 : 3);
            _exit(encrypted ? 0 : 3);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(fs::exists(dir / "x"), !clean_exit);
        EXPECT_EQ(plain_of("x.tvk"), "data");
        fs::remove(dir / "x");
        fs::remove(dir / "x.tvk");
    }
}

// A body of ten blocks passes each of the four slots of the ring more than
// once; every read and write of it is failed in turn.
TEST(LongBody, EachReadAndWriteFailsCleanly) {
    char pattern[] = "/tmp/tovik-ring-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    const std::string plain = random_bytes(9 * COPY_BLOCK + 3, 5);
    const std::string input = (dir / "x").string();
    write_file(input, plain);

    fault_clear();
    std::string path = input;
    ASSERT_EQ(transform_file(path, "secret", 0), OUTCOME_ENCRYPTED);
    const std::string container = read_file(dir / "x.tvk");
    fs::remove(dir / "x.tvk");
    const struct {
        fault_point point;
        int calls;
        int outcome;
    } points[] = {{fault_point::read, fault_calls(fault_point::read), OUTCOME_INPUT_FAILED},
                  {fault_point::write, fault_calls(fault_point::write), OUTCOME_DISK_WRITE}};
    EXPECT_GE(points[0].calls, 11);  // the header, ten blocks and the end
    EXPECT_GE(points[1].calls, 10);

    for (const auto& p : points) {
        for (int nth = 1; nth <= p.calls; ++nth) {
            SCOPED_TRACE(testing::Message() << (p.point == fault_point::read ? "read " : "write ")
                                            << nth);
            fault_clear();
            fault_arm(p.point, nth, EIO);
            path = input;
            EXPECT_EQ(transform_file(path, "secret", 0), p.outcome);
            std::vector<std::string> names;
            for (const auto& entry : fs::directory_iterator(dir)) {
                names.push_back(entry.path().filename().string());
            }
            EXPECT_EQ(names, std::vector<std::string>{"x"});  // no output, no temporary
            EXPECT_TRUE(read_file(input) == plain);
        }
    }
    fault_clear();
    path = input;
    EXPECT_EQ(transform_file(path, "secret", 0), OUTCOME_ENCRYPTED);
    EXPECT_TRUE(read_file(dir / "x.tvk") == container);
    fs::remove_all(dir);
}

}  // namespace

// The Windows file layer where it differs from POSIX: temporaries beside
// their output, replacement, the read-only attribute, full paths.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/files.h"
#include "platform/temp_name.h"
#include "support/system_win32.h"

namespace {

class WindowsFileLayer : public testing::Test {
  protected:
    scratch_dir scratch;
    void SetUp() override { scratch.enter(); }
};

std::string name_part(const std::string& path) {
    return path.substr(path.find_last_of("/\\:") + 1);
}

bool is_read_only(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

TEST_F(WindowsFileLayer, TemporariesAreUniqueAndBesideTheirOutput) {
    std::filesystem::create_directory("out");
    struct form {
        std::string final_path, directory, expected_start;
    };
    const std::string drive = scratch.root.substr(0, 2);
    for (const form& f : {form{"out\\x.bin", "out", "out\\x.bin.tovik-partial-"},
                          form{"out/x.bin", "out", "out/x.bin.tovik-partial-"},
                          form{drive + "x.bin", ".", drive + "x.bin.tovik-partial-"},
                          form{"out\\" + std::string(250, 'n'), "out", "out\\.tovik-partial-"}}) {
        os_file first;
        os_file second;
        std::string first_path;
        std::string second_path;
        ASSERT_TRUE(create_temp_beside(f.final_path, first, first_path)) << f.final_path;
        ASSERT_TRUE(create_temp_beside(f.final_path, second, second_path)) << f.final_path;
        EXPECT_NE(first_path, second_path);
        for (const std::string& path : {first_path, second_path}) {
            EXPECT_EQ(path.rfind(f.expected_start, 0), 0u) << path;
            EXPECT_EQ(path.size(), f.expected_start.size() + 6) << path;
            EXPECT_TRUE(is_temporary_name(name_part(path))) << path;
            EXPECT_TRUE(names_in(f.directory).count(name_part(path))) << path;
        }
        EXPECT_TRUE(close_file(first));
        EXPECT_TRUE(close_file(second));
        EXPECT_TRUE(remove_file(first_path));
        EXPECT_TRUE(remove_file(second_path));
    }
}

// Interrupt cleanup deletes the temporary while it is still open: the
// delete is accepted and the file is gone once the handle closes.
TEST_F(WindowsFileLayer, OpenTemporaryCanBeDeleted) {
    os_file file;
    std::string temp;
    ASSERT_TRUE(create_temp_beside("a.txt", file, temp));
    ASSERT_TRUE(write_all(file, "partial", 7));
    EXPECT_TRUE(DeleteFileA(temp.c_str()));
    EXPECT_TRUE(close_file(file));
    EXPECT_TRUE(names_in(".").empty());
}

namespace {

bool replace(const std::string& from, const std::string& to) {
    return rename_file(from, to, true) == file_result::done;
}

}  // namespace

TEST_F(WindowsFileLayer, ReplaceTakesTheNameOfAnExistingFile) {
    write_file("target.txt", "old");
    write_file("new.txt", "new");
    EXPECT_TRUE(replace("new.txt", "target.txt"));
    EXPECT_EQ(read_file("target.txt"), "new");
    EXPECT_EQ(names_in("."), std::set<std::string>{"target.txt"});
    EXPECT_FALSE(replace("missing.txt", "target.txt"));
    EXPECT_EQ(read_file("target.txt"), "new");
}

// As with the system's own copy and open for writing, a read-only file is
// not overwritten or deleted: both calls fail and leave it as it was.
TEST_F(WindowsFileLayer, ReadOnlyFilesAreNeitherReplacedNorDeletedNorUpdated) {
    write_file("locked.txt", "keep");
    set_attributes("locked.txt", FILE_ATTRIBUTE_READONLY);
    write_file("new.txt", "new");
    EXPECT_FALSE(replace("new.txt", "locked.txt"));
    EXPECT_FALSE(remove_file("locked.txt"));
    os_file file;
    EXPECT_FALSE(open_for_update("locked.txt", file));
    EXPECT_FALSE(file.is_open());
    EXPECT_TRUE(open_for_reading("locked.txt", file));
    EXPECT_EQ(read_file("locked.txt"), "keep");
    EXPECT_EQ(read_file("new.txt"), "new");
}

TEST_F(WindowsFileLayer, OnlyRegularFilesOpen) {
    std::filesystem::create_directory("dir");
    os_file file;
    for (const char* path : {"dir", "NUL", "CON", "missing.txt"}) {
        EXPECT_FALSE(open_for_reading(path, file)) << path;
        EXPECT_FALSE(open_for_update(path, file)) << path;
        EXPECT_FALSE(file.is_open()) << path;
    }
}

TEST_F(WindowsFileLayer, ReadOnlyAttributeIsCarriedToTheOutput) {
    write_file("plain.txt", "p");
    write_file("locked.txt", "l");
    set_attributes("locked.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    for (const std::string input : {"plain.txt", "locked.txt"}) {
        os_file from;
        ASSERT_TRUE(open_for_reading(input, from));
        os_file to;
        std::string temp;
        ASSERT_TRUE(create_temp_beside(input + ".out", to, temp));
        EXPECT_TRUE(write_all(to, "x", 1));
        file_state from_state, to_state;
        EXPECT_TRUE(read_state(from, from_state) && read_state(to, to_state));
        EXPECT_TRUE(copy_attributes(from_state, to, to_state));
        EXPECT_TRUE(close_file(to));
        EXPECT_TRUE(replace(temp, input + ".out"));
        EXPECT_EQ(is_read_only(input + ".out"), input == "locked.txt") << input;
        EXPECT_EQ(read_file(input + ".out"), "x");
    }
}

TEST_F(WindowsFileLayer, ExistenceAndFullPaths) {
    write_file("here.txt", "x");
    std::filesystem::create_directory("dir");
    std::string full;
    ASSERT_TRUE(full_path("here.txt", full));
    EXPECT_EQ(full, scratch.root + "\\here.txt");
    ASSERT_TRUE(full_path("dir/../here.txt", full));
    EXPECT_EQ(full, scratch.root + "\\here.txt");
    // Up to the limit of the ANSI call (MAX_PATH) the path comes whole;
    // beyond it the call may refuse, but never gives a cut path.
    for (std::size_t total : {MAX_PATH - 1, MAX_PATH + 40, 3 * MAX_PATH}) {
        const std::size_t room = total - scratch.root.size() - 1;
        const std::string name = std::string(room - 8, 'n') + "\\abc.txt";
        const bool made = full_path(name, full);
        if (total < MAX_PATH) {
            EXPECT_TRUE(made) << total;
        }
        if (made) {
            EXPECT_EQ(full, scratch.root + "\\" + name) << total;
        }
    }
    EXPECT_FALSE(full_path("", full));
}

}  // namespace

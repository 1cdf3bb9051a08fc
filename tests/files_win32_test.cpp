// The Windows file layer on real files: temporaries beside their output,
// replacement, the read-only attribute, sizes past 4 GiB, full paths, and
// the fault seam at the same points as on POSIX.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "platform/fault.h"
#include "platform/files.h"
#include "platform/temp_file.h"
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

TEST_F(WindowsFileLayer, ReplaceTakesTheNameOfAnExistingFile) {
    write_file("target.txt", "old");
    write_file("new.txt", "new");
    EXPECT_TRUE(replace_file("new.txt", "target.txt"));
    EXPECT_EQ(read_file("target.txt"), "new");
    EXPECT_EQ(names_in("."), std::set<std::string>{"target.txt"});
    EXPECT_FALSE(replace_file("missing.txt", "target.txt"));
    EXPECT_EQ(read_file("target.txt"), "new");
}

// As with the system's own copy and open for writing, a read-only file is
// not overwritten or deleted: both calls fail and leave it as it was.
TEST_F(WindowsFileLayer, ReadOnlyFilesAreNeitherReplacedNorDeletedNorUpdated) {
    write_file("locked.txt", "keep");
    set_attributes("locked.txt", FILE_ATTRIBUTE_READONLY);
    write_file("new.txt", "new");
    EXPECT_FALSE(replace_file("new.txt", "locked.txt"));
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
        EXPECT_EQ(file_size(path), -1) << path;
    }
}

TEST_F(WindowsFileLayer, BytesWrittenAreReadBack) {
    std::string data(200000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 256);
    {
        os_file file;
        std::string temp;
        ASSERT_TRUE(create_temp_beside("data.bin", file, temp));
        ASSERT_TRUE(write_all(file, data.data(), data.size()));
        ASSERT_TRUE(sync_file(file));
        ASSERT_TRUE(close_file(file));
        ASSERT_TRUE(replace_file(temp, "data.bin"));
        ASSERT_TRUE(sync_outputs({"data.bin"}));
    }
    EXPECT_EQ(file_size("data.bin"), static_cast<std::int64_t>(data.size()));
    os_file file;
    ASSERT_TRUE(open_for_reading("data.bin", file));
    std::string back;
    char block[65536];
    std::ptrdiff_t got = 0;
    while ((got = read_some(file, block, sizeof block)) > 0)
        back.append(block, static_cast<std::size_t>(got));
    EXPECT_EQ(got, 0);
    EXPECT_EQ(back, data);
}

TEST_F(WindowsFileLayer, SizesPastFourGibibytes) {
    HANDLE file = CreateFileA("big.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = (5LL << 30) + 3;
    ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
    EXPECT_EQ(file_size("big.bin"), (5LL << 30) + 3);
    write_file("empty.bin", "");
    EXPECT_EQ(file_size("empty.bin"), 0);
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
        EXPECT_TRUE(copy_attributes(from, to));
        EXPECT_TRUE(close_file(to));
        EXPECT_TRUE(replace_file(temp, input + ".out"));
        EXPECT_EQ(is_read_only(input + ".out"), input == "locked.txt") << input;
        EXPECT_EQ(read_file(input + ".out"), "x");
    }
}

TEST_F(WindowsFileLayer, ExistenceAndFullPaths) {
    write_file("here.txt", "x");
    std::filesystem::create_directory("dir");
    EXPECT_TRUE(path_exists("here.txt"));
    EXPECT_TRUE(path_exists("dir"));
    EXPECT_TRUE(path_exists(scratch.root + "\\dir"));
    EXPECT_FALSE(path_exists("missing.txt"));

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

// Each call asks the seam at the same point as on POSIX, once, and a fired
// fault fails the call without touching anything.
TEST_F(WindowsFileLayer, EveryCallAsksTheFaultSeamAtItsPoint) {
    write_file("in.txt", "data");
    os_file input;
    ASSERT_TRUE(open_for_reading("in.txt", input));
    os_file output;
    std::string temp;
    ASSERT_TRUE(create_temp_beside("out.txt", output, temp));
    char byte = 0;
    std::string full;

    struct call {
        const char* name;
        fault_point point;
        std::function<bool()> run;
    };
    const call calls[] = {
        {"open_for_reading", fault_point::open,
         [] {
             os_file f;
             return open_for_reading("in.txt", f);
         }},
        {"open_for_update", fault_point::open,
         [] {
             os_file f;
             return open_for_update("in.txt", f);
         }},
        {"file_size", fault_point::open, [] { return file_size("in.txt") == 4; }},
        {"path_exists", fault_point::open, [] { return path_exists("in.txt"); }},
        {"full_path", fault_point::open, [&] { return full_path("in.txt", full); }},
        {"create_temp_beside", fault_point::create,
         [] {
             os_file f;
             std::string t;
             if (!create_temp_beside("x.txt", f, t)) return false;
             close_file(f);
             return DeleteFileA(t.c_str()) != 0;
         }},
        {"read_some", fault_point::read, [&] { return read_some(input, &byte, 1) == 1; }},
        {"write_all", fault_point::write, [&] { return write_all(output, "y", 1); }},
        {"copy_attributes", fault_point::write, [&] { return copy_attributes(input, output); }},
        {"sync_file", fault_point::sync, [&] { return sync_file(output); }},
        {"sync_outputs", fault_point::sync, [] { return sync_outputs({"in.txt"}); }},
    };
    for (const call& c : calls) {
        fault_clear();
        fault_arm(c.point, 1, 5);
        EXPECT_FALSE(c.run()) << c.name << " ignored its fault";
        EXPECT_EQ(fault_calls(c.point), 1) << c.name;
        EXPECT_TRUE(c.run()) << c.name << " failed without a fault";
        EXPECT_EQ(fault_calls(c.point), 2) << c.name;
    }
    EXPECT_EQ(names_in(".").size(), 2u) << "a faulted create left a file";

    fault_clear();
    fault_arm(fault_point::close, 1, 5);
    EXPECT_FALSE(close_file(output));
    EXPECT_FALSE(output.is_open());
    EXPECT_EQ(fault_calls(fault_point::close), 1);
    // The handle was released all the same: the file can be renamed and
    // then deleted.
    fault_arm(fault_point::rename, 1, 5);
    EXPECT_FALSE(replace_file(temp, "out.txt"));
    EXPECT_TRUE(replace_file(temp, "out.txt"));
    EXPECT_EQ(fault_calls(fault_point::rename), 2);
    fault_arm(fault_point::unlink, 1, 5);
    EXPECT_FALSE(remove_file("out.txt"));
    EXPECT_TRUE(remove_file("out.txt"));
    EXPECT_EQ(fault_calls(fault_point::unlink), 2);
    EXPECT_TRUE(close_file(input));
    EXPECT_EQ(names_in("."), std::set<std::string>{"in.txt"});
}

}  // namespace

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/fault.h"
#include "platform/files.h"
#include "platform/temp_file.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

namespace {

mode_t mode_of(const std::string& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

}  // namespace

TEST(FilesPosix, SpecialFilesAreRefusedWithoutBlocking) {
    scratch_dir dir;
    ASSERT_EQ(::mkfifo(dir.at("fifo").c_str(), 0666), 0);
    fs::create_directory(dir.at("sub"));
    for (const std::string& path : {dir.at("fifo"), dir.at("sub"), std::string("/dev/null")}) {
        os_file file;
        EXPECT_FALSE(open_for_reading(path, file)) << path;
        EXPECT_FALSE(open_for_update(path, file)) << path;
        EXPECT_FALSE(file.is_open());
        EXPECT_EQ(file_size(path), -1) << path;
        EXPECT_TRUE(path_exists(path)) << path;
    }
    EXPECT_FALSE(path_exists(dir.at("missing")));
    EXPECT_EQ(file_size(dir.at("missing")), -1);
    write_file(dir.at("f"), "12345");
    EXPECT_EQ(file_size(dir.at("f")), 5);
}

TEST(FilesPosix, SizesBeyondFourGibibytes) {
    scratch_dir dir;
    const std::int64_t size = (std::int64_t{5} << 30) + 3;
    write_file(dir.at("sparse"), "");
    if (::truncate(dir.at("sparse").c_str(), size) != 0) {
        GTEST_SKIP() << "this file system refuses a sparse file of 5 GiB";
    }
    EXPECT_EQ(file_size(dir.at("sparse")), size);
}

TEST(FilesPosix, TemporariesAreExclusivePrivateAndRecognisable) {
    scratch_dir dir;
    const mode_t old_mask = ::umask(0);
    os_file first, second;
    std::string first_path, second_path;
    ASSERT_TRUE(create_temp_beside(dir.at("out.tvk"), first, first_path));
    ASSERT_TRUE(create_temp_beside(dir.at("out.tvk"), second, second_path));
    ::umask(old_mask);
    EXPECT_NE(first_path, second_path);
    for (const std::string& path : {first_path, second_path}) {
        EXPECT_EQ(path.rfind(dir.at("out.tvk.tovik-partial-"), 0), 0u) << path;
        EXPECT_EQ(path.size(), dir.at("out.tvk").size() + 21) << path;
        EXPECT_TRUE(is_temporary_name(fs::path(path).filename().string())) << path;
        EXPECT_EQ(mode_of(path), 0600u) << path;
    }
    // A name with no room for the mark: the temporary goes by the mark alone.
    os_file third;
    std::string third_path;
    ASSERT_TRUE(create_temp_beside(dir.at(std::string(250, 'n')), third, third_path));
    EXPECT_EQ(third_path.rfind(dir.at(".tovik-partial-"), 0), 0u) << third_path;
    EXPECT_EQ(third_path.size(), dir.at("").size() + 21);
    EXPECT_TRUE(write_all(third, "x", 1));
    EXPECT_TRUE(close_file(third));
}

TEST(FilesPosix, TemporaryNamesAndPatterns) {
    for (const char* name : {"a.tovik-partial-AbC019", ".tovik-partial-zzzzzz",
                             "x.tvk.tovik-partial-000000"}) {
        EXPECT_TRUE(is_temporary_name(name)) << name;
    }
    // A user's own names, among them the shape of older temporaries.
    for (const char* name : {"my.tovik-config", "notes.tovik-ABCDEF", "a.tovik-partial-12345",
                             "a.tovik-partial-12345!", "a.tovik-partial_123456",
                             "a.tovik-partial-1234567", "tovik-partial-123456", "", "a.tvk"}) {
        EXPECT_FALSE(is_temporary_name(name)) << name;
    }
    EXPECT_EQ(temp_name_pattern("d/name", 255, "/"), "d/name.tovik-partial-XXXXXX");
    EXPECT_EQ(temp_name_pattern("name", 25, "/"), "name.tovik-partial-XXXXXX");
    EXPECT_EQ(temp_name_pattern("name", 24, "/"), ".tovik-partial-XXXXXX");
    EXPECT_EQ(temp_name_pattern("d/e/name", 24, "/"), "d/e/.tovik-partial-XXXXXX");
    EXPECT_EQ(temp_name_pattern("C:\\d\\name", 0, "/\\:"), "C:\\d\\.tovik-partial-XXXXXX");
    EXPECT_EQ(temp_name_pattern("C:name", 0, "/\\:"), "C:.tovik-partial-XXXXXX");
    EXPECT_EQ(temp_name_pattern("a\\name", 0, "/"), ".tovik-partial-XXXXXX");
}

TEST(FilesPosix, FullPathJoinsTheWorkingDirectory) {
    std::string result;
    ASSERT_TRUE(full_path("some/file", result));
    EXPECT_EQ(result, fs::current_path().string() + "/some/file");
    ASSERT_TRUE(full_path("/abs/file", result));
    EXPECT_EQ(result, "/abs/file");
    EXPECT_FALSE(full_path("", result));
}

// Every call asks the seam first, fails with the armed error, and then has
// done nothing.
TEST(FilesPosix, EachCallFailsWithTheInjectedError) {
    scratch_dir dir;
    write_file(dir.at("a"), "alpha");
    write_file(dir.at("b"), "beta");
    os_file open_a, temp;
    std::string temp_path;
    ASSERT_TRUE(open_for_update(dir.at("a"), open_a));
    ASSERT_TRUE(create_temp_beside(dir.at("c"), temp, temp_path));
    char buffer[8];
    std::string ignored;
    struct call {
        const char* name;
        fault_point point;
        std::function<bool()> fails;
    };
    const call calls[] = {
        {"open_for_reading", fault_point::open,
         [&] {
             os_file f;
             return !open_for_reading(dir.at("a"), f) && !f.is_open();
         }},
        {"open_for_update", fault_point::open,
         [&] {
             os_file f;
             return !open_for_update(dir.at("a"), f) && !f.is_open();
         }},
        {"file_size", fault_point::open, [&] { return file_size(dir.at("a")) == -1; }},
        {"path_exists", fault_point::open, [&] { return !path_exists(dir.at("a")); }},
        {"full_path", fault_point::open, [&] { return !full_path("x", ignored); }},
        {"create_temp_beside", fault_point::create,
         [&] {
             os_file f;
             std::string p;
             return !create_temp_beside(dir.at("d"), f, p);
         }},
        {"read_some", fault_point::read, [&] { return read_some(open_a, buffer, 8) == -1; }},
        {"write_all", fault_point::write, [&] { return !write_all(temp, "x", 1); }},
        {"copy_attributes", fault_point::write, [&] { return !copy_attributes(open_a, temp); }},
        {"sync_file", fault_point::sync, [&] { return !sync_file(temp); }},
        {"sync_outputs", fault_point::sync, [&] { return !sync_outputs({dir.at("a")}); }},
        {"replace_file", fault_point::rename,
         [&] { return !replace_file(dir.at("a"), dir.at("b")); }},
        {"remove_file", fault_point::unlink, [&] { return !remove_file(dir.at("b")); }},
        {"remove_if_unchanged", fault_point::unlink,
         [&] { return remove_if_unchanged(dir.at("b"), {}, {}) == removal::failed; }},
    };
    for (const call& c : calls) {
        fault_clear();
        fault_arm(c.point, 1, EDQUOT);
        errno = 0;
        EXPECT_TRUE(c.fails()) << c.name;
        EXPECT_EQ(errno, EDQUOT) << c.name;
        EXPECT_EQ(fault_calls(c.point), 1) << c.name;
    }
    fault_clear();
    // Nothing happened: a was read from nowhere, not renamed, b not removed.
    ASSERT_EQ(read_some(open_a, buffer, 8), 5);
    EXPECT_EQ(std::string(buffer, 5), "alpha");
    EXPECT_TRUE(path_exists(dir.at("a")));
    EXPECT_TRUE(path_exists(dir.at("b")));
    EXPECT_EQ(file_size(temp_path), 0);
    EXPECT_EQ(mode_of(temp_path), 0600u);

    // A close that fails still gives the descriptor back.
    fault_arm(fault_point::close, 1, EIO);
    EXPECT_FALSE(close_file(temp));
    EXPECT_EQ(errno, EIO);
    EXPECT_FALSE(temp.is_open());
    EXPECT_TRUE(close_file(open_a));
}

TEST(FilesPosix, WritesReadsAndRenamesForReal) {
    scratch_dir dir;
    os_file out;
    std::string temp_path;
    ASSERT_TRUE(create_temp_beside(dir.at("final"), out, temp_path));
    const std::string data(300000, 'q');
    ASSERT_TRUE(write_all(out, data.data(), data.size()));
    ASSERT_TRUE(sync_file(out));
    ASSERT_TRUE(close_file(out));
    ASSERT_TRUE(replace_file(temp_path, dir.at("final")));
    ASSERT_TRUE(sync_outputs({dir.at("final")}));
    EXPECT_FALSE(path_exists(temp_path));
    EXPECT_EQ(file_size(dir.at("final")), 300000);
    os_file in;
    ASSERT_TRUE(open_for_reading(dir.at("final"), in));
    std::string back;
    char buffer[65536];
    for (std::ptrdiff_t got; (got = read_some(in, buffer, sizeof buffer)) > 0;)
        back.append(buffer, got);
    EXPECT_TRUE(back == data);
    EXPECT_TRUE(close_file(in));
    EXPECT_TRUE(remove_file(dir.at("final")));
    EXPECT_FALSE(path_exists(dir.at("final")));
    EXPECT_FALSE(remove_file(dir.at("final")));
}

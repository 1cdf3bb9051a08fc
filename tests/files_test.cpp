// The file layer on real files, alike on both systems: the fault seam at
// every call, bytes through a temporary and back, sizes past 4 GiB, and the
// shape of a temporary's name.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "support/faults.h"
#include "platform/temp_name.h"
#include "support/scratch.h"

namespace {

// Each call asks the seam at its point, once: armed, it fails with the armed
// error and has done nothing; then the same call works.
TEST(Files, EachCallAsksTheFaultSeamOnceAtItsPoint) {
    scratch_dir dir;
    write_file(dir.at("a"), "alpha");
    write_file(dir.at("b"), "beta");
    os_file input, output;
    std::string temp, full;
    ASSERT_TRUE(open_for_reading(dir.at("a"), input));
    ASSERT_TRUE(create_temp_beside(dir.at("out"), output, temp));
    char byte = 0;
    struct call {
        const char* name;
        fault_point point;
        std::function<bool()> works;
    };
    const call calls[] = {
        {"open_for_reading", fault_point::open,
         [&] {
             os_file f;
             return open_for_reading(dir.at("a"), f) && f.is_open();
         }},
        {"open_for_update", fault_point::open,
         [&] {
             os_file f;
             return open_for_update(dir.at("a"), f) && f.is_open();
         }},
        {"full_path", fault_point::open, [&] { return full_path("x", full); }},
        {"create_temp_beside", fault_point::create,
         [&] {
             os_file f;
             std::string t;
             return create_temp_beside(dir.at("c"), f, t) && close_file(f) &&
                    std::filesystem::remove(t);
         }},
        {"read_some", fault_point::read, [&] { return read_some(input, &byte, 1) == 1; }},
        {"write_all", fault_point::write, [&] { return write_all(output, "y", 1); }},
        {"copy_attributes", fault_point::write,
         [&] {
             file_state from, to;
             return read_state(input, from) && read_state(output, to) &&
                    copy_attributes(from, output, to);
         }},
        {"sync_file", fault_point::sync, [&] { return sync_file(output); }},
        {"sync_outputs", fault_point::sync, [&] { return sync_outputs({dir.at("a")}); }},
        {"rename_file", fault_point::rename,
         [&] { return rename_file(dir.at("b"), dir.at("c"), true) == file_result::done; }},
        {"remove_file", fault_point::unlink, [&] { return remove_file(dir.at("c")); }},
        {"remove_if_unchanged", fault_point::unlink,
         [&] {
             file_state never_read;
             return remove_if_unchanged(dir.at("a"), {}, never_read) == file_result::changed;
         }},
        {"replace_if_unchanged", fault_point::rename,
         [&] { return replace_if_unchanged(dir.at("c"), dir.at("a"), {}) == file_result::changed; }},
    };
    for (const call& c : calls) {
        fault_clear();
        fault_arm(c.point, 1, EIO);
        errno = 0;
        EXPECT_FALSE(c.works()) << c.name << " ignored its fault";
        EXPECT_EQ(errno, EIO) << c.name;
        EXPECT_EQ(fault_calls(c.point), 1) << c.name;
        EXPECT_TRUE(c.works()) << c.name << " failed without a fault";
        EXPECT_EQ(fault_calls(c.point), 2) << c.name;
    }
    // A close that fails still gives the file back.
    fault_arm(fault_point::close, 1, EIO);
    EXPECT_FALSE(close_file(output));
    EXPECT_EQ(errno, EIO);
    EXPECT_FALSE(output.is_open());
    fault_clear();
    // Only the calls that worked did anything.
    char rest[8];
    ASSERT_EQ(read_some(input, rest, sizeof rest), 4);
    EXPECT_EQ(std::string(rest, 4), "lpha");
    EXPECT_TRUE(close_file(input));
    EXPECT_EQ(read_file(temp), "y");
    EXPECT_EQ(dir.names(),
              (std::set<std::string>{"a", std::filesystem::path(temp).filename().string()}));
}

// A name that is taken is left alone unless replacing is asked for.
TEST(Files, ATakenNameIsReplacedOnlyWhenAsked) {
    scratch_dir dir;
    write_file(dir.at("new"), "new");
    write_file(dir.at("old"), "old");
    EXPECT_EQ(rename_file(dir.at("new"), dir.at("old"), false), file_result::taken);
    EXPECT_EQ(read_file(dir.at("old")), "old");
    EXPECT_EQ(rename_file(dir.at("new"), dir.at("old"), true), file_result::done);
    EXPECT_EQ(read_file(dir.at("old")), "new");
    EXPECT_EQ(dir.names(), std::set<std::string>{"old"});
}

TEST(Files, BytesGoThroughATemporaryAndBack) {
    scratch_dir dir;
    std::string data(300000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 256);
    os_file out;
    std::string temp;
    ASSERT_TRUE(create_temp_beside(dir.at("final"), out, temp));
    ASSERT_TRUE(write_all(out, data.data(), data.size()));
    ASSERT_TRUE(sync_file(out));
    ASSERT_TRUE(close_file(out));
    ASSERT_EQ(rename_file(temp, dir.at("final"), false), file_result::done);  // a free name
    ASSERT_TRUE(sync_outputs({dir.at("final")}));
    EXPECT_EQ(dir.names(), std::set<std::string>{"final"});
    EXPECT_EQ(std::filesystem::file_size(dir.at("final")), 300000u);
    os_file in;
    ASSERT_TRUE(open_for_reading(dir.at("final"), in));
    std::string back;
    char block[65536];
    std::ptrdiff_t got = 0;
    while ((got = read_some(in, block, sizeof block)) > 0) back.append(block, got);
    EXPECT_EQ(got, 0);
    EXPECT_TRUE(back == data);
    EXPECT_TRUE(close_file(in));
    EXPECT_TRUE(remove_file(dir.at("final")));
    EXPECT_FALSE(std::filesystem::exists(dir.at("final")));
    EXPECT_FALSE(remove_file(dir.at("final")));
}

TEST(Files, SizesBeyondFourGibibytes) {
    scratch_dir dir;
    const std::int64_t size = (std::int64_t{5} << 30) + 3;
    write_file(dir.at("sparse"), "");
    std::error_code error;
    std::filesystem::resize_file(dir.at("sparse"), size, error);
    if (error) GTEST_SKIP() << "no sparse file of 5 GiB here: " << error.message();
    // The state the transform reads of an open file (two size words joined
    // on Windows).
    os_file open;
    file_state state;
    ASSERT_TRUE(open_for_reading(dir.at("sparse"), open));
    ASSERT_TRUE(read_state(open, state));
    EXPECT_EQ(state.size, size);
}

TEST(Files, TemporaryNamesAndPatterns) {
    for (const char* name :
         {"a.tovik-partial-AbC019", ".tovik-partial-zzzzzz", "x.tvk.tovik-partial-000000"}) {
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

}  // namespace

// The POSIX file layer where it differs from Windows: special files are
// refused without blocking, temporaries are private, full paths.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/temp_name.h"
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
    }
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

TEST(FilesPosix, FullPathJoinsTheWorkingDirectory) {
    std::string result;
    ASSERT_TRUE(full_path("some/file", result));
    EXPECT_EQ(result, fs::current_path().string() + "/some/file");
    ASSERT_TRUE(full_path("/abs/file", result));
    EXPECT_EQ(result, "/abs/file");
    EXPECT_FALSE(full_path("", result));
}

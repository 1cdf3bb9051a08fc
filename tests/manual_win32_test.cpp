// The search for tovik.man along PATH with the Windows conventions: ';'
// between elements, double quotes, a backslash added unless the element ends
// in '/', '\\' or a drive colon, and variable names in any letter case.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "front/manual.h"
#include "platform/environment.h"
#include "support/system_win32.h"

namespace {

constexpr char NAME[] = "tovik.man";

class WindowsPathSearch : public testing::Test {
  protected:
    scratch_dir scratch;
    std::string saved_path;
    bool had_path = false;

    void SetUp() override {
        scratch.enter();
        had_path = environment_value("PATH", saved_path);
        write_file("first\\tovik.man", "1");
        write_file("second\\tovik.man", "2");
        write_file("a;b\\tovik.man", "3");
    }
    void TearDown() override {
        SetEnvironmentVariableA("PATH", had_path ? saved_path.c_str() : nullptr);
    }

    std::string search(const char* path_value, const char* variable = "PATH") {
        SetEnvironmentVariableA("PATH", path_value);
        std::string found = "unchanged";
        find_on_path(NAME, variable, found);
        return found;
    }
};

TEST_F(WindowsPathSearch, ElementsAreSplitAtRunsOfSemicolons) {
    EXPECT_EQ(search(";;nowhere;;;second;first;"), "second\\tovik.man");
    EXPECT_EQ(search("first;second"), "first\\tovik.man");
    EXPECT_EQ(search(";;;"), "");
    EXPECT_EQ(search(""), "");
    EXPECT_EQ(search(nullptr), "");  // no such variable
}

TEST_F(WindowsPathSearch, QuotesGroupCharactersSemicolonsIncluded) {
    EXPECT_EQ(search("nowhere;\"a;b\";first"), "a;b\\tovik.man");
    EXPECT_EQ(search("\"a;\"b;first"), "a;b\\tovik.man");  // quotes around a part
    EXPECT_EQ(search("\"fir\"st"), "first\\tovik.man");
    // An element of nothing but empty quotes ends the search.
    EXPECT_EQ(search("\"\";first"), "");
}

TEST_F(WindowsPathSearch, SeparatorIsAddedOnlyWhenTheElementLacksOne) {
    EXPECT_EQ(search("first\\"), "first\\tovik.man");
    EXPECT_EQ(search("first/"), "first/tovik.man");
    EXPECT_EQ(search(scratch.root.c_str()), "");  // the manual is not at the top
    const std::string absolute = scratch.root + "\\second";
    EXPECT_EQ(search(absolute.c_str()), absolute + "\\tovik.man");
    EXPECT_EQ(join_path("C:", NAME), "C:tovik.man");
    EXPECT_EQ(join_path("C:\\", NAME), "C:\\tovik.man");
    EXPECT_EQ(join_path("dir", NAME), "dir\\tovik.man");
}

// The Unix name of a Windows path, from wine's own export; empty elsewhere.
std::string unix_name(const std::string& path) {
    using convert = char* (*)(const WCHAR*);
    auto to_unix = reinterpret_cast<convert>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    WCHAR wide[4 * MAX_PATH];
    if (to_unix == nullptr ||
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, 4 * MAX_PATH) == 0) {
        return {};
    }
    char* name = to_unix(wide);
    if (name == nullptr) return {};
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// "X:" alone means the current directory of drive X, so the candidate is
// "X:tovik.man". The test needs a drive other than the current one whose
// current directory holds the manual: under wine, Z: (the Unix root) with
// its current directory set the way cmd.exe sets it, through the variable
// "=Z:"; on Windows, a drive letter mapped to the directory.
TEST_F(WindowsPathSearch, ElementOfADriveAloneJoinsWithoutSeparator) {
    const std::string target = scratch.root + "\\second";
    std::string drive;
    if (running_under_wine()) {
        std::string unix_path = unix_name(target);
        ASSERT_FALSE(unix_path.empty());
        for (char& c : unix_path) c = c == '/' ? '\\' : c;
        drive = "Z:";
        ASSERT_TRUE(SetEnvironmentVariableA("=Z:", (drive + unix_path).c_str()));
    } else {
        for (char letter = 'M'; letter <= 'Y' && drive.empty(); ++letter) {
            const char root[] = {letter, ':', '\\', '\0'};
            if (GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR) drive = std::string(root, 2);
        }
        ASSERT_FALSE(drive.empty()) << "no free drive letter";
        ASSERT_TRUE(DefineDosDeviceA(0, drive.c_str(), target.c_str()));
    }
    const std::string value = "nowhere;" + drive;
    EXPECT_EQ(search(value.c_str()), drive + "tovik.man");
    if (running_under_wine()) {
        SetEnvironmentVariableA("=Z:", nullptr);
    } else {
        DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, drive.c_str(),
                         target.c_str());
    }
}

TEST_F(WindowsPathSearch, VariableNameMatchesInAnyCase) {
    SetEnvironmentVariableA("PATH", "first");
    std::string value;
    ASSERT_TRUE(environment_value("pAtH", value));
    EXPECT_EQ(value, "first");
    std::string found;
    find_on_path(NAME, "Path", found);
    EXPECT_EQ(found, "first\\tovik.man");

    SetEnvironmentVariableA("TOVIK_EMPTY_TEST", "");
    EXPECT_TRUE(environment_value("tovik_empty_test", value));
    EXPECT_EQ(value, "");
    SetEnvironmentVariableA("TOVIK_EMPTY_TEST", nullptr);
    EXPECT_FALSE(environment_value("TOVIK_EMPTY_TEST", value));
    const std::string long_value(5000, 'v');
    SetEnvironmentVariableA("TOVIK_LONG_TEST", long_value.c_str());
    EXPECT_TRUE(environment_value("TOVIK_LONG_TEST", value));
    EXPECT_EQ(value, long_value);
    SetEnvironmentVariableA("TOVIK_LONG_TEST", nullptr);
}

TEST_F(WindowsPathSearch, CurrentDirectoryComesFirstAsAFullPath) {
    write_file("tovik.man", "here");
    EXPECT_EQ(search("first"), scratch.root + "\\tovik.man");
    DeleteFileA("tovik.man");
    std::filesystem::create_directory("tovik.man");  // a directory of that name is passed over
    EXPECT_EQ(search("first"), "first\\tovik.man");
}

}  // namespace

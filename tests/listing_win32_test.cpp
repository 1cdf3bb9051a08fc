// Windows enumeration and collection over real files: the attribute word as
// the system reports it, the drive and directory split of patterns, and the
// paths collection builds from them.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "collect/targets.h"
#include "platform/listing.h"
#include "support/system_win32.h"

namespace {

using path_set = std::set<std::string>;

path_set collect(const std::string& pattern, int* result = nullptr) {
    target_list list;
    std::vector<std::string> notes;
    const int started = collect_targets(&list, pattern, notes) ? 0 : -1;
    if (result != nullptr) *result = started;
    path_set paths;
    for (std::size_t i = 0; i < list.size(); ++i)
        paths.emplace(list.path(i));
    free_targets(&list);
    return paths;
}

// Every entry the listing reports for pattern, with its word.
std::map<std::string, std::uint32_t> list_words(const std::string& pattern) {
    std::map<std::string, std::uint32_t> words;
    directory_entry entry;
    listing* open = listing_start(pattern, entry);
    if (open == nullptr) return words;
    do {
        words[entry.name] = entry.attributes;
    } while (listing_next(open, entry));
    listing_end(open);
    return words;
}

bool code_page_is_double_byte() {
    return IsDBCSLeadByte(0x95) != 0;
}

TEST(PathSplit, DrivePartIsTwoCharactersWhenTheSecondIsAColon) {
    EXPECT_EQ(pattern_prefix("C:*.txt"), "C:");
    EXPECT_EQ(pattern_prefix("c:"), "c:");
    EXPECT_EQ(pattern_prefix("C:\\docs\\*.txt"), "C:\\docs\\");
    EXPECT_EQ(pattern_prefix("C:docs\\a.txt"), "C:docs\\");
    EXPECT_EQ(pattern_prefix("ab:c"), "");  // a colon elsewhere is part of the name
    EXPECT_EQ(pattern_prefix("*.*"), "");
    EXPECT_EQ(pattern_prefix(""), "");
}

TEST(PathSplit, DirectoryPartEndsAtTheLastSlashOrBackslash) {
    EXPECT_EQ(pattern_prefix("docs/sub\\a.txt"), "docs/sub\\");
    EXPECT_EQ(pattern_prefix("docs\\sub/*.t*"), "docs\\sub/");
    EXPECT_EQ(pattern_prefix("docs/"), "docs/");
    EXPECT_EQ(pattern_prefix("\\a.txt"), "\\");
    EXPECT_EQ(pattern_prefix("\\\\server\\share\\*.*"), "\\\\server\\share\\");
    const std::string deep = std::string(300, 'd') + "\\" + std::string(300, 'e') + "\\x";
    EXPECT_EQ(pattern_prefix(deep), deep.substr(0, deep.size() - 1));  // no cut at 255
}

TEST(PathSplit, DescentJoinsWithOneBackslashAndMatchesEverything) {
    EXPECT_EQ(descent_pattern("docs"), "docs\\*.*");
    EXPECT_EQ(descent_pattern("C:docs/sub"), "C:docs/sub\\*.*");
}

TEST(PathSplit, TrailingSeparatorsAreTrimmedButRootsStay) {
    EXPECT_EQ(trim_trailing_separators("docs\\"), "docs");
    EXPECT_EQ(trim_trailing_separators("docs/\\/"), "docs");
    EXPECT_EQ(trim_trailing_separators("C:\\docs\\"), "C:\\docs");
    EXPECT_EQ(trim_trailing_separators("C:docs\\"), "C:docs");
    EXPECT_EQ(trim_trailing_separators("C:\\"), "C:\\");
    EXPECT_EQ(trim_trailing_separators("C:\\\\"), "C:\\");
    EXPECT_EQ(trim_trailing_separators("C:"), "C:");
    EXPECT_EQ(trim_trailing_separators("\\"), "\\");
    EXPECT_EQ(trim_trailing_separators("//"), "//");
    EXPECT_EQ(trim_trailing_separators("*.*"), "*.*");
    EXPECT_EQ(trim_trailing_separators(""), "");
}

// 0x95 0x5C is one character in code page 932 (Shift-JIS) and two, the
// second a backslash, in single-byte code pages. scripts/windows-test.sh runs
// this test under both.
TEST(PathSplit, SecondByteOfADoubleByteCharacterIsNoSeparator) {
    const std::string table = "\x95\x5C";  // one Japanese character in 932
    if (code_page_is_double_byte()) {
        EXPECT_EQ(pattern_prefix(table + "*.txt"), "");
        EXPECT_EQ(pattern_prefix("dir\\" + table), "dir\\");
        EXPECT_EQ(pattern_prefix(table + "\\*.*"), table + "\\");
        EXPECT_EQ(pattern_prefix("C:" + table + "x"), "C:");
        EXPECT_EQ(trim_trailing_separators("docs\\" + table), "docs\\" + table);
        EXPECT_EQ(trim_trailing_separators(table + "\\"), table);

        scratch_dir scratch;
        scratch.enter();
        ASSERT_TRUE(CreateDirectoryA(table.c_str(), nullptr));  // the name in the ANSI code page
        write_file(table + "\\a.txt", "a");
        EXPECT_EQ(collect(table), path_set{table + "\\a.txt"});
    } else {
        EXPECT_EQ(pattern_prefix(table + "*.txt"), table);
        EXPECT_EQ(pattern_prefix("dir\\" + table), "dir\\" + table);
        EXPECT_EQ(trim_trailing_separators("docs\\" + table), "docs\\\x95");
    }
}

class WindowsFiles : public testing::Test {
  protected:
    scratch_dir scratch;
    const bool wine = running_under_wine();
    void SetUp() override { scratch.enter(); }
};

// The listing passes the attribute word through, and collection follows it.
// Wine always adds the archive bit to files, so the words that Windows
// reports as exactly read-only or hidden arrive with 0x20 and are collected
// there; Windows reports them bare and collection leaves them out.
TEST_F(WindowsFiles, ListingAndCollectionFollowTheAttributeWords) {
    constexpr DWORD READ_ONLY = FILE_ATTRIBUTE_READONLY, ARCHIVE = FILE_ATTRIBUTE_ARCHIVE,
                    HIDDEN = FILE_ATTRIBUTE_HIDDEN, DIRECTORY = FILE_ATTRIBUTE_DIRECTORY;
    const std::pair<const char*, DWORD> files[] = {
        {"archive.txt", ARCHIVE},      {"normal.txt", FILE_ATTRIBUTE_NORMAL},
        {"readonly.txt", READ_ONLY},   {"readonly-archive.txt", READ_ONLY | ARCHIVE},
        {"hidden.txt", HIDDEN},        {"docs\\b.txt", ARCHIVE},
        {"docs\\old\\c.txt", ARCHIVE}, {"secret\\s.txt", ARCHIVE}};
    for (const auto& [name, attributes] : files) {
        write_file(name, "x");
        set_attributes(name, attributes);
    }
    set_attributes("secret", HIDDEN);  // collected as a path, never entered
    std::filesystem::create_directory("plain");

    const std::uint32_t file_bits = wine ? ARCHIVE : 0;  // 0x80 alone reads as 0
    EXPECT_EQ(list_words("*"),
              (std::map<std::string, std::uint32_t>{{".", DIRECTORY},
                                                    {"..", DIRECTORY},
                                                    {"archive.txt", ARCHIVE},
                                                    {"normal.txt", file_bits},
                                                    {"readonly.txt", READ_ONLY | file_bits},
                                                    {"readonly-archive.txt", READ_ONLY | ARCHIVE},
                                                    {"hidden.txt", HIDDEN | file_bits},
                                                    {"docs", DIRECTORY},
                                                    {"secret", DIRECTORY | HIDDEN},
                                                    {"plain", DIRECTORY}}));
    path_set expected = {"archive.txt", "normal.txt",       "readonly-archive.txt",
                         "docs\\b.txt", "docs\\old\\c.txt", "secret"};
    if (wine) expected.insert({"readonly.txt", "hidden.txt"});  // 0x21 and 0x22 there
    int result = -1;
    EXPECT_EQ(collect("*.*", &result), expected);
    EXPECT_EQ(result, 0);
}

TEST_F(WindowsFiles, PrefixesComeFromThePatternAndDescentAddsBackslashes) {
    write_file("top\\a.txt", "x");
    write_file("top\\a.dat", "x");
    write_file("top\\in.txt\\deep\\z.bin", "x");  // in a directory matching the wildcard

    EXPECT_EQ(collect("top/*.txt"), (path_set{"top/a.txt", "top/in.txt\\deep\\z.bin"}));
    EXPECT_EQ(collect("top\\"), (path_set{"top\\a.txt", "top\\a.dat", "top\\in.txt\\deep\\z.bin"}));
    EXPECT_EQ(collect("top/in.txt/"), path_set{"top/in.txt\\deep\\z.bin"});
    EXPECT_EQ(collect("TOP\\A.TXT"), path_set{"TOP\\a.txt"});  // the name as stored

    // The drive part alone: the paths are the drive and the name, nothing
    // between (the scratch directory is the current one on its drive).
    const std::string drive = scratch.root.substr(0, 2);
    ASSERT_EQ(drive[1], ':');
    SetCurrentDirectoryA("top");
    EXPECT_EQ(collect(drive + "*.txt"), (path_set{drive + "a.txt", drive + "in.txt\\deep\\z.bin"}));
    SetCurrentDirectoryA("..");

    const std::string absolute = scratch.root + "\\top\\*.dat";
    EXPECT_EQ(collect(absolute), path_set{scratch.root + "\\top\\a.dat"});
}

TEST_F(WindowsFiles, PatternsThatYieldNothing) {
    std::filesystem::create_directory("empty");
    int result = 0;
    EXPECT_TRUE(collect("missing.txt", &result).empty());
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(collect("nodir\\*.*", &result).empty());
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(collect("empty", &result).empty());
    EXPECT_EQ(result, 0);
    // "." names the current directory, but its entry is never entered.
    write_file("a.txt", "x");
    EXPECT_TRUE(collect(".", &result).empty());
}

// The system matches wildcards against the 8.3 short names too. Wine always
// makes them, so "*.txt" also takes "e.txtx" (short name E~1.TXT); Windows
// does so where the volume keeps short names.
TEST_F(WindowsFiles, WildcardsAlsoMatchShortNames) {
    write_file("a.txt", "x");
    write_file("e.txtx", "x");
    write_file("f.tx", "x");
    const path_set found = collect("*.txt");
    EXPECT_TRUE(found.count("a.txt"));
    EXPECT_FALSE(found.count("f.tx"));
    if (wine) {
        EXPECT_TRUE(found.count("e.txtx"));
    }
}

}  // namespace

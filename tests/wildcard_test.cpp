#include "platform/wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct match_case {
    const char* pattern;
    std::string name;
    bool matches;
};

void expect_cases(std::initializer_list<match_case> cases) {
    for (const match_case& c : cases) {
        EXPECT_EQ(wildcard_match(c.pattern, c.name), c.matches)
            << "pattern \"" << c.pattern << "\" name \"" << c.name << "\"";
    }
}

TEST(Wildcard, StarMatchesEveryName) {
    expect_cases({{"*", "", true},
                  {"*", "a", true},
                  {"*", ".profile", true},
                  {"*", ".", true},
                  {"*", "a.b.c", true},
                  {"**", "abc", true}});
}

TEST(Wildcard, StarDotStarMatchesNamesWithAndWithoutDot) {
    expect_cases({{"*.*", "readme", true},
                  {"*.*", "a.txt", true},
                  {"*.*", ".profile", true},
                  {"*.*", "archive.tar.gz", true},
                  {"*.*", "..", true},
                  {"a.*", "a", true},
                  {"a.*", "a.", true},
                  {"a.*", "a.b", true},
                  {"a.*", "ab", false},
                  {"a.*", "b.a", false}});
}

TEST(Wildcard, ExtensionPatterns) {
    expect_cases({{"*.t*", "a.txt", true},
                  {"*.t*", "a.tvk", true},
                  {"*.t*", "a.t", true},
                  {"*.t*", "a.b.txt", true},
                  {"*.t*", "a.doc", false},
                  {"*.t*", "at", false},
                  {"*.t*", "readme", false},
                  {"*.exe", "tool.exe", true},
                  {"*.exe", ".exe", true},
                  {"*.exe", "tool.exe.txt", false},
                  {"*.exe", "exe", false},
                  {"*.exe", "toolexe", false}});
}

TEST(Wildcard, CaseMatters) {
    expect_cases({{"*.exe", "TOOL.EXE", false},
                  {"*.exe", "tool.Exe", false},
                  {"Makefile", "makefile", false},
                  {"Makefile", "Makefile", true}});
}

TEST(Wildcard, QuestionMarkTakesExactlyOneByte) {
    expect_cases({{"?", "a", true},
                  {"?", "", false},
                  {"?", "ab", false},
                  {"a?c", "abc", true},
                  {"a?c", "ac", false},
                  {"a?c", "abbc", false},
                  {"??", "..", true},
                  {"?.txt", "\xE9.txt", true},
                  {"*?", "", false},
                  {"*?", "x", true}});
}

TEST(Wildcard, StarBacktracksAcrossRepeats) {
    expect_cases({{"*a*b", "xaybzb", true},
                  {"*a*b", "xaybz", false},
                  {"a*a", "a", false},
                  {"a*a", "aa", true},
                  {"*ab", "aab", true},
                  {"*.txt", "a.txt.txt", true}});
    // Exponential backtracking would never finish this one.
    EXPECT_FALSE(wildcard_match("*a*a*a*a*a*a*a*a*a*a*b", std::string(4000, 'a')));
}

TEST(Wildcard, OtherBytesAreLiteral) {
    expect_cases({{"[abc]", "a", false},
                  {"[abc]", "[abc]", true},
                  {"100%*", "100%s", true},
                  {"*\n*", "line\nbreak", true},
                  {"-d", "-d", true},
                  {"a\\*", "a\\b", true},
                  {"abc", "abd", false},
                  {"abc", "ab", false},
                  {"", "", true},
                  {"", "a", false}});
}

TEST(Wildcard, HasWildcard) {
    EXPECT_TRUE(has_wildcard("*"));
    EXPECT_TRUE(has_wildcard("a?"));
    EXPECT_TRUE(has_wildcard("*.t*"));
    EXPECT_FALSE(has_wildcard("docs"));
    EXPECT_FALSE(has_wildcard("[a].txt"));
    EXPECT_FALSE(has_wildcard(""));
}

}  // namespace

// Finding and printing the manual: the search order along PATH, and the
// printed text compared byte for byte.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "front/manual.h"

namespace {

std::vector<std::string> split(const std::string& value, char separator, bool quotes) {
    std::vector<std::string> elements;
    std::size_t pos = 0;
    std::string element;
    while (next_path_element(value, pos, separator, quotes, element)) elements.push_back(element);
    return elements;
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

// Each test runs in a fresh directory of its own, with PATH under its control.
class ManualSearch : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tovik-manual-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        ASSERT_EQ(getcwd(old_cwd, sizeof old_cwd), old_cwd);
        ASSERT_EQ(chdir(root.c_str()), 0);
        const char* path = std::getenv("PATH");
        saved_path = path ? path : "";
        had_path = path != nullptr;
    }
    void TearDown() override {
        if (had_path) setenv("PATH", saved_path.c_str(), 1);
        ASSERT_EQ(chdir(old_cwd), 0);
        std::system(("rm -rf '" + root + "'").c_str());
    }
    std::string dir(const std::string& name) {
        std::string path = root + "/" + name;
        mkdir(path.c_str(), 0755);
        return path;
    }
    std::string found() {
        std::string result = "unset";
        find_on_path("tovik.man", "PATH", result);
        return result;
    }
    // Runs show_manual with standard output sent to a file; returns what it printed.
    std::string shown(int* result) {
        std::fflush(stdout);
        int saved = dup(1);
        int capture = open((root + "/.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(capture, 1);
        *result = show_manual();
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        close(capture);
        std::ifstream in(root + "/.out", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string root;
    char old_cwd[4096];
    std::string saved_path;
    bool had_path = false;
};

}  // namespace

TEST(PathElements, RunsOfSeparatorsMakeNoEmptyElements) {
    EXPECT_EQ(split("::/usr/bin:::/bin:", ':', false),
              (std::vector<std::string>{"/usr/bin", "/bin"}));
    EXPECT_EQ(split(";;C:\\a;;;D:\\b;", ';', true), (std::vector<std::string>{"C:\\a", "D:\\b"}));
    EXPECT_TRUE(split("", ':', false).empty());
    EXPECT_TRUE(split(":::", ':', false).empty());
}

TEST(PathElements, QuotesGroupSeparatorsWhereThePlatformQuotes) {
    EXPECT_EQ(split("\"C:\\a;b\";D:\\c", ';', true), (std::vector<std::string>{"C:\\a;b", "D:\\c"}));
    EXPECT_EQ(split("C:\\\"pro\"gram;x", ';', true),
              (std::vector<std::string>{"C:\\program", "x"}));
    // An empty quoted run is the one way to an empty element.
    EXPECT_EQ(split("\"\";C:\\a", ';', true), (std::vector<std::string>{"", "C:\\a"}));
    // Without quoting, a quote is an ordinary character of a directory name.
    EXPECT_EQ(split("/a\"b:/c", ':', false), (std::vector<std::string>{"/a\"b", "/c"}));
}

TEST_F(ManualSearch, CurrentDirectoryWinsWithItsFullPath) {
    write_file("tovik.man", "here\n");
    std::string listed = dir("listed");
    write_file(listed + "/tovik.man", "listed\n");
    setenv("PATH", listed.c_str(), 1);
    EXPECT_EQ(found(), root + "/tovik.man");
}

TEST_F(ManualSearch, FirstListedDirectoryHoldingTheFileWins) {
    std::string a = dir("a"), b = dir("b"), empty = dir("empty");
    write_file(a + "/tovik.man", "a\n");
    write_file(b + "/tovik.man", "b\n");
    setenv("PATH", (empty + ":" + a + ":" + b).c_str(), 1);
    EXPECT_EQ(found(), a + "/tovik.man");
    setenv("PATH", (b + "/:" + a).c_str(), 1);  // no second '/' after a trailing one
    EXPECT_EQ(found(), b + "/tovik.man");
}

TEST_F(ManualSearch, RelativeElementIsTakenFromTheCurrentDirectory) {
    dir("sub");
    write_file("sub/tovik.man", "x\n");
    setenv("PATH", "/nonexistent:sub", 1);
    EXPECT_EQ(found(), "sub/tovik.man");
}

TEST_F(ManualSearch, NotFoundGivesEmptyAndMinusOne) {
    setenv("PATH", "", 1);
    EXPECT_EQ(found(), "");
    unsetenv("PATH");
    EXPECT_EQ(found(), "");
    int result = 0;
    EXPECT_EQ(shown(&result), "");
    EXPECT_EQ(result, -1);
}

TEST_F(ManualSearch, DirectoryNamedLikeTheManualEndsTheSearch) {
    dir("tovik.man");
    std::string listed = dir("listed");
    write_file(listed + "/tovik.man", "listed\n");
    setenv("PATH", listed.c_str(), 1);
    EXPECT_EQ(found(), root + "/tovik.man");
    int result = 0;
    EXPECT_EQ(shown(&result), "");
    EXPECT_EQ(result, -1);
}

TEST_F(ManualSearch, TextIsPrintedExactly) {
    std::string long_line(250, 'x');
    std::string text = "100% sure %s %n\n" + long_line + "\n\nlast line without end";
    write_file("tovik.man", text);
    int result = -1;
    EXPECT_EQ(shown(&result), text);
    EXPECT_EQ(result, 0);
}

TEST_F(ManualSearch, EmptyManualPrintsNothingAndSucceeds) {
    write_file("tovik.man", "");
    int result = -1;
    EXPECT_EQ(shown(&result), "");
    EXPECT_EQ(result, 0);
}

TEST_F(ManualSearch, FifoNamedLikeTheManualIsNotOpened) {
    ASSERT_EQ(mkfifo("tovik.man", 0600), 0);
    int result = 0;
    EXPECT_EQ(shown(&result), "");  // would block forever if opened
    EXPECT_EQ(result, -1);
}

// Finding and printing the manual: the search order along PATH, and the
// printed text compared byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "front/manual.h"
#include "support/scratch.h"

namespace {

std::vector<std::string> split(const std::string& value, char separator, bool quotes) {
    std::vector<std::string> elements;
    std::size_t pos = 0;
    std::string element;
    while (next_path_element(value, pos, separator, quotes, element)) elements.push_back(element);
    return elements;
}

// Each test runs in a fresh directory of its own, with PATH under its control.
class ManualSearch : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch.enter();
        root = scratch.root;
        const char* path = std::getenv("PATH");
        saved_path = path ? path : "";
        had_path = path != nullptr;
    }
    void TearDown() override {
        if (had_path) setenv("PATH", saved_path.c_str(), 1);
    }
    std::string dir(const std::string& name) {
        std::filesystem::create_directory(name);
        return root + "/" + name;
    }
    std::string found() {
        std::string result = "unset";
        find_on_path("tovik.man", "PATH", result);
        return result;
    }
    // Runs show_manual with standard output sent to a file; returns what it printed.
    std::string shown(int* result) {
        std::fflush(stdout);
        const int saved = dup(1);
        const int capture = open(".out", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(capture, 1);
        *result = show_manual();
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        close(capture);
        return read_file(".out");
    }
    scratch_dir scratch;
    std::string root;
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
    EXPECT_EQ(split("\"C:\\a;b\";D:\\c", ';', true),
              (std::vector<std::string>{"C:\\a;b", "D:\\c"}));
    EXPECT_EQ(split("C:\\\"pro\"gram;x", ';', true),
              (std::vector<std::string>{"C:\\program", "x"}));
    // An empty quoted run is the one way to an empty element.
    EXPECT_EQ(split("\"\";C:\\a", ';', true), (std::vector<std::string>{"", "C:\\a"}));
    // Without quoting, a quote is an ordinary character of a directory name.
    EXPECT_EQ(split("/a\"b:/c", ':', false), (std::vector<std::string>{"/a\"b", "/c"}));
}

// The current directory first (as a full path), then each element of PATH
// in turn, a relative one from the current directory; the first that holds
// the file wins; a directory of its name is passed over.
TEST_F(ManualSearch, SearchOrder) {
    for (const char* name : {"a", "b", "listed", "sub"}) write_file(dir(name) + "/tovik.man", name);
    const std::string a = root + "/a", b = root + "/b", empty = dir("empty");
    struct search_case {
        const char* here;                 // what tovik.man in the current directory is
        std::optional<std::string> path;  // none: no PATH at all
        std::string found;
    };
    const search_case cases[] = {
        {"nothing", empty + ":" + a + ":" + b, a + "/tovik.man"},
        {"nothing", b + "/:" + a, b + "/tovik.man"},  // no second '/' after one
        {"nothing", "/nonexistent:sub", "sub/tovik.man"},
        {"nothing", "", ""},
        {"nothing", std::nullopt, ""},
        {"a file", "listed", root + "/tovik.man"},
        {"a directory", "listed", "listed/tovik.man"},
    };
    for (const search_case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.here << ", PATH " << c.path.value_or("unset"));
        std::filesystem::remove_all("tovik.man");
        if (c.here == std::string("a file")) write_file("tovik.man", "here");
        if (c.here == std::string("a directory")) dir("tovik.man");
        if (c.path) {
            setenv("PATH", c.path->c_str(), 1);
        } else {
            unsetenv("PATH");
        }
        EXPECT_EQ(found(), c.found);
    }
}

// Only a regular file found is printed, byte for byte; anything else
// prints nothing and fails (a FIFO is never opened: that would block).
TEST_F(ManualSearch, PrintedExactlyWhenItIsAFile) {
    setenv("PATH", "", 1);
    const std::string text =
        "100% sure %s %n\n" + std::string(250, 'x') + "\n\nlast line without end";
    struct shown_case {
        const char* here;
        std::string shown;
        int result;
    };
    const shown_case cases[] = {{"nothing", "", -1},
                                {"a directory", "", -1},
                                {"a FIFO", "", -1},
                                {"an empty file", "", 0},
                                {"a text", text, 0}};
    for (const shown_case& c : cases) {
        std::filesystem::remove_all("tovik.man");
        const std::string here = c.here;
        if (here == "a directory") dir("tovik.man");
        if (here == "a FIFO") {
            ASSERT_EQ(mkfifo("tovik.man", 0600), 0);
        }
        if (here == "an empty file" || here == "a text") write_file("tovik.man", c.shown);
        int result = 2;
        EXPECT_EQ(shown(&result), c.shown) << here;
        EXPECT_EQ(result, c.result) << here;
    }
}

// Collection over real trees, built by each test in a fresh directory that
// is also the current directory while the test runs.
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "collect/targets.h"
#include "support/faults.h"
#include "platform/listing.h"
#include "support/scratch.h"

namespace {

using paths = std::vector<std::string>;

struct collected {
    int result = 0;
    paths list;  // from the head
};

collected collect(const std::string& pattern) {
    collected out;
    target_list list;
    std::vector<std::string> notes;
    out.result = collect_targets(&list, pattern, notes) ? 0 : -1;
    for (std::size_t i = 0; i < list.size(); ++i) {
        out.list.emplace_back(list.path(i));
    }
    free_targets(&list);
    return out;
}

paths sorted(paths list) {
    std::sort(list.begin(), list.end());
    return list;
}

// Independent record of discovery order for trees of plain files and plain
// directories: readdir order, depth-first, directories entered when met.
void discover(const std::string& prefix, paths& found) {
    DIR* dir = opendir(prefix.empty() ? "." : prefix.c_str());
    ASSERT_NE(dir, nullptr) << prefix;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat status {};
        ASSERT_EQ(lstat((prefix + name).c_str(), &status), 0);
        if (S_ISDIR(status.st_mode)) {
            discover(prefix + name + "/", found);
        } else {
            found.push_back(prefix + name);
        }
    }
    closedir(dir);
}

// Runs check in a forked child and expects it to exit with 0; the alarm ends
// a child that blocks, so a hang fails the test instead of stalling the run.
int run_in_child(int (*check)()) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);
        _exit(check());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    if (!WIFEXITED(status)) return 1000 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return WEXITSTATUS(status);
}

// Files of one byte ("x") at each path, a directory for each path ending in '/'.
void make_tree(const paths& entries) {
    for (const std::string& entry : entries) {
        if (entry.ends_with('/')) {
            ASSERT_TRUE(std::filesystem::create_directories(entry)) << entry;
        } else {
            ASSERT_TRUE(write_file(entry, "x")) << entry;
        }
    }
}

struct pattern_case {
    std::string pattern;
    int result;
    paths targets;  // in any order
};

void expect_collected(const std::vector<pattern_case>& cases) {
    for (const pattern_case& c : cases) {
        const collected got = collect(c.pattern);
        EXPECT_EQ(got.result, c.result) << c.pattern;
        EXPECT_EQ(sorted(got.list), sorted(c.targets)) << c.pattern;
    }
}

// Each test works in a fresh directory that is also the current one.
class CollectPosix : public ::testing::Test {
  protected:
    void SetUp() override { dir.enter(); }
    scratch_dir dir;
};

// The list runs from the last target found to the first, and targets are
// found in the order of the directory reads, depth first.
TEST_F(CollectPosix, ListIsTheReverseOfDiscovery) {
    make_tree({"a.txt", "docs/b.txt", "docs/old/empty/", "z.txt", "p/2", "p/3", "p/q/4", "p/q/r/5",
               "p/q/r/6", "p/s/7", "t/8"});
    ASSERT_TRUE(write_file("docs/c.txt", "x", 0444));
    const collected got = collect("*.*");
    EXPECT_EQ(got.result, 0);
    EXPECT_EQ(sorted(got.list), (paths{"a.txt", "docs/b.txt", "docs/c.txt", "p/2", "p/3", "p/q/4",
                                       "p/q/r/5", "p/q/r/6", "p/s/7", "t/8", "z.txt"}));
    paths discovery;
    discover("", discovery);
    std::reverse(discovery.begin(), discovery.end());
    EXPECT_EQ(got.list, discovery);
}

// A wildcard filters only the names of its own directory: a directory it
// matches is walked whole, and a directory named alone yields its content.
// The path before the last separator is kept as written.
TEST_F(CollectPosix, PatternsAndPrefixes) {
    make_tree({"a.txt", "b.tvk", "readme", "x.exe", "tools.exe/run.sh", "tools.exe/lib/deep.bin",
               "docs/b.txt", "docs/notes.md"});
    const paths all{"a.txt",      "b.tvk",         "readme",           "x.exe",
                    "docs/b.txt", "docs/notes.md", "tools.exe/run.sh", "tools.exe/lib/deep.bin"};
    const paths docs{"docs/b.txt", "docs/notes.md"};
    const paths tools{"tools.exe/run.sh", "tools.exe/lib/deep.bin"};
    expect_collected({
        {"*", 0, all},
        {"*.*", 0, all},
        {"*.t*", 0, {"a.txt", "b.tvk"}},
        {"?.t??", 0, {"a.txt", "b.tvk"}},
        {"??????", 0, {"readme"}},
        {"*.exe", 0, {"x.exe", "tools.exe/run.sh", "tools.exe/lib/deep.bin"}},
        {"docs/*.md", 0, {"docs/notes.md"}},
        {"docs", 0, docs},
        {"docs/", 0, docs},
        {"docs//", 0, docs},
        {"tools.exe", 0, tools},
        {"./docs/../docs/n*", 0, {"./docs/../docs/notes.md"}},
        {"./docs/../docs", 0, {"./docs/../docs/b.txt", "./docs/../docs/notes.md"}},
        {".//tools.exe//lib", 0, {".//tools.exe//lib/deep.bin"}},
        {dir.root + "/docs/b.txt", 0, {dir.root + "/docs/b.txt"}},
        {"readme", 0, {"readme"}},
    });
}

// Hidden and read-only entries are taken (a dot-directory as a target, never
// entered); "." and ".." never; an empty directory yields nothing, a pattern
// that matches nothing -1; names go byte for byte; only the exact shape of a
// temporary is passed over.
TEST_F(CollectPosix, WhatIsTakenAndWhatIsNot) {
    const paths odd{"line\nbreak", "100%s%n", "-d", " spaced ", "caf\xE9", "*star?"};
    make_tree(odd);
    make_tree({"visible.txt", ".secret", ".git/config", "d/f", "empty/", "x.tovik-partial-AbC123",
               "sub/.tovik-partial-Zz9xY0", "my.tovik-config", "notes.tovik-ABCDEF"});
    ASSERT_TRUE(write_file("locked.txt", "x", 0444));
    paths all{".git", ".secret",         "locked.txt",        "visible.txt",
              "d/f",  "my.tovik-config", "notes.tovik-ABCDEF"};
    all.insert(all.end(), odd.begin(), odd.end());
    expect_collected({
        {"*", 0, all},
        {".git", 0, {".git"}},
        {"locked.txt", 0, {"locked.txt"}},
        {".", 0, {}},
        {"..", 0, {}},
        {"d/.", 0, {}},
        {"d/..", 0, {}},
        {"d/./", 0, {}},
        {"empty", 0, {}},
        {"empty/", 0, {}},
        {"empty/*", 0, {}},
        {"empty/*.*", 0, {}},
        {"*.nomatch", -1, {}},
        {"missing", -1, {}},
        {"missing/*", -1, {}},
        {"d/missing", -1, {}},
        {"visible.txt/*", -1, {}},
        {"", -1, {}},
        {"/", -1, {}},
        {"///", -1, {}},
        {"./-d", 0, {"./-d"}},
        {"100%s%n", 0, {"100%s%n"}},
        {"line\nbreak", 0, {"line\nbreak"}},
        {"x.tovik-partial-AbC123", 0, {}},
    });
}

TEST_F(CollectPosix, AttributeWordsOfEachKindOfEntry) {
    make_tree({"rw.txt", ".dot", "dir/", ".dotdir/"});
    ASSERT_TRUE(write_file("ro.txt", "x", 0444));
    ASSERT_TRUE(write_file("nowrite.txt", "x", 0464));  // group may write, the owner may not
    ASSERT_TRUE(write_file(".ro", "x", 0400));
    ASSERT_EQ(symlink("rw.txt", "to_file"), 0);
    ASSERT_EQ(symlink("dir", "to_dir"), 0);
    ASSERT_EQ(symlink("nowhere", "broken"), 0);
    ASSERT_EQ(mkfifo("fifo", 0644), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", "sock");
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(sock);

    const std::map<std::string, std::uint32_t> expected{
        {".", 0x10},           {"..", 0x10},       {"rw.txt", 0x20},  {"ro.txt", 0x21},
        {"nowrite.txt", 0x21}, {".dot", 0x22},     {".ro", 0x23},     {"dir", 0x10},
        {".dotdir", 0x12},     {"to_file", 0x400}, {"to_dir", 0x410}, {"broken", 0x400},
        {"fifo", 0x60},        {"sock", 0x60}};

    // Through the directory scan...
    std::map<std::string, std::uint32_t> scanned;
    directory_entry entry;
    listing* open = listing_start("*", entry);
    ASSERT_NE(open, nullptr);
    do {
        scanned[entry.name] = entry.attributes;
    } while (listing_next(open, entry));
    listing_end(open);
    EXPECT_EQ(scanned, expected);

    // ...and through the lookup of one name: the same words.
    for (const auto& [name, word] : expected) {
        directory_entry only;
        listing* single = listing_start(name, only);
        ASSERT_NE(single, nullptr) << name;
        EXPECT_EQ(only.name, name);
        EXPECT_EQ(only.attributes, word) << name;
        EXPECT_FALSE(listing_next(single, only));
        listing_end(single);
    }

    directory_entry device;
    listing* dev = listing_start("/dev/null", device);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(device.name, "null");
    EXPECT_EQ(device.attributes, 0x60u);
    listing_end(dev);
}

int collect_around_link_loops() {
    const collected got = collect("*");
    if (got.result != 0) return 1;
    if (sorted(got.list) != paths{"loop/f.txt", "loop/self", "loop/up", "ring1", "ring2"}) return 2;
    return collect("loop/self").list == paths{"loop/self"} ? 0 : 3;
}

TEST_F(CollectPosix, SymbolicLinksAreCollectedNeverEntered) {
    make_tree({"loop/f.txt"});
    ASSERT_EQ(symlink("..", "loop/up"), 0);
    ASSERT_EQ(symlink(".", "loop/self"), 0);
    ASSERT_EQ(symlink("ring2", "ring1"), 0);
    ASSERT_EQ(symlink("ring1", "ring2"), 0);
    // Entering a link would walk these cycles until the alarm ends the child.
    EXPECT_EQ(run_in_child(collect_around_link_loops), 0);
}

int collect_beside_fifo() {
    const collected got = collect("*");
    if (got.result != 0) return 1;
    return sorted(got.list) == paths{"pipe", "plain.txt"} ? 0 : 2;
}

TEST_F(CollectPosix, FifoIsCollectedButNeverOpened) {
    ASSERT_EQ(mkfifo("pipe", 0644), 0);
    make_tree({"plain.txt"});
#ifdef __linux__
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, "pipe", IN_OPEN | IN_ACCESS), 0);
#endif
    // With no writer, an open for reading would block; the child's alarm
    // then turns it into a failure.
    EXPECT_EQ(run_in_child(collect_beside_fifo), 0);
#ifdef __linux__
    char events[4096];
    EXPECT_EQ(read(watch, events, sizeof events), -1) << "the FIFO was opened";
    EXPECT_EQ(errno, EAGAIN);
    // The watch does see an open, so the silence above means something.
    const int fd = open("pipe", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_GT(read(watch, events, sizeof events), 0);
    close(watch);
#endif
}

TEST_F(CollectPosix, DeepTreesAndLongPathsAreWhole) {
    std::string deep = "d";
    for (int level = 1; level < 1000; ++level) deep += "/d";
    std::string long_path = "L";
    for (char c : {'a', 'b', 'c', 'd', 'f'}) {
        long_path += '/';
        long_path.append(c == 'f' ? 251 : 250, c);  // a last name that takes ".tvk"
    }
    ASSERT_GT(long_path.size(), 1200u);
    make_tree({"d/top", deep + "/leaf", long_path});
    expect_collected(
        {{"d", 0, {"d/top", deep + "/leaf"}}, {"L", 0, {long_path}}, {long_path, 0, {long_path}}});
}

TEST_F(CollectPosix, ADirectoryThatCannotBeListedAddsNothing) {
    make_tree({"a.txt", "sub/f.txt"});

    fault_arm(fault_point::list, 2, EIO);  // the listing of sub
    collected got = collect("*");
    EXPECT_EQ(got.result, 0);
    EXPECT_EQ(got.list, (paths{"a.txt"}));

    fault_arm(fault_point::list, 1, EIO);  // the top-level listing
    got = collect("*");
    EXPECT_EQ(got.result, -1);
    EXPECT_TRUE(got.list.empty());

    EXPECT_EQ(sorted(collect("*").list), (paths{"a.txt", "sub/f.txt"}));
}

// In a directory that may be searched but not read, a named file is still
// found, while a wildcard or descent finds nothing.
int collect_in_unreadable_directory() {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 10;
    if (opendir("locked") != nullptr) return 11;  // still readable: the check is void
    if (collect("locked/known.txt").list != paths{"locked/known.txt"}) return 1;
    const collected wildcard = collect("locked/*");
    if (wildcard.result != -1 || !wildcard.list.empty()) return 2;
    if (collect("*").list != paths{"open.txt"}) return 3;
    return 0;
}

TEST_F(CollectPosix, SearchableButUnreadableDirectory) {
    make_tree({"open.txt", "locked/known.txt"});
    ASSERT_EQ(chmod("locked", 0111), 0);
    EXPECT_EQ(run_in_child(collect_in_unreadable_directory), 0);
}

TEST(CollectPosixPatterns, PrefixDescentAndTrimming) {
    EXPECT_EQ(pattern_prefix("a/b/c*"), "a/b/");
    EXPECT_EQ(pattern_prefix("c*"), "");
    EXPECT_EQ(pattern_prefix("/x"), "/");
    EXPECT_EQ(pattern_prefix("./a/../a/x*"), "./a/../a/");
    EXPECT_EQ(pattern_prefix("a\\b"), "");  // a backslash is part of a name here
    EXPECT_EQ(descent_pattern("docs"), "docs/*");
    EXPECT_EQ(descent_pattern("./a/b"), "./a/b/*");
    EXPECT_EQ(trim_trailing_separators("docs/"), "docs");
    EXPECT_EQ(trim_trailing_separators("a/docs///"), "a/docs");
    EXPECT_EQ(trim_trailing_separators("a/b"), "a/b");
    EXPECT_EQ(trim_trailing_separators("/"), "/");
    EXPECT_EQ(trim_trailing_separators("///"), "///");
    EXPECT_EQ(trim_trailing_separators(""), "");
}

}  // namespace

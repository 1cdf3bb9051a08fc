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
#include "platform/fault.h"
#include "platform/listing.h"

namespace {

using paths = std::vector<std::string>;

struct collected {
    int result = 0;
    paths list;  // from the head
};

collected collect(const std::string& pattern) {
    collected out;
    target_list list = nullptr;
    out.result = collect_targets(&list, pattern);
    for (const target_node* node = list; node != nullptr; node = node->next) {
        out.list.push_back(node->path);
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

// Makes a tree removable again after a test took permissions away.
void make_removable(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return;
    chmod(path.c_str(), 0700);
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") make_removable(path + "/" + name);
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

class CollectPosix : public ::testing::Test {
  protected:
    void SetUp() override {
        char cwd[PATH_MAX];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        saved_cwd_ = cwd;
        const char* tmp = std::getenv("TMPDIR");
        std::string templ =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tovik-collect-XXXXXX";
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        root_ = templ;
        ASSERT_EQ(chdir(root_.c_str()), 0);
    }

    void TearDown() override {
        fault_clear();
        EXPECT_EQ(chdir(saved_cwd_.c_str()), 0);
        make_removable(root_);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    static void make_file(const std::string& path, mode_t mode = 0644) {
        const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
        ASSERT_GE(fd, 0) << path;
        ASSERT_EQ(write(fd, "x", 1), 1);
        ASSERT_EQ(close(fd), 0);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
    }

    static void make_dir(const std::string& path) {
        ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
    }

    std::string root_;
    std::string saved_cwd_;
};

TEST_F(CollectPosix, WorkedExampleListsTheReverseOfDiscovery) {
    make_file("a.txt");
    make_dir("docs");
    make_file("docs/b.txt");
    make_dir("docs/old");
    make_dir("docs/old/empty");
    make_file("docs/c.txt", 0444);
    make_file("z.txt");

    const collected got = collect("*.*");
    EXPECT_EQ(got.result, 0);
    EXPECT_EQ(sorted(got.list), (paths{"a.txt", "docs/b.txt", "docs/c.txt", "z.txt"}));

    paths discovery;
    discover("", discovery);
    std::reverse(discovery.begin(), discovery.end());
    EXPECT_EQ(got.list, discovery);

    // Depth-first: everything below docs comes together, not interleaved.
    const auto b = std::find(got.list.begin(), got.list.end(), "docs/b.txt");
    const auto c = std::find(got.list.begin(), got.list.end(), "docs/c.txt");
    ASSERT_NE(b, got.list.end());
    ASSERT_NE(c, got.list.end());
    EXPECT_EQ(std::abs(b - c), 1);
}

TEST_F(CollectPosix, DeeperTreeFollowsDiscoveryOrder) {
    for (const char* dir : {"p", "p/q", "p/q/r", "p/s", "t"}) make_dir(dir);
    for (const char* file :
         {"1", "p/2", "p/3", "p/q/4", "p/q/r/5", "p/q/r/6", "p/s/7", "t/8", "9"}) {
        make_file(file);
    }
    const collected got = collect("*");
    paths discovery;
    discover("", discovery);
    std::reverse(discovery.begin(), discovery.end());
    EXPECT_EQ(got.result, 0);
    EXPECT_EQ(got.list, discovery);
    EXPECT_EQ(got.list.size(), 9u);
}

class CollectPatterns : public CollectPosix {
  protected:
    void SetUp() override {
        CollectPosix::SetUp();
        for (const char* file : {"a.txt", "b.tvk", "readme", "x.exe"}) make_file(file);
        make_dir("tools.exe");
        make_file("tools.exe/run.sh");
        make_dir("tools.exe/lib");
        make_file("tools.exe/lib/deep.bin");
        make_dir("docs");
        make_file("docs/b.txt");
        make_file("docs/notes.md");
    }

    void expect_set(const std::string& pattern, const paths& expected) {
        const collected got = collect(pattern);
        EXPECT_EQ(got.result, 0) << pattern;
        EXPECT_EQ(sorted(got.list), sorted(expected)) << pattern;
    }
};

TEST_F(CollectPatterns, EverythingPatternsWalkTheWholeTree) {
    const paths all{"a.txt",      "b.tvk",         "readme",           "x.exe",
                    "docs/b.txt", "docs/notes.md", "tools.exe/run.sh", "tools.exe/lib/deep.bin"};
    expect_set("*", all);
    expect_set("*.*", all);
}

TEST_F(CollectPatterns, WildcardsFilterOnlyTheirOwnDirectory) {
    expect_set("*.t*", {"a.txt", "b.tvk"});
    expect_set("?.t??", {"a.txt", "b.tvk"});
    expect_set("??????", {"readme"});
    // A matched directory is walked whole, whatever its files are called.
    expect_set("*.exe", {"x.exe", "tools.exe/run.sh", "tools.exe/lib/deep.bin"});
    expect_set("docs/*.md", {"docs/notes.md"});
}

TEST_F(CollectPatterns, DirectoryNameYieldsItsContentNotItself) {
    for (const char* pattern : {"docs", "docs/", "docs//"}) {
        expect_set(pattern, {"docs/b.txt", "docs/notes.md"});
    }
    expect_set("tools.exe", {"tools.exe/run.sh", "tools.exe/lib/deep.bin"});
}

TEST_F(CollectPatterns, PrefixIsKeptAsWritten) {
    expect_set("./docs/../docs/n*", {"./docs/../docs/notes.md"});
    expect_set("./docs/../docs", {"./docs/../docs/b.txt", "./docs/../docs/notes.md"});
    expect_set(".//tools.exe//lib", {".//tools.exe//lib/deep.bin"});
    expect_set(root_ + "/docs/b.txt", {root_ + "/docs/b.txt"});
    expect_set("readme", {"readme"});
}

TEST_F(CollectPosix, AttributeWordsOfEachKindOfEntry) {
    make_file("rw.txt");
    make_file("ro.txt", 0444);
    make_file("nowrite.txt", 0464);  // group may write, the owner may not
    make_file(".dot");
    make_file(".ro", 0400);
    make_dir("dir");
    make_dir(".dotdir");
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

TEST_F(CollectPosix, HiddenAndReadOnlyEntries) {
    make_file("visible.txt");
    make_file(".secret");
    make_file("locked.txt", 0444);
    make_dir(".git");
    make_file(".git/config");

    const collected all = collect("*");
    EXPECT_EQ(all.result, 0);
    // The dot-directory is a target (bypassed later), never entered.
    EXPECT_EQ(sorted(all.list), (paths{".git", ".secret", "locked.txt", "visible.txt"}));
    EXPECT_EQ(collect(".git").list, (paths{".git"}));
    EXPECT_EQ(collect("locked.txt").list, (paths{"locked.txt"}));
}

TEST_F(CollectPosix, DotAndDotDotAreNeitherEnteredNorCollected) {
    make_dir("docs");
    make_file("docs/f");
    for (const char* pattern : {".", "..", "docs/.", "docs/..", "docs/./"}) {
        const collected got = collect(pattern);
        EXPECT_EQ(got.result, 0) << pattern;
        EXPECT_TRUE(got.list.empty()) << pattern;
    }
}

int collect_around_link_loops() {
    const collected got = collect("*");
    if (got.result != 0) return 1;
    if (sorted(got.list) != paths{"loop/f.txt", "loop/self", "loop/up", "ring1", "ring2"}) return 2;
    return collect("loop/self").list == paths{"loop/self"} ? 0 : 3;
}

TEST_F(CollectPosix, SymbolicLinksAreCollectedNeverEntered) {
    make_dir("loop");
    make_file("loop/f.txt");
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
    make_file("plain.txt");
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

TEST_F(CollectPosix, NothingMatchingMeansMinusOneAndNoTargets) {
    make_file("a.txt");
    make_dir("d");
    for (const char* pattern :
         {"*.nomatch", "missing", "missing/*", "d/missing", "a.txt/*", "", "/", "///"}) {
        const collected got = collect(pattern);
        EXPECT_EQ(got.result, -1) << pattern;
        EXPECT_TRUE(got.list.empty()) << pattern;
    }
}

TEST_F(CollectPosix, EmptyDirectoryStartsButYieldsNothing) {
    make_dir("empty");
    for (const char* pattern : {"empty", "empty/", "empty/*", "empty/*.*"}) {
        const collected got = collect(pattern);
        EXPECT_EQ(got.result, 0) << pattern;
        EXPECT_TRUE(got.list.empty()) << pattern;
    }
}

TEST_F(CollectPosix, DeepTreesAndLongPathsAreWhole) {
    std::string deep = "d";
    make_dir(deep);
    make_file("d/top");
    for (int level = 1; level < 1000; ++level) {
        deep += "/d";
        make_dir(deep);
    }
    make_file(deep + "/leaf");
    const collected got = collect("d");
    EXPECT_EQ(got.result, 0);
    ASSERT_EQ(got.list.size(), 2u);
    EXPECT_EQ(sorted(got.list), sorted({"d/top", deep + "/leaf"}));

    std::string long_path = "L";
    make_dir(long_path);
    for (char c : {'a', 'b', 'c', 'd'}) {
        long_path += "/" + std::string(250, c);
        make_dir(long_path);
    }
    long_path += "/" + std::string(255, 'f');
    make_file(long_path);
    ASSERT_GT(long_path.size(), 1200u);
    EXPECT_EQ(collect("L").list, (paths{long_path}));
    EXPECT_EQ(collect(long_path).list, (paths{long_path}));
}

TEST_F(CollectPosix, NamesAreTakenByteForByte) {
    const paths names{"line\nbreak", "100%s%n", "-d", " spaced ", "caf\xE9", "*star?"};
    for (const std::string& name : names) make_file(name);
    EXPECT_EQ(sorted(collect("*").list), sorted(names));
    EXPECT_EQ(collect("./-d").list, (paths{"./-d"}));
    EXPECT_EQ(collect("100%s%n").list, (paths{"100%s%n"}));
    EXPECT_EQ(collect("line\nbreak").list, (paths{"line\nbreak"}));
}

TEST_F(CollectPosix, OnlyTheExactShapeOfATemporaryIsSkipped) {
    make_file("x");
    make_file("x.tovik-partial-AbC123");
    make_dir("sub");
    make_file("sub/.tovik-partial-Zz9xY0");
    make_file("my.tovik-config");
    make_file("notes.tovik-ABCDEF");
    EXPECT_EQ(sorted(collect("*").list), (paths{"my.tovik-config", "notes.tovik-ABCDEF", "x"}));
    const collected named = collect("x.tovik-partial-AbC123");
    EXPECT_EQ(named.result, 0);
    EXPECT_TRUE(named.list.empty());
}

TEST_F(CollectPosix, ADirectoryThatCannotBeListedAddsNothing) {
    make_file("a.txt");
    make_dir("sub");
    make_file("sub/f.txt");

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
    ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
    make_file("open.txt", 0644);
    make_dir("locked");
    make_file("locked/known.txt", 0644);
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

// What collection names before "Key:" and leaves alone, through the real
// binary, and a directory reached twice.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/tovik_run_posix.h"

namespace {

// What collection names before "Key:", through the real binary; the run is
// then aborted at the ready prompt, so each pattern meets the same tree.
std::string named_before_key(const std::string& dir, const std::vector<std::string>& args,
                             bool as_nobody = false) {
    pty::session run;
    if (!tovik_run::start_binary(run, dir, args, as_nobody)) return "(not started)";
    tovik_run::type_dialogue(run, "k", "n\n");
    return tovik_run::finish(run, 1).before_dialogue;
}

// A leftover temporary is named beside a target whatever form the input
// took; a name too long to add ".tvk" is named and left alone while the run
// goes on; a directory whose entries cannot be examined is named.
TEST(CollectNamed, LeftoversLongNamesAndClosedDirectories) {
    tovik_run::temp_dir dir;
    const std::string leftover = "d/x.txt.tvk.tovik-partial-AbCdEf";
    ASSERT_TRUE(write_file(dir.at("d/x.txt"), "plain"));
    ASSERT_TRUE(write_file(dir.at(leftover), "part"));
    for (const char* pattern : {"d/x.txt", "d/*.txt", "d", "d/x*"}) {
        EXPECT_EQ(named_before_key(dir.root, {pattern}),
                  leftover + ": left by an interrupted run; delete it (its input is intact)\n")
            << pattern;
    }

    const std::string too_long(253, 'x');
    const std::string container = std::string(251, 'y') + ".tvk";  // decrypts to a shorter name
    ASSERT_TRUE(write_file(dir.at("n/" + too_long), "plain"));
    ASSERT_TRUE(write_file(dir.at("n/b"), "plain"));
    ASSERT_TRUE(write_file(dir.at("n/" + container), tovik_run::container_of("inside", "k")));
    const tovik_run::finished_run run = tovik_run::run_binary(dir.root, {"n"}, "k");
    EXPECT_EQ(run.before_dialogue, "n/" + too_long + ": name too long to add .tvk\n");
    EXPECT_TRUE(run.status.exited && run.status.code == 0) << run.transcript;
    EXPECT_EQ(snapshot(dir.at("n")),
              (std::map<std::string, std::string>{{too_long, "plain"},
                                                  {"b", "plain"},
                                                  {"b.tvk", tovik_run::container_of("plain", "k")},
                                                  {container, tovik_run::container_of("inside", "k")},
                                                  {std::string(251, 'y'), "inside"}}));

    if (geteuid() != 0) GTEST_SKIP() << "a closed directory needs another user than root";
    ASSERT_TRUE(write_file(dir.at("c/ok"), "plain"));
    ASSERT_TRUE(write_file(dir.at("c/closed/secret"), "plain"));
    ASSERT_EQ(chmod(dir.at("c/closed").c_str(), 0644), 0);
    EXPECT_EQ(named_before_key(dir.root, {"c"}, true), "cannot read the directory c/closed\n");
}

// One directory reached under two paths (a bind mount inside the tree) is
// one set of targets: each container is decrypted once, and "-d" leaves the
// plain files.
TEST(CollectNamed, ADirectoryReachedTwiceIsWalkedOnce) {
    tovik_run::temp_dir dir;
    ASSERT_TRUE(write_file(dir.at("t/a/f.tvk"), tovik_run::container_of("inside", "k")));
    ASSERT_TRUE(std::filesystem::create_directories(dir.at("t/b")));
    const std::string a = dir.at("t/a"), b = dir.at("t/b");
    pty::session run;
    ASSERT_TRUE(tovik_run::start_driver(run, dir.root, {"t", "-d"}, [&](int report) {
        const bool bound = unshare(CLONE_NEWNS) == 0 &&
                           mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                           mount(a.c_str(), b.c_str(), nullptr, MS_BIND, nullptr) == 0;
        return bound || write(report, "no mount", 8) != 8;
    }));
    if (!run.wait_for_output("Key:")) {
        run.wait_exit();
        if (run.report() == "no mount") GTEST_SKIP() << "cannot bind a directory here (needs root)";
        FAIL() << run.transcript();
    }
    tovik_run::type_dialogue(run, "k");
    const tovik_run::finished_run done = tovik_run::finish(run, 1);
    const std::string one = done.after_dialogue;
    EXPECT_TRUE(one == "\nt/a/f.tvk decrypting .....ok!\n\nfin\n" ||
                one == "\nt/b/f.tvk decrypting .....ok!\n\nfin\n")
        << one;
    EXPECT_EQ(snapshot(dir.root),
              (std::map<std::string, std::string>{{"t/a/f", "inside"}}));
}

}  // namespace

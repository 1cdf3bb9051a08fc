// How the targets of one run meet, through the real binary on a terminal:
// outputs that would land on each other, links, and what "-d" deletes. After
// every run, each "ok!" it printed is still true and no file's bytes are lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "container/container.h"
#include "support/faults.h"
#include "support/tovik_run_posix.h"

namespace fs = std::filesystem;
using namespace tovik_run;

namespace {

const std::string KEY = "one run";
using tree = std::map<std::string, std::string>;

// Every line of the run's report holds at its end: an output announced by
// "ok!" has the bytes it should, a target left alone is as it was; and every
// file of the tree before the run can still be had, as it is or from a
// container of it.
void expect_claims_hold(const std::string& root, const tree& before, const finished_run& run) {
    ASSERT_TRUE(run.dialogue) << run.transcript;
    const tree after = snapshot(root);
    const std::string& report = run.after_dialogue;
    for (const auto& [name, bytes] : before) {
        const std::string relative = name;
        const bool container = bytes.starts_with(header_of(KEY));
        if (report.find("\n" + name + " encrypting .....ok!\n") != std::string::npos) {
            EXPECT_TRUE(after.contains(name + ".tvk") &&
                        after.at(name + ".tvk") == container_of(bytes, KEY))
                << "false ok! for " << name;
        } else if (report.find("\n" + name + " decrypting .....ok!\n") != std::string::npos) {
            const std::string output = output_name(name, true);
            EXPECT_TRUE(container && after.contains(output) && after.at(output) == plain_of(bytes, KEY))
                << "false ok! for " << name;
        } else if (report.find("\n" + name + " skipped") != std::string::npos) {
            EXPECT_TRUE(after.contains(name) && after.at(name) == bytes) << name << " was touched";
        }
        const std::string plain = container ? plain_of(bytes, KEY) : bytes;
        bool kept = false;
        for (const auto& [other, now] : after) {
            kept = kept || now == bytes || now == plain ||
                   (now.starts_with(header_of(KEY)) && plain_of(now, KEY) == plain);
        }
        EXPECT_TRUE(kept) << "the bytes of " << name << " are lost";
    }
}

// Writes files in the order given, so that a tmpfs lists them in one order
// or the other.
void write_in_order(const temp_dir& dir, const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [name, bytes] : files) ASSERT_TRUE(write_file(dir.at(name), bytes));
}

const std::string SKIPPED = " skipped: its output would replace another file of this run\n";

}  // namespace

// "a" encrypts to "a.tvk", and so does the container "a.tvk.tvk" decrypt:
// whichever comes first writes it, the other is left alone.
TEST(OneRun, TwoTargetsWithOneOutputName) {
    for (bool a_first : {true, false}) {
        for (bool delete_input : {false, true}) {
            SCOPED_TRACE(testing::Message() << (a_first ? "a first" : "a.tvk.tvk first")
                                            << (delete_input ? " -d" : ""));
            temp_dir dir("/dev/shm");
            std::vector<std::pair<std::string, std::string>> files = {
                {"d/a", "plain P"}, {"d/a.tvk.tvk", container_of("plain Q", KEY)}};
            if (!a_first) std::swap(files[0], files[1]);
            write_in_order(dir, files);
            const tree before(files.begin(), files.end());
            const std::vector<std::string> order = targets_in(dir.root, "d");
            std::vector<std::string> args{"d"};
            if (delete_input) args.push_back("-d");
            const finished_run run = run_binary(dir.root, args, KEY);
            expect_claims_hold(dir.root, before, run);
            EXPECT_NE(run.after_dialogue.find(order[1] + SKIPPED), std::string::npos)
                << run.after_dialogue;
            EXPECT_TRUE(run.status.exited && run.status.code == 0);
        }
    }
}

// A plain "a" and an unrelated container "a.tvk": each one's output is the
// other, so both are left alone.
TEST(OneRun, TargetsWhoseOutputsAreEachOtherAreLeftAlone) {
    temp_dir dir;
    const tree before = {{"d/a", "plain P"}, {"d/a.tvk", container_of("plain Q", KEY)}};
    for (const auto& [name, bytes] : before) write_file(dir.at(name), bytes);
    const finished_run run = run_binary(dir.root, {"d", "-d"}, KEY);
    expect_claims_hold(dir.root, before, run);
    EXPECT_TRUE(snapshot(dir.root) == before);
    EXPECT_NE(run.after_dialogue.find("d/a" + SKIPPED), std::string::npos);
    EXPECT_NE(run.after_dialogue.find("d/a.tvk" + SKIPPED), std::string::npos);
}

// A link is encrypted through and "-d" removes the link itself, whatever
// already has its output's name; the file behind it is never touched. Two
// hard links to one file each give an output and each go.
TEST(OneRun, LinksUnderDelete) {
    for (bool output_exists : {false, true}) {
        SCOPED_TRACE(output_exists ? "over an existing output" : "new output");
        temp_dir dir;
        write_file(dir.at("behind"), "the file behind");
        fs::create_directory(dir.at("d"));
        fs::create_symlink("../behind", dir.at("d/link"));
        if (output_exists) write_file(dir.at("d/link.tvk"), "an older file");
        const finished_run run = run_binary(dir.root, {"d/link", "-d"}, KEY);
        EXPECT_EQ(run.after_dialogue, "\nd/link encrypting .....ok!\n\nfin\n");
        EXPECT_TRUE(snapshot(dir.root) == (tree{{"behind", "the file behind"},
                                               {"d/link.tvk", container_of("the file behind", KEY)}}));
    }
    temp_dir dir;
    write_file(dir.at("d/h1"), "linked twice");
    ASSERT_EQ(::link(dir.at("d/h1").c_str(), dir.at("d/h2").c_str()), 0);
    const finished_run run = run_binary(dir.root, {"d", "-d"}, KEY);
    EXPECT_TRUE(run.status.exited && run.status.code == 0);
    EXPECT_TRUE(snapshot(dir.root) == (tree{{"d/h1.tvk", container_of("linked twice", KEY)},
                                           {"d/h2.tvk", container_of("linked twice", KEY)}}));
}

// A link that leads nowhere when the run begins, to the container the run
// then writes: the run never takes its own output as an input (decrypted in
// place through the link, the plain text would be back on the disk).
TEST(OneRun, AnOutputOfTheRunIsNeverItsInput) {
    for (bool link_first : {true, false}) {
        SCOPED_TRACE(link_first ? "link made first" : "link made last");
        temp_dir dir("/dev/shm");
        if (link_first) fs::create_symlink("a.tvk", dir.at("l"));
        write_file(dir.at("a"), "plain text");
        if (!link_first) fs::create_symlink("a.tvk", dir.at("l"));
        const finished_run run = run_binary(dir.root, {"*", "-d"}, KEY);
        EXPECT_TRUE(run.status.exited && run.status.code == 0) << run.transcript;
        EXPECT_NE(run.after_dialogue.find("a encrypting .....ok!\n"), std::string::npos);
        const bool told = run.after_dialogue.find("l skipped: it is a file this run has written\n") !=
                              std::string::npos ||
                          run.after_dialogue.find("bypassing 0byte file l\n") != std::string::npos;
        EXPECT_TRUE(told) << run.after_dialogue;
        EXPECT_EQ(fs::read_symlink(dir.at("l")), "a.tvk");
        EXPECT_EQ(dir.names(), (std::set<std::string>{"a.tvk", "l"}));
        EXPECT_TRUE(read_file(dir.at("a.tvk")) == container_of("plain text", KEY));
    }
}

// A FIFO among the targets is bypassed without being opened: opening a
// special file may act on a device (a tape rewinds on close).
TEST(OneRun, AFifoIsBypassedUnopened) {
    temp_dir dir;
    ASSERT_TRUE(write_file(dir.at("d/a"), "plain"));
    ASSERT_EQ(::mkfifo(dir.at("d/fifo").c_str(), 0644), 0);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, dir.at("d/fifo").c_str(), IN_OPEN), 0);
    const finished_run run = run_binary(dir.root, {"d"}, KEY);
    EXPECT_NE(run.after_dialogue.find("bypassing 0byte file d/fifo\n"), std::string::npos);
    char event[4096];
    EXPECT_LT(::read(watch, event, sizeof event), 0) << "the FIFO was opened";
    ::close(watch);
}

// An input changed between its reading and its deletion ("-d") or the
// rename that replaces it (a container decrypted in place) keeps the new
// bytes, even when the change keeps its length and puts its modification
// time back; the run says so and ends with status 1.
TEST(OneRun, AnInputChangedAfterItsReadingIsKept) {
    const auto append = [](const std::string& path) {
        std::ofstream(path, std::ios::app) << " and written";
    };
    const auto same_length_same_time = [](const std::string& path) {
        struct stat before {};
        ::stat(path.c_str(), &before);
        std::ofstream(path, std::ios::in | std::ios::out) << "READ";
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    };
    const std::string container = container_of("read", KEY);
    struct change {
        const char* name;
        std::string bytes;  // of x, the one target
        bool delete_input;
        fault_point when;
        std::function<void(const std::string&)> write;
        std::string report;
        std::string now;  // x afterwards
        tree outputs;
    };
    const change changes[] = {
        {"appended, -d", "read", true, fault_point::unlink, append,
         "x encrypting .....ok!\nx was not deleted: it changed after it was read\n",
         "read and written", {{"x.tvk", container}}},
        {"same length and time, -d", "read", true, fault_point::unlink, same_length_same_time,
         "x encrypting .....ok!\nx was not deleted: it changed after it was read\n", "READ",
         {{"x.tvk", container}}},
        {"appended, in place", container, false, fault_point::rename, append,
         "x was not replaced: it changed after it was read\n", container + " and written", {}},
    };
    for (const change& c : changes) {
        SCOPED_TRACE(c.name);
        temp_dir dir;
        write_file(dir.at("x"), c.bytes);
        pty::session session;
        ASSERT_TRUE(start_driver(session, dir.root, c.delete_input ? std::vector<std::string>{"x", "-d"}
                                                  : std::vector<std::string>{"x"},
                                 [&](int) {
                                     fault_hook(c.when, [&] {
                                         c.write(dir.at("x"));
                                         fault_hook(c.when, nullptr);
                                     });
                                     return true;
                                 }));
        type_dialogue(session, KEY);
        const finished_run run = finish(session, KEY.size());
        EXPECT_EQ(run.after_dialogue, "\n" + c.report + "\nfin\n");
        EXPECT_TRUE(run.status.exited && run.status.code == 1);
        tree expected = c.outputs;
        expected["x"] = c.now;
        EXPECT_TRUE(snapshot(dir.root) == expected);
    }
}

// A user who may write in a directory but not delete another user's file
// there (the sticky bit): the output is made, the input stays, and the run
// does not call that a success.
TEST(OneRun, ARefusedDeleteIsNamed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to set up another user's file";
    temp_dir dir;
    write_file(dir.at("x"), "not yours to delete", 0666);
    ASSERT_EQ(::chmod(dir.root.c_str(), 01777), 0);
    const finished_run run = run_binary(dir.root, {"x", "-d"}, KEY, true);
    EXPECT_EQ(run.after_dialogue,
              "\nx encrypting .....ok!\nx was not deleted: permission denied\n\nfin\n");
    EXPECT_TRUE(run.status.exited && run.status.code == 1);
    EXPECT_EQ(read_file(dir.at("x")), "not yours to delete");
    EXPECT_EQ(read_file(dir.at("x.tvk")), container_of("not yours to delete", KEY));
}

// One key entry only when the head will be decrypted. A read-only container
// at the head is taken as plain and could encrypt the files after it under a
// typo: the key is asked twice, and a mismatch stops the run untouched.
TEST(OneRun, AHeadThatMayEncryptAsksForTheKeyTwice) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand the files to another user";
    temp_dir dir("/dev/shm");
    write_file(dir.at("box/notes.tvk"), container_of("notes", KEY), 0444);
    write_file(dir.at("box/b"), "plain b");  // listed first on a tmpfs: the head is notes.tvk
    for (const char* path : {"box", "box/notes.tvk", "box/b"}) {
        ASSERT_EQ(::chown(dir.at(path).c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(targets_in(dir.root, "box").front(), "box/notes.tvk");
    const tree before = snapshot(dir.root);
    pty::session session;
    ASSERT_TRUE(start_binary(session, dir.root, {"box", "-d"}, true));
    ASSERT_TRUE(session.wait_for_output(BANNER + "Key:"));
    ASSERT_TRUE(session.send_when_reading(KEY + "x\r"));
    ASSERT_TRUE(session.wait_for_output("\nReenter Key:"));
    ASSERT_TRUE(session.send_when_reading(KEY + "\r"));
    const pty::exit_status status = session.wait_exit();
    EXPECT_EQ(session.transcript(), BANNER + "Key:" + std::string(KEY.size() + 1, '*') +
                                        "\nReenter Key:" + std::string(KEY.size(), '*') +
                                        "\nKey you type is incorrect\n");
    EXPECT_TRUE(status.exited && status.code == 0);
    EXPECT_TRUE(snapshot(dir.root) == before);
}

// What the walk cannot take is named where it is met, and the run goes on:
// a directory that cannot be listed, a path longer than the system takes, a
// temporary left by an interrupted run (kept as it is). A user's file that
// merely looks like a temporary is a target like any other.
TEST(OneRun, EveryFileIsAccountedFor) {
    temp_dir dir;
    write_file(dir.at("d/ok"), "ok");
    write_file(dir.at("d/my.tovik-config"), "mine");
    write_file(dir.at("d/x.tovik-partial-AbC123"), "half written");
    write_file(dir.at("d/locked/f"), "out of reach");
    ASSERT_EQ(::chmod(dir.at("d/locked").c_str(), 0), 0);
    // A chain of directories deeper than a path can name, made step by step.
    std::string deep = "d";
    int fd = ::open(dir.at("d").c_str(), O_RDONLY | O_DIRECTORY);
    while (deep.size() < PATH_MAX) {
        const std::string name(200, 'n');
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        deep += "/" + name;
    }
    const int leaf = ::openat(fd, "leaf", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::write(leaf, "deep", 4), 4);
    ::close(leaf);
    ::close(fd);
    ::chmod(dir.root.c_str(), 0777);
    for (const auto& entry : fs::recursive_directory_iterator(dir.root)) {
        ::lchown(entry.path().c_str(), 65534, 65534);
    }

    const finished_run run = run_binary(dir.root, {"d"}, KEY, ::geteuid() == 0);
    std::string too_long_line;  // the first level whose files could not be named
    for (std::string path = "d"; path.size() < deep.size();) {
        path += "/" + std::string(200, 'n');
        if (path.size() + 2 + 25 > PATH_MAX - 1) {
            too_long_line = path + ": path too long\n";
            break;
        }
    }
    for (const std::string& line : {std::string("cannot read the directory d/locked\n"),
                                    std::string("d/x.tovik-partial-AbC123: left by an interrupted run; "
                                                "delete it (its input is intact)\n"),
                                    too_long_line}) {
        EXPECT_NE(run.before_dialogue.find(line), std::string::npos) << line << " in "
                                                                     << run.before_dialogue;
    }
    EXPECT_EQ(std::count(run.before_dialogue.begin(), run.before_dialogue.end(), '\n'), 3);
    EXPECT_NE(run.after_dialogue.find("d/my.tovik-config encrypting .....ok!\n"), std::string::npos);
    EXPECT_NE(run.after_dialogue.find("d/ok encrypting .....ok!\n"), std::string::npos);
    EXPECT_TRUE(run.after_dialogue.ends_with("\nfin\n"));
    EXPECT_EQ(read_file(dir.at("d/x.tovik-partial-AbC123")), "half written");
    EXPECT_EQ(read_file(dir.at("d/my.tovik-config.tvk")), container_of("mine", KEY));
}

// Root encrypting another user's file leaves the output to that user, with
// the input's modification time.
TEST(OneRun, TheOutputKeepsTheInputsOwnerAndTime) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
    temp_dir dir;
    write_file(dir.at("theirs"), "their bytes", 0640);
    ASSERT_EQ(::chown(dir.at("theirs").c_str(), 65534, 65534), 0);
    const struct timespec times[2] = {{1500000000, 0}, {1500000000, 42}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.at("theirs").c_str(), times, 0), 0);
    const finished_run run = run_binary(dir.root, {"theirs", "-d"}, KEY);
    EXPECT_EQ(run.after_dialogue, "\ntheirs encrypting .....ok!\n\nfin\n");
    struct stat output {};
    ASSERT_EQ(::stat(dir.at("theirs.tvk").c_str(), &output), 0);
    EXPECT_EQ(output.st_uid, 65534u);
    EXPECT_EQ(output.st_gid, 65534u);
    EXPECT_EQ(output.st_mode & 07777, 0640u);
    EXPECT_EQ(output.st_mtim.tv_sec, 1500000000);
    EXPECT_EQ(output.st_mtim.tv_nsec, 42);
}

// Targets are processed ahead of their reports on worker threads; a run that
// ends at the third of six targets (a wrong passphrase, an output that cannot
// be put in place) leaves the fourth to sixth as they were: no output, no
// temporary, no deletion.
TEST(OneRun, AnEndAtTheThirdTargetLeavesTheRestUntouched) {
    for (bool wrong_key : {true, false}) {
        SCOPED_TRACE(wrong_key ? "wrong passphrase" : "output cannot be put in place");
        temp_dir dir("/dev/shm");
        for (int i = 0; i < 6; ++i) write_file(dir.at("d/" + std::to_string(i)), random_bytes(300000, i));
        std::vector<std::string> order = targets_in(dir.root, "d");
        ASSERT_EQ(order.size(), 6u);
        std::string ending;
        if (wrong_key) {
            write_file(dir.at(order[2]), container_of("other", "another passphrase"));
            ending = "incorrect key, no operations were performed\n";
        } else {
            fs::create_directory(dir.at(order[2] + ".tvk"));  // empty: adds no target
            ending = "\ncannot write the output file " + order[2] + ".tvk\n";
        }
        ASSERT_EQ(targets_in(dir.root, "d"), order);
        const tree before = snapshot(dir.root);
        const finished_run run = run_binary(dir.root, {"d", "-d"}, KEY);
        EXPECT_EQ(run.after_dialogue, "\n" + order[0] + " encrypting .....ok!\n" + order[1] +
                                          " encrypting .....ok!\n" + ending);
        EXPECT_TRUE(run.status.exited && run.status.code == (wrong_key ? 0 : 1));
        tree expected = before;
        for (int i : {0, 1}) {
            expected[order[i] + ".tvk"] = container_of(before.at(order[i]), KEY);
            expected.erase(order[i]);
        }
        EXPECT_TRUE(snapshot(dir.root) == expected);
    }
}

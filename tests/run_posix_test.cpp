// How the targets of one run meet, through the real binary on a terminal:
// outputs that would land on each other, links, and what "-d" deletes. After
// every run, each "ok!" it printed is still true and no file's bytes are lost.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "container/container.h"
#include "platform/fault.h"
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

// An input written to between its reading and its deletion keeps the new
// bytes; the run says so and ends with status 1.
TEST(OneRun, AnInputChangedAfterItsReadingIsKept) {
    temp_dir dir;
    write_file(dir.at("x"), "read");
    pty::child_options options;
    options.working_dir = dir.root;
    pty::session session;
    ASSERT_TRUE(session.start(
        [&](int) -> int {
            fault_hook(fault_point::unlink, [&] {
                std::ofstream(dir.at("x"), std::ios::app) << " and written";
                fault_hook(fault_point::unlink, nullptr);
            });
            run_driver_and_exit({"x", "-d"});
        },
        options));
    type_dialogue(session, KEY);
    const finished_run run = finish(session, KEY.size());
    EXPECT_EQ(run.after_dialogue,
              "\nx encrypting .....ok!\nx was not deleted: it changed after it was read\n\nfin\n");
    EXPECT_TRUE(run.status.exited && run.status.code == 1);
    EXPECT_TRUE(snapshot(dir.root) ==
                (tree{{"x", "read and written"}, {"x.tvk", container_of("read", KEY)}}));
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

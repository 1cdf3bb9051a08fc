// Failures during a whole run: every file-system call of the run failed in
// turn through the fault seam, then real faults (a full file system, an
// unwritable directory, a directory in the output's place, a read-only input,
// targets that vanish). After each run, every target is either intact or has
// its complete output, no temporary is left, and the run said so.
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "container/container.h"
#include "support/faults.h"
#include "platform/temp_name.h"
#include "support/pty_posix.h"
#include "support/tovik_run_posix.h"

namespace fs = std::filesystem;
using namespace tovik_run;

namespace {

const std::string KEY = "pass word";
constexpr int POINTS = static_cast<int>(fault_point::count_);
const char* const POINT_NAMES[POINTS] = {"open",  "create", "read",   "write", "sync",
                                         "close", "rename", "unlink", "list"};
constexpr int NO_FAULT = -1;

struct scenario {
    const char* name;
    std::map<std::string, std::string> files;  // relative path -> bytes
    std::string pattern;
    bool delete_input;
    std::map<std::string, std::string> outputs;  // relative path -> its complete output
};

// The run with the nth call of point failing.
child_run run_with_fault(const temp_dir& dir, const scenario& s, int point, int nth) {
    std::vector<std::string> args{s.pattern};
    if (s.delete_input) args.push_back("-d");
    return run_driver_in_child(dir.root, args, KEY, [&] {
        if (point != NO_FAULT) fault_arm(static_cast<fault_point>(point), nth, EIO);
        return true;
    });
}

// What may be found after a run: each name with the contents it may have.
struct allowed_state {
    std::map<std::string, std::set<std::string>> contents;
    std::set<std::string> optional;  // may also be missing
    bool temporaries = false;

    void require(const std::string& name, const std::string& bytes) {
        contents[name] = {bytes};
        optional.erase(name);
    }
    void allow(const std::string& name, const std::string& bytes) {
        if (!contents.contains(name)) optional.insert(name);
        contents[name].insert(bytes);
    }
};

void expect_state(const std::string& root, const allowed_state& allowed) {
    const auto found = snapshot(root);
    for (const auto& [name, bytes] : found) {
        if (is_temporary_name(fs::path(name).filename().string())) {
            EXPECT_TRUE(allowed.temporaries) << "temporary left: " << name;
            continue;
        }
        const auto it = allowed.contents.find(name);
        if (it == allowed.contents.end()) {
            ADD_FAILURE() << "unexpected file " << name;
        } else {
            EXPECT_TRUE(it->second.contains(bytes)) << "wrong contents in " << name;
        }
    }
    for (const auto& [name, bytes] : allowed.contents) {
        EXPECT_TRUE(found.contains(name) || allowed.optional.contains(name)) << "lost " << name;
    }
}

// Judges one run by what it printed: the messages must be exact, the exit
// status must follow from them, and the files must be what the messages say.
void check_faulted_run(const temp_dir& dir, const scenario& s,
                       const std::vector<std::string>& order, int point, int nth,
                       const child_run& r) {
    const finished_run& run = r.run;
    ASSERT_EQ(r.calls.size(), static_cast<std::size_t>(POINTS)) << "no report: " << run.transcript;
    if (point != NO_FAULT) {
        EXPECT_GE(r.calls[point], nth) << "the fault never fired";
    }
    allowed_state allowed;
    for (const auto& [name, bytes] : s.files) allowed.require(name, bytes);
    allowed.temporaries = point == static_cast<int>(fault_point::unlink);

    if (!run.dialogue) {  // only a failed listing stops the run this early
        EXPECT_EQ(point, static_cast<int>(fault_point::list)) << run.transcript;
        const std::string unread = "cannot read the directory " + s.pattern + "\n";
        EXPECT_EQ(run.transcript, BANNER + (nth == 2 ? unread : "") +
                                      "\ncannot process input file " + s.pattern + "\n");
        EXPECT_TRUE(run.status.exited && run.status.code == 1);
        expect_state(dir.root, allowed);
        return;
    }
    const std::string& body = run.after_dialogue;
    std::size_t at = 0;
    const auto take = [&](const std::string& text) {
        if (body.compare(at, text.size(), text) != 0) return false;
        at += text.size();
        return true;
    };
    ASSERT_TRUE(take("\n")) << run.transcript;
    // An input deleted under "-d" may stay only when the failure was its
    // deletion or the flush that comes before it.
    const bool deletion_failed = point == static_cast<int>(fault_point::unlink) ||
                                 point == static_cast<int>(fault_point::sync);
    const auto input_consumed = [&](const std::string& name, const std::string& bytes) {
        allowed.contents.erase(name);
        if (deletion_failed) allowed.allow(name, bytes);
    };
    bool fatal = false;
    bool failure_reported = false;
    for (const std::string& target : order) {
        const std::string& bytes = s.files.at(target);
        const bool container = bytes.starts_with(header_of(KEY));
        const std::string output = container ? stripped(target) : target + ".tvk";
        const std::string& complete = s.outputs.at(target);
        if (take(target + " encrypting .....ok!\n")) {
            // A container is taken as plain only when it cannot be updated.
            allowed.require(target + ".tvk", container ? container_of(bytes, KEY) : complete);
            if (s.delete_input) input_consumed(target, bytes);
        } else if (take(target + " decrypting .....ok!\n")) {
            EXPECT_TRUE(container) << target;
            allowed.require(output, complete);
            if (s.delete_input && output != target) input_consumed(target, bytes);
        } else if (take(target + " not found\n") || take("bypassing 0byte file " + target + "\n")) {
            failure_reported = true;  // and the target is untouched
        } else if (take("cannot write to disk, possibly full\n")) {
            fatal = true;
            // Only a failed flush of the directory comes after the rename.
            if (point == static_cast<int>(fault_point::sync)) allowed.allow(output, complete);
        } else if (take("\ncannot process input file " + target + "\n") ||
                   // The output, or for a container the container itself.
                   take("\ncannot write the output file " + (container ? target : output) + "\n")) {
            fatal = true;
        } else {
            ADD_FAILURE() << "unexpected report for " << target << " at " << at << " in [" << body
                          << "]";
            return;
        }
        if (fatal) break;
    }
    // Outputs are made durable by one flush after the last target, and only
    // then are inputs deleted; when it fails, the run ends as a failed write,
    // every output complete, the inputs kept. An input whose deletion failed
    // is named, and the run ends with status 1.
    if (!fatal && deletion_failed && take("cannot write to disk, possibly full\n")) fatal = true;
    bool kept = false;
    for (const std::string& target : order) {
        kept = take(target + " was not deleted: the system refused\n") || kept;
    }
    failure_reported = failure_reported || fatal || kept;
    EXPECT_EQ(body.substr(at), fatal ? "" : "\nfin\n");
    EXPECT_TRUE(run.status.exited) << "signal " << run.status.signal;
    EXPECT_EQ(run.status.code, fatal || kept ? 1 : 0);
    // These fail only while an output is made: never silently.
    static const std::set<fault_point> writing{fault_point::create, fault_point::write,
                                               fault_point::sync,   fault_point::close,
                                               fault_point::rename, fault_point::unlink};
    if (point != NO_FAULT && writing.contains(static_cast<fault_point>(point))) {
        EXPECT_TRUE(failure_reported) << "failure reported as success";
    }
    expect_state(dir.root, allowed);
}

std::vector<scenario> fault_scenarios() {
    const std::string big = random_bytes(COPY_BLOCK + 100, 1);  // a body of two blocks
    const std::string small = random_bytes(100, 2);
    std::vector<scenario> all;
    for (bool delete_input : {false, true}) {
        all.push_back({"plain", {{"x", big}}, "x", delete_input, {}});
        all.push_back(
            {"container", {{"x.tvk", container_of(big, KEY)}}, "x.tvk", delete_input, {}});
        // A plain file, a container, and one without the suffix (decrypted in place).
        all.push_back({"tree",
                       {{"d/a", small},
                        {"d/b.tvk", container_of(big, KEY)},
                        {"d/c", container_of(small, KEY)}},
                       "d",
                       delete_input,
                       {}});
    }
    for (scenario& s : all) {
        for (const auto& [name, bytes] : s.files) {
            s.outputs[name] =
                bytes.starts_with(header_of(KEY)) ? plain_of(bytes, KEY) : container_of(bytes, KEY);
        }
    }
    return all;
}

}  // namespace

TEST(InjectedFaults, EveryCallOfEveryPointFailsCleanlyThroughTheWholeRun) {
    int injected = 0;
    for (const scenario& s : fault_scenarios()) {
        SCOPED_TRACE(testing::Message() << s.name << (s.delete_input ? " -d" : ""));
        std::vector<int> calls;
        {
            temp_dir dir;
            for (const auto& [name, bytes] : s.files) ASSERT_TRUE(write_file(dir.at(name), bytes));
            const std::vector<std::string> order = targets_in(dir.root, s.pattern);
            const child_run clean = run_with_fault(dir, s, NO_FAULT, 0);
            ASSERT_NO_FATAL_FAILURE(check_faulted_run(dir, s, order, NO_FAULT, 0, clean));
            ASSERT_NE(clean.run.after_dialogue.find("ok!"), std::string::npos);
            calls = clean.calls;
        }
        for (int point = 0; point < POINTS; ++point) {
            for (int nth = 1; nth <= calls[point]; ++nth) {
                SCOPED_TRACE(testing::Message() << POINT_NAMES[point] << " call " << nth);
                temp_dir dir;
                for (const auto& [name, bytes] : s.files) write_file(dir.at(name), bytes);
                const std::vector<std::string> order = targets_in(dir.root, s.pattern);
                check_faulted_run(dir, s, order, point, nth, run_with_fault(dir, s, point, nth));
                ++injected;
            }
        }
    }
    RecordProperty("faults_injected", injected);
    std::printf("faults injected through whole runs: %d\n", injected);
    EXPECT_GT(injected, 0);
}

namespace {

// Drops root's privileges (in a forked child), so permission bits hold.
// Without them the user's own bits hold already.
bool become_nobody() {
    if (geteuid() != 0) return true;
    return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
}

// Hands path to the user become_nobody() makes (nothing to do for others).
bool give_to_nobody(const std::string& path) {
    return geteuid() != 0 || chown(path.c_str(), 65534, 65534) == 0;
}

// One run of the driver in a child, after prepare there.
finished_run run_in_child(const temp_dir& dir, const std::vector<std::string>& args,
                          bool (*prepare)() = nullptr) {
    return run_driver_in_child(dir.root, args, KEY, prepare).run;
}

void expect_ended(const finished_run& run, const std::string& after_dialogue, int status) {
    EXPECT_TRUE(run.dialogue) << run.transcript;
    EXPECT_EQ(run.after_dialogue, after_dialogue);
    EXPECT_TRUE(run.status.exited) << "signal " << run.status.signal;
    EXPECT_EQ(run.status.code, status);
}

}  // namespace

// A small tmpfs in the child's own mount namespace: nothing is visible
// outside it, and it goes away with the child. The run itself is a
// grandchild; the child reports what the file system holds afterwards.
TEST(RealFaults, FullFileSystemEndsTheRunWithTheInputIntact) {
    const std::string plain = random_bytes(300 * 1024, 3);  // its output cannot fit beside it
    for (const bool decrypting : {false, true}) {
        SCOPED_TRACE(decrypting ? "decrypting" : "encrypting");
        temp_dir dir;
        const std::string mount_point = dir.at("small");
        ASSERT_TRUE(fs::create_directory(mount_point));
        const std::string input = decrypting ? "big.tvk" : "big";
        const std::string bytes = decrypting ? container_of(plain, KEY) : plain;
        pty::child_options options;
        options.working_dir = mount_point;
        pty::session session;
        ASSERT_TRUE(session.start(
            [&](int report) -> int {
                const bool mounted =
                    unshare(CLONE_NEWNS) == 0 &&
                    mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                    mount("tovik-small", mount_point.c_str(), "tmpfs", 0, "size=512k") == 0;
                if (!mounted) return write(report, "no mount", 8) == 8 ? 0 : 98;
                if (chdir(mount_point.c_str()) != 0 || !write_file(input, bytes)) return 97;
                const pid_t runner = fork();
                if (runner == 0) run_driver_and_exit({input, "-d"});
                int status = 0;
                waitpid(runner, &status, 0);
                std::string state;
                for (const auto& [name, content] : snapshot(".")) {
                    state += name + (content == bytes ? " intact\n" : " changed\n");
                }
                if (write(report, state.data(), state.size()) != ssize_t(state.size())) return 96;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            },
            options));
        if (!session.wait_for_output(BANNER + "Key:")) {
            session.wait_exit();
            if (session.report() == "no mount") {
                GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount namespaces)";
            }
            FAIL() << session.transcript() << session.report();
        }
        type_dialogue(session, KEY);
        const finished_run run = finish(session, KEY.size());
        expect_ended(run, "\ncannot write to disk, possibly full\n", 1);
        EXPECT_EQ(session.report(), input + " intact\n");
    }
}

TEST(RealFaults, UnwritableDirectoryWritesAndDeletesNothing) {
    temp_dir dir;
    write_file(dir.at("locked/a"), "plain bytes");
    write_file(dir.at("locked/b.tvk"), container_of("contained", KEY));
    for (const char* name : {"locked/a", "locked/b.tvk"}) ASSERT_TRUE(give_to_nobody(dir.at(name)));
    ASSERT_EQ(chmod(dir.at("locked").c_str(), 0555), 0);
    const auto before = snapshot(dir.root);
    expect_ended(run_in_child(dir, {"locked/a", "-d"}, become_nobody),
                 "\n\ncannot write the output file locked/a.tvk\n", 1);
    expect_ended(run_in_child(dir, {"locked/b.tvk", "-d"}, become_nobody),
                 "\n\ncannot write the output file locked/b.tvk\n", 1);
    EXPECT_EQ(snapshot(dir.root), before);
}

TEST(RealFaults, DirectoryInTheOutputsPlaceIsNotReplaced) {
    temp_dir dir;
    write_file(dir.at("a"), "plain bytes");
    write_file(dir.at("a.tvk/kept"), "a file in the way");
    write_file(dir.at("b.tvk"), container_of("contained", KEY));
    write_file(dir.at("b/kept"), "another");
    const auto before = snapshot(dir.root);
    expect_ended(run_in_child(dir, {"a", "-d"}), "\n\ncannot write the output file a.tvk\n", 1);
    expect_ended(run_in_child(dir, {"b.tvk", "-d"}), "\n\ncannot write the output file b.tvk\n", 1);
    EXPECT_EQ(snapshot(dir.root), before);
}

// A read-only file cannot be opened for update: it is encrypted all the
// same, after the key was typed twice; its container keeps its mode.
TEST(RealFaults, ReadOnlyInputIsEncryptedAfterTwoKeyEntries) {
    temp_dir dir;
    ASSERT_TRUE(write_file(dir.at("box/ro"), "read only bytes", 0444));
    ASSERT_TRUE(give_to_nobody(dir.at("box")));
    ASSERT_TRUE(give_to_nobody(dir.at("box/ro")));
    const finished_run run = run_in_child(dir, {"box/ro", "-d"}, become_nobody);
    EXPECT_TRUE(run.confirmed);
    expect_ended(run, "\nbox/ro encrypting .....ok!\n\nfin\n", 0);
    EXPECT_EQ(
        snapshot(dir.root),
        (std::map<std::string, std::string>{{"box/ro.tvk", container_of("read only bytes", KEY)}}));
    struct stat status {};
    ASSERT_EQ(stat(dir.at("box/ro.tvk").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0444u);
}

// Targets removed or replaced while the ready prompt waits are bypassed like
// empty files; the others are processed.
TEST(RealFaults, TargetsThatVanishBeforeProcessingAreBypassed) {
    temp_dir dir;
    for (const char* name : {"d/one", "d/two", "d/three"}) write_file(dir.at(name), name);
    const std::vector<std::string> order = targets_in(dir.root, "d");
    ASSERT_EQ(order.size(), 3u);
    pty::session session;
    ASSERT_TRUE(start_binary(session, dir.root, {"d", "-d"}));
    ASSERT_TRUE(type_dialogue(session, KEY, ""));
    ASSERT_TRUE(fs::remove(dir.at(order[0])));
    ASSERT_TRUE(fs::remove(dir.at(order[1])));
    ASSERT_EQ(mkfifo(dir.at(order[1]).c_str(), 0644), 0);  // never opened, so never waited on
    ASSERT_TRUE(session.send("y\n"));
    const finished_run run = finish(session, KEY.size());
    expect_ended(run,
                 "\nbypassing 0byte file " + order[0] + "\nbypassing 0byte file " + order[1] +
                     "\n" + order[2] + " encrypting .....ok!\n\nfin\n",
                 0);
    EXPECT_EQ(snapshot(dir.root),
              (std::map<std::string, std::string>{
                  {order[1], NOT_REGULAR}, {order[2] + ".tvk", container_of(order[2], KEY)}}));
}

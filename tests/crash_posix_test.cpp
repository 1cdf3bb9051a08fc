// Every crash point of whole runs: the driver runs in a forked child that
// records its effects on the disk (platform/disk_record.h) and hands the
// record over event by event; every state a power cut could leave after
// each operation is then checked (support/crash_model.h).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cipher/key_schedule.h"
#include "container/block_ring.h"
#include "platform/disk_record.h"
#include "support/faults.h"
#include "support/crash_model.h"
#include "support/tovik_run_posix.h"

using namespace tovik_run;

namespace {

const std::string KEY = "crash key";

// The child's record, written to its report descriptor event by event: a
// run ended by a signal leaves its record whole up to its end.
class report_sink final : public disk_sink {
public:
    explicit report_sink(int fd) : fd_(fd) {}
    void take(const disk_event& event) override { send(encode_event(event)); }
    // The test's own change of a file during the run.
    void outside(const std::string& path, const std::string& bytes) {
        send(encode_outside(path, bytes));
    }

private:
    void send(const std::string& bytes) {
        const std::lock_guard lock(mutex_);
        for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t put = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) _exit(97);
            sent += static_cast<std::size_t>(put);
        }
    }
    int fd_;
    std::mutex mutex_;
};

// Appends to path and syncs it, as a user editing a file during the run.
std::string edit_durably(const std::string& path) {
    const std::string edit = " (edited)";
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 || ::write(fd, edit.data(), edit.size()) != static_cast<ssize_t>(edit.size()) ||
        ::fsync(fd) != 0 || ::close(fd) != 0) {
        _exit(96);
    }
    return read_file(path);
}

enum class run_twist {
    none,
    edit,       // the targets in `acted_on` are edited just before their commit
    wrong_key,  // the middle target is a container under another key
    terminate,  // SIGTERM halfway through the closes of inputs and outputs
};

struct workload {
    const char* name;
    std::map<std::string, std::string> files;
    std::string pattern;
    bool delete_input;
    run_twist twist = run_twist::none;
    std::set<std::string> acted_on = {};
};

// A dozen files of mixed sizes: plain files and containers, one larger than
// a copy block, a container without ".tvk" (decrypted in place), and "t/a"
// beside "t/a.tvk", each the other's output: both are skipped.
std::map<std::string, std::string> mixed_tree() {
    return {
        {"t/p1", random_bytes(1, 1)},
        {"t/p2", random_bytes(BLOCK, 2)},
        {"t/p3", random_bytes(BLOCK + 1, 3)},
        {"t/big", random_bytes(COPY_BLOCK + 5000, 4)},
        {"t/d/p4", random_bytes(20000, 5)},
        {"t/d/p5", random_bytes(300, 6)},
        {"t/c1.tvk", container_of(random_bytes(100, 7), KEY)},
        {"t/d/c2.tvk", container_of(random_bytes(9000, 8), KEY)},
        {"t/c3.tvk", container_of(random_bytes(70000, 9), KEY)},
        {"t/d/inplace", container_of(random_bytes(6000, 10), KEY)},
        {"t/a", random_bytes(50, 11)},
        {"t/a.tvk", container_of(random_bytes(60, 12), KEY)},
    };
}

// Containers decrypted by a wildcard that leaves the older "r/x" out: its
// name is taken by an output, and replaced.
std::map<std::string, std::string> replacing_tree() {
    return {
        {"r/x.tvk", container_of(random_bytes(7000, 13), KEY)},
        {"r/x", "an older x"},
        {"r/y.tvk", container_of(random_bytes(COPY_BLOCK + 1, 14), KEY)},
    };
}

bool is_container(const std::string& bytes) {
    return bytes.starts_with(header_of(KEY));
}

// A line of what the run said after the dialogue (which ends in a newline) begins so.
bool said_line(const std::string& said, const std::string& start) {
    return said.find("\n" + start) != std::string::npos;
}

std::string output_of(const std::string& target, const std::string& bytes) {
    return is_container(bytes) ? stripped(target) : target + ".tvk";
}

struct checked_run {
    finished_run run;
    crash_verdict verdict;
    std::vector<std::string> committed;  // targets reported done, in order
    bool cut_short = false;
};

// Runs w with workers (TOVIK_WORKERS) in a child that records its disk
// effects, omitting the nth sync call when omit_sync > 0, then checks every
// crash state of the record.
checked_run check_run(const workload& w, const char* workers, int omit_sync = 0) {
    checked_run result;
    temp_dir dir;
    for (const auto& [name, bytes] : w.files) {
        if (!write_file(dir.at(name), bytes)) ADD_FAILURE() << "cannot write " << name;
    }
    const std::vector<std::string> order = targets_in(dir.root, w.pattern);
    // Commits, in order, are the renames: those skipped by the rules rename nothing.
    std::vector<std::string> renaming;
    for (const std::string& target : order) {
        const std::string& bytes = read_file(dir.at(target));
        const std::string output = output_of(target, bytes);
        if (output == target || std::find(order.begin(), order.end(), output) == order.end())
            renaming.push_back(target);
    }
    if (w.twist == run_twist::wrong_key) {
        write_file(dir.at(renaming[renaming.size() / 2]),
                   container_of("another key's", "another key"));
    }
    std::vector<int> editing_calls;  // the rename calls to edit before, from 1
    for (std::size_t i = 0; i < renaming.size(); ++i) {
        if (w.acted_on.contains(renaming[i])) editing_calls.push_back(static_cast<int>(i) + 1);
    }
    crash_expectations expected;
    expected.files = snapshot(dir.root);

    std::vector<std::string> args{w.pattern};
    if (w.delete_input) args.push_back("-d");
    pty::session session;
    const bool started = start_driver(session, dir.root, args, [&](int report) {
        ::setenv("TOVIK_WORKERS", workers, 1);
        auto* sink = new report_sink(report);  // for the child's whole life
        fault_clear();
        if (omit_sync > 0) fault_omit(fault_point::sync, omit_sync);
        // Commits (and so renames) are made in order by one thread.
        if (w.twist == run_twist::edit) {
            fault_hook(fault_point::rename, [&, sink, calls = 0]() mutable {
                const auto at = std::find(editing_calls.begin(), editing_calls.end(), ++calls);
                if (at == editing_calls.end()) return;
                const std::string& path = renaming[static_cast<std::size_t>(*at - 1)];
                sink->outside(path, edit_durably(path));
            });
        }
        // Each target prepared closes its input and its output, on any
        // thread, never while holding off the ending: that thread waits
        // there for the end the signal brings.
        if (w.twist == run_twist::terminate) {
            fault_hook(fault_point::close, [halfway = static_cast<int>(order.size())] {
                static std::atomic<int> calls{0};
                if (++calls != halfway) return;
                ::kill(::getpid(), SIGTERM);
                for (;;) ::pause();
            });
        }
        disk_record_to(sink);
        return true;
    });
    if (!started) {
        ADD_FAILURE() << "cannot start the run";
        return result;
    }
    type_dialogue(session, KEY);
    result.run = finish(session, KEY.size());
    const std::string& said = result.run.after_dialogue;

    std::vector<recorded_event> record;
    EXPECT_TRUE(decode_record(session.report(), record, result.cut_short)) << "not a record";
    expected.finished = said.ends_with("\nfin\n");
    for (const std::string& target : order) {
        const std::string& bytes = expected.files.at(target);
        // A container under another key, a target the rules skip, or an
        // input changed before its replacement in place: nothing is promised.
        if (bytes.starts_with(CONTAINER_MAGIC) && !is_container(bytes)) continue;
        if (said_line(said, target + " skipped:") || said_line(said, target + " was not replaced"))
            continue;
        crash_promise p{target, output_of(target, bytes),
                        is_container(bytes) ? plain_of(bytes, KEY) : container_of(bytes, KEY)};
        p.committed = said_line(
            said, target + (is_container(bytes) ? " decrypting" : " encrypting") + " .....ok!\n");
        if (p.committed) result.committed.push_back(target);
        expected.promises.push_back(std::move(p));
    }
    result.verdict = check_crash_states(record, expected);
    // The record is faithful: replayed with nothing lost, it gives the disk.
    const auto disk = snapshot(dir.root);
    for (const auto& [name, bytes] : result.verdict.final_state) {
        EXPECT_TRUE(disk.contains(name) && disk.at(name) == bytes)
            << name << " differs from the disk";
    }
    for (const auto& [name, bytes] : disk) {
        EXPECT_TRUE(result.verdict.final_state.contains(name)) << name << " is not in the record";
    }
    EXPECT_EQ(result.verdict.count(crash_fault::record), 0u) << result.verdict.report;
    return result;
}

// How each kind of run must end, from what it printed. Several workers may
// have prepared half the targets before the first commit: a run they end
// early may have committed none.
void expect_ending(const workload& w, const checked_run& c, bool one_worker) {
    const finished_run& run = c.run;
    const std::string& said = run.after_dialogue;
    ASSERT_TRUE(run.dialogue) << run.transcript;
    switch (w.twist) {
        case run_twist::none:
            EXPECT_TRUE(said.ends_with("\nfin\n")) << said;
            EXPECT_TRUE(run.status.exited && run.status.code == 0) << said;
            EXPECT_FALSE(c.cut_short);
            break;
        case run_twist::edit:
            EXPECT_TRUE(said.ends_with("\nfin\n")) << said;
            EXPECT_TRUE(run.status.exited && run.status.code == 1) << said;
            for (const std::string& target : w.acted_on) {
                EXPECT_TRUE(said_line(said, target + " was not")) << target << ": " << said;
            }
            break;
        case run_twist::wrong_key:
            EXPECT_NE(said.find("incorrect key"), std::string::npos) << said;
            EXPECT_FALSE(said.ends_with("\nfin\n")) << said;
            break;
        case run_twist::terminate:
            EXPECT_TRUE(run.status.signaled && run.status.signal == SIGTERM) << said;
            if (!one_worker) return;
            break;
    }
    EXPECT_FALSE(c.committed.empty()) << said;
}

}  // namespace

TEST(Crash, EveryCrashStateOfWholeRunsKeepsEachFileOrItsOutput) {
    const workload workloads[] = {
        {"tree", mixed_tree(), "t", false},
        {"tree -d", mixed_tree(), "t", true},
        {"replacing -d", replacing_tree(), "r/*.tvk", true},
        {"edited inputs -d", mixed_tree(), "t", true, run_twist::edit, {"t/d/p4", "t/d/inplace"}},
        {"wrong key -d", mixed_tree(), "t", true, run_twist::wrong_key},
        {"terminated -d", mixed_tree(), "t", true, run_twist::terminate},
    };
    std::size_t all_states = 0;
    for (const workload& w : workloads) {
        for (const char* workers : {"1", "4"}) {
            SCOPED_TRACE(testing::Message() << w.name << ", " << workers << " workers");
            const checked_run c = check_run(w, workers);
            expect_ending(w, c, workers == std::string("1"));
            const crash_verdict& v = c.verdict;
            std::printf("crash states of %s, %s workers: %zu operations, %zu crash states\n",
                        w.name, workers, v.operations, v.states);
            EXPECT_GT(v.states, v.operations);
            EXPECT_EQ(v.reduced, 0u) << "a group was too large to take whole";
            all_states += v.states;
            EXPECT_EQ(v.fault_count(), 0u) << v.report;
        }
    }
    std::printf("crash states checked in all: %zu\n", all_states);
    RecordProperty("crash_states", static_cast<int>(all_states));
}

// A sync left out must show: the checker names the operation after which a
// crash loses a file, and the file. {in} stands for the first target
// reported done that is not decrypted in place, {out} for its output.
TEST(Crash, ASyncLeftOutIsFoundWithItsOperationAndFile) {
    struct omission {
        const char* name;
        bool delete_input;
        int sync_call;  // of one worker: 1 the fsync in place, 2 the syncfs
        crash_fault kind;
        std::vector<std::string> told;  // parts of the report
    };
    const omission omissions[] = {
        {"fsync before the rename in place",
         false,
         1,
         crash_fault::user_file,
         {"rename t/d/inplace.tovik-partial-",
          " -> t/d/inplace): t/d/inplace holds 0 bytes, not its own"}},
        {"syncfs before the deletions",
         true,
         2,
         crash_fault::user_file,
         {"unlink {in}): {in} is lost, and its output {out} is missing"}},
        {"syncfs before fin",
         false,
         2,
         crash_fault::output_at_fin,
         {"): at fin, the output {out} "}},
    };
    for (const omission& o : omissions) {
        SCOPED_TRACE(o.name);
        const workload w{o.name, mixed_tree(), "t", o.delete_input};
        const checked_run c = check_run(w, "1", o.sync_call);
        const crash_verdict& v = c.verdict;
        std::printf("with the %s left out: %zu faults in %zu crash states; the first:\n%s", o.name,
                    v.fault_count(), v.states, v.report.substr(0, v.report.find('\n') + 1).c_str());
        EXPECT_GT(v.count(o.kind), 0u) << v.report;
        const auto first =
            std::find_if(c.committed.begin(), c.committed.end(),
                         [&](const std::string& t) { return output_of(t, w.files.at(t)) != t; });
        ASSERT_NE(first, c.committed.end());
        for (std::string text : o.told) {
            for (const auto& [mark, name] :
                 {std::pair{std::string("{in}"), *first},
                  std::pair{std::string("{out}"), output_of(*first, w.files.at(*first))}}) {
                for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
                    text.replace(at, mark.size(), name);
            }
            EXPECT_NE(v.report.find(text), std::string::npos) << text << "\n" << v.report;
        }
    }
}

// Ending signals that arrive while an output is being written (the real
// binary over a large file): the temporary goes, the input stays, the
// terminal keeps its mode, and the run ends by that signal. Signals during
// key entry are covered by the key entry tests.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "platform/ending.h"
#include "support/faults.h"
#include "platform/files.h"
#include "platform/temp_name.h"
#include "support/oracles.h"
#include "support/pty_posix.h"
#include "support/tovik_run_posix.h"

namespace fs = std::filesystem;
using namespace tovik_run;

namespace {

const std::string KEY = "interrupted";
constexpr std::size_t LARGE = 200u << 20;  // far more than is written before the signal lands

// Large and cheap to make: one random mebibyte, each copy marked with its index.
std::string large_bytes() {
    const std::string block = random_bytes(1u << 20, 11);
    std::string bytes;
    bytes.reserve(LARGE);
    for (std::size_t i = 0; bytes.size() < LARGE; ++i) {
        bytes += block;
        std::memcpy(bytes.data() + bytes.size() - block.size(), &i, sizeof i);
    }
    return bytes;
}

enum class delivery { typed_ctrl_c, sent, hang_up };

struct ending {
    const char* name;
    int sig;
    delivery how;
    const char* target;
    bool delete_input;
};

}  // namespace

TEST(Signals, DuringProcessingTheTemporaryGoesAndTheInputStays) {
    temp_dir dir;
    const std::string plain = large_bytes();
    const std::string container = header_of(KEY) + plain;  // any body decrypts to something
    ASSERT_TRUE(write_file(dir.at("big"), plain));
    ASSERT_TRUE(write_file(dir.at("big.tvk"), container));
    const ending endings[] = {
        {"Ctrl+C", SIGINT, delivery::typed_ctrl_c, "big", false},
        {"SIGINT", SIGINT, delivery::sent, "big.tvk", true},
        {"SIGTERM", SIGTERM, delivery::sent, "big", true},
        {"SIGTERM", SIGTERM, delivery::sent, "big.tvk", false},
        {"SIGHUP", SIGHUP, delivery::sent, "big.tvk", true},
        {"hang-up", SIGHUP, delivery::hang_up, "big", true},
        // Every other signal whose default action ends the process, during a
        // decryption: what it leaves behind would be plain text.
        {"SIGQUIT", SIGQUIT, delivery::sent, "big.tvk", false},
        {"SIGUSR1", SIGUSR1, delivery::sent, "big.tvk", false},
        {"SIGUSR2", SIGUSR2, delivery::sent, "big.tvk", true},
        {"SIGALRM", SIGALRM, delivery::sent, "big.tvk", false},
        {"SIGVTALRM", SIGVTALRM, delivery::sent, "big.tvk", false},
        {"SIGPROF", SIGPROF, delivery::sent, "big.tvk", false},
        {"SIGPWR", SIGPWR, delivery::sent, "big.tvk", false},
        {"SIGIO", SIGIO, delivery::sent, "big.tvk", false},
        {"SIGSTKFLT", SIGSTKFLT, delivery::sent, "big.tvk", false},
        {"SIGXCPU", SIGXCPU, delivery::sent, "big.tvk", false},
        {"SIGXFSZ", SIGXFSZ, delivery::sent, "big.tvk", false},
        {"SIGPIPE", SIGPIPE, delivery::sent, "big.tvk", false},
        {"SIGRTMIN", SIGRTMIN, delivery::sent, "big.tvk", false},
        {"SIGRTMAX", SIGRTMAX, delivery::sent, "big.tvk", true},
    };
    rlimit core{};  // SIGQUIT's default action leaves no core file here
    ASSERT_EQ(getrlimit(RLIMIT_CORE, &core), 0);
    core.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &core), 0);
    for (const ending& e : endings) {
        SCOPED_TRACE(testing::Message()
                     << e.name << " " << e.target << (e.delete_input ? " -d" : ""));
        std::vector<std::string> args{e.target};
        if (e.delete_input) args.push_back("-d");
        auto run_owner = std::make_unique<pty::session>();
        // The run is stopped while it writes, so that the ending meets it
        // there however slowly this test is scheduled; when the whole file
        // went by before the stop took hold, it is tried again.
        bool stopped_while_writing = false;
        for (int attempt = 0; attempt < 5 && !stopped_while_writing; ++attempt) {
            if (attempt > 0) {
                run_owner->signal(SIGCONT);
                run_owner->wait_exit();
                for (const std::string& name : dir.names()) fs::remove(dir.at(name));
                ASSERT_TRUE(write_file(dir.at("big"), plain));
                ASSERT_TRUE(write_file(dir.at("big.tvk"), container));
                run_owner = std::make_unique<pty::session>();
            }
            pty::session& run = *run_owner;
            ASSERT_TRUE(start_binary(run, dir.root, args));
            ASSERT_TRUE(type_dialogue(run, KEY));
            ASSERT_TRUE(output_in_progress(run, dir.root)) << run.transcript();
            ASSERT_TRUE(run.signal(SIGSTOP));
            ASSERT_TRUE(run.wait_until_stopped());
            stopped_while_writing = !temporaries(dir.root).empty();
        }
        ASSERT_TRUE(stopped_while_writing) << "every run ended before it could be stopped";
        pty::session& run = *run_owner;
        switch (e.how) {
            case delivery::typed_ctrl_c:
                ASSERT_TRUE(run.send("\x03"));
                break;
            case delivery::sent:
                ASSERT_TRUE(run.signal(e.sig));
                break;
            case delivery::hang_up:
                run.hang_up();
                break;
        }
        run.signal(SIGCONT);  // a hang-up continues the run itself
        const pty::exit_status status = run.wait_exit();
        EXPECT_TRUE(status.signaled && status.signal == e.sig)
            << "exited " << status.exited << " code " << status.code << " signal " << status.signal;
        if (e.how != delivery::hang_up) {
            termios after{};
            ASSERT_TRUE(run.mode(after));
            EXPECT_TRUE(pty::same_mode(after, run.initial_mode()));
            // Nothing was reported for the target: the run ended inside it.
            EXPECT_EQ(run.transcript().find("ok!"), std::string::npos) << run.transcript();
        }
        EXPECT_EQ(dir.names(), (std::set<std::string>{"big", "big.tvk"}));
        EXPECT_TRUE(read_file(dir.at("big")) == plain);
        EXPECT_TRUE(read_file(dir.at("big.tvk")) == container);
    }
}

// Threads making temporaries as fast as they can (each one created and then
// renamed or removed, as the transform does) when an ending signal comes:
// the ending waits for the step in progress, nothing is created after it,
// and no temporary is left, on whichever thread it was made. Every removal
// is slowed, the ending's own too, so that a temporary thrown away while the
// ending removes it is likely: its name must not be freed under the ending
// (AddressSanitizer would end the child otherwise).
TEST(Signals, TemporariesBeingMadeOnAnyThreadAreAllRemoved) {
    for (int threads : {1, 4, 16}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        temp_dir dir;
        pty::session run;
        ASSERT_TRUE(run.start([&dir, threads](int report) -> int {
            fault_hook(fault_point::unlink, [] { std::this_thread::sleep_for(std::chrono::microseconds(300)); });
            if (!start_ending()) return 6;
            const auto make_temporaries = [&dir](int thread) {
                const std::string name = dir.at("out" + std::to_string(thread));
                for (unsigned round = 0;; ++round) {
                    // On the heap, as in a run: gone with its round.
                    const auto output = std::make_unique<temp_output>();
                    if (!begin_output(name, *output) || !write_all(output->file, "partial", 7) ||
                        !close_file(output->file)) {
                        _exit(2);
                    }
                    if (round % 2 == 0 && finish_output(*output, name, true) != file_result::done) _exit(3);
                }
            };
            for (int t = 0; t < threads; ++t) quiet_thread([&make_temporaries, t] { make_temporaries(t); }).detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (write(report, "busy", 4) != 4) return 4;
            pause();
            return 5;
        }));
        ASSERT_TRUE(run.wait_for_report(4));
        ASSERT_TRUE(run.signal(SIGTERM));
        const pty::exit_status status = run.wait_exit();
        EXPECT_TRUE(status.signaled && status.signal == SIGTERM)
            << "exited " << status.exited << " code " << status.code;
        EXPECT_TRUE(temporaries(dir.root).empty());
    }
}

namespace {

// A memory file system where there is one: runs of many files are cheap there.
std::string memory_base() {
    return fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
}

// Plain files of a small tree: relative name -> bytes.
using plain_tree = std::map<std::string, std::string>;

plain_tree small_tree(unsigned seed, int directories, int files_each) {
    std::mt19937 pick(seed);
    plain_tree tree;
    for (int d = 0; d < directories; ++d) {
        for (int f = 0; f < files_each; ++f) {
            tree["t/d" + std::to_string(d) + "/f" + std::to_string(f)] =
                random_bytes(1 + pick() % 6000, pick());
        }
    }
    return tree;
}

// The tree on disk: the plain files, or their containers when decrypting.
bool write_tree(const temp_dir& dir, const plain_tree& tree, bool decrypting) {
    for (const auto& [name, bytes] : tree) {
        if (!write_file(dir.at(decrypting ? name + ".tvk" : name),
                        decrypting ? container_of(bytes, KEY) : bytes)) {
            return false;
        }
    }
    return true;
}

// Every file of the tree is whole: its input as it was, its complete output,
// or both; the input is missing only under "-d", and nothing else is there.
void expect_nothing_lost(const temp_dir& dir, const plain_tree& tree, bool decrypting,
                         bool delete_input) {
    auto found = snapshot(dir.root);
    for (const auto& [name, bytes] : tree) {
        const std::string container = name + ".tvk";
        const std::string& input = decrypting ? container : name;
        const std::string& output = decrypting ? name : container;
        const bool has_input = found.contains(input);
        const bool has_output = found.contains(output);
        const std::string sealed = container_of(bytes, KEY);
        EXPECT_TRUE(!has_input || found[input] == (decrypting ? sealed : bytes)) << input;
        EXPECT_TRUE(!has_output || found[output] == (decrypting ? bytes : sealed)) << output;
        EXPECT_TRUE(has_input || (delete_input && has_output)) << "lost " << name;
        found.erase(input);
        found.erase(output);
    }
    for (const auto& [name, bytes] : found) ADD_FAILURE() << "left behind: " << name;
}

// Waits about ms while taking in the run's output, so that it never waits on
// the terminal meanwhile.
void let_run(pty::session& run, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        run.transcript();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

// Runs of many small files with several workers, each ended by a signal at a
// random moment: encrypting and decrypting, with and without "-d".
TEST(Signals, InterruptsAtRandomMomentsOfManyFilesLoseNothing) {
    std::mt19937 pick(2026);
    int trials = 0;
    int interrupted = 0;
    for (const char* workers : {"2", "4", "16"}) {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            for (bool decrypting : {false, true}) {
                for (bool delete_input : {false, true}) {
                    SCOPED_TRACE(testing::Message() << workers << " workers, " << strsignal(sig)
                                                    << (decrypting ? ", decrypting" : "")
                                                    << (delete_input ? ", -d" : ""));
                    temp_dir dir(memory_base());
                    const plain_tree tree = small_tree(pick(), 10, 100);
                    ASSERT_TRUE(write_tree(dir, tree, decrypting));
                    std::vector<std::string> args{"t"};
                    if (delete_input) args.push_back("-d");
                    pty::child_options options;
                    options.set_env = {{"TOVIK_WORKERS", workers}};
                    pty::session run;
                    ASSERT_TRUE(start_binary(run, dir.root, args, false, options));
                    ASSERT_TRUE(type_dialogue(run, KEY));
                    let_run(run, static_cast<int>(pick() % 60));
                    ASSERT_TRUE(run.signal(sig));
                    const pty::exit_status status = run.wait_exit();
                    if (status.signaled) {
                        EXPECT_EQ(status.signal, sig);
                        ++interrupted;
                    } else {
                        EXPECT_TRUE(status.exited && status.code == 0) << run.transcript();
                    }
                    termios after{};
                    ASSERT_TRUE(run.mode(after));
                    EXPECT_TRUE(pty::same_mode(after, run.initial_mode()));
                    expect_nothing_lost(dir, tree, decrypting, delete_input);
                    ++trials;
                }
            }
        }
    }
    std::printf("%d of %d runs ended by their signal\n", interrupted, trials);
    EXPECT_GE(interrupted, trials / 2) << "most signals came after the end: the test tests little";
}

// Standard output a pipe whose reader goes away early (tovik t | head): the
// run ends with a failure status, leaving every file whole and no temporary.
TEST(Signals, AClosedOutputEndsTheRunCleanly) {
    for (bool delete_input : {false, true}) {
        SCOPED_TRACE(delete_input ? "-d" : "");
        temp_dir dir(memory_base());
        const plain_tree tree = small_tree(3, 4, 500);
        ASSERT_TRUE(write_tree(dir, tree, false));
        // The banner, the dialogue and a few reports go to dd, which reads a
        // byte at a time and leaves; the terminal shows the dialogue.
        // tovik's own status comes back.
        std::vector<std::string> argv{
            "/bin/bash", "-c",
            "\"$0\" \"$@\" | dd bs=1 count=1000 of=/dev/null status=none; exit ${PIPESTATUS[0]}",
            TOVIK_BINARY, "t"};
        if (delete_input) argv.push_back("-d");
        pty::child_options options;
        options.working_dir = dir.root;
        options.set_env = {{"TOVIK_WORKERS", "4"}};
        pty::session run;
        ASSERT_TRUE(run.start(argv, options));
        ASSERT_TRUE(type_dialogue(run, KEY));
        const pty::exit_status status = run.wait_exit();
        EXPECT_TRUE(status.exited && status.code == 1) << "exited " << status.exited << " code "
                                                       << status.code << " signal " << status.signal;
        expect_nothing_lost(dir, tree, false, delete_input);
    }
}

// A reader that leaves after five reports (tovik t | head): the run notices
// at its next line, not a buffer later, and makes few more containers.
TEST(Signals, AReaderThatLeavesIsNoticedAtTheNextLine) {
    temp_dir dir(memory_base());
    for (int i = 0; i < 600; ++i) {
        ASSERT_TRUE(write_file(dir.at("t/f" + std::to_string(1000 + i)), random_bytes(64u << 10, i)));
    }
    const std::string before_reports = dialogue_text(KEY.size(), true, "") + "\n";
    const std::string lines =
        std::to_string(std::count(before_reports.begin(), before_reports.end(), '\n') + 5);
    pty::child_options options;
    options.working_dir = dir.root;
    options.set_env = {{"TOVIK_WORKERS", "1"}};
    pty::session run;
    ASSERT_TRUE(run.start({"/bin/bash", "-c",
                           "\"$0\" t | head -n " + lines + " >/dev/null; exit ${PIPESTATUS[0]}",
                           TOVIK_BINARY},
                          options));
    ASSERT_TRUE(type_dialogue(run, KEY));
    const pty::exit_status status = run.wait_exit();
    EXPECT_TRUE(status.exited && status.code == 1) << run.transcript();
    int containers = 0;
    for (const auto& [name, bytes] : snapshot(dir.root)) containers += name.ends_with(".tvk");
    // A buffer of 4 KiB holds 146 of these reports: the run would notice the
    // reader's leaving only at its second one. The reader may take a while to
    // go once it has its lines.
    EXPECT_LT(containers, 5 + 100) << "containers made after the reader left";
    std::printf("%d containers made for 5 reports read\n", containers);
    EXPECT_TRUE(temporaries(dir.root).empty());
}

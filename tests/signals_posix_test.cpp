// Ending signals that arrive while an output is being written (the real
// binary over a large file): the temporary goes, the input stays, the
// terminal keeps its mode, and the run ends by that signal. Signals during
// key entry are covered by the key entry tests.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "platform/interrupt.h"
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
    };
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

// A signal that comes while the cleanup is held (a temporary between its
// creation and its tracking) waits for the release, also when a worker
// thread started under the hold could have taken it; then it removes the
// temporary tracked meanwhile and ends the run.
TEST(Signals, HeldCleanupWaitsEvenWithAWorkerRunning) {
    temp_dir dir;
    const std::string temp = dir.at("out.tovik-held");
    pty::session run;
    ASSERT_TRUE(run.start([&temp](int report) -> int {
        install_interrupt_cleanup();
        hold_interrupts();
        std::thread([] { pause(); }).detach();
        kill(getpid(), SIGTERM);
        // Still here: the signal waits. Now the step it must not split.
        if (!write_file(temp, "partial")) return 2;
        track_partial_output(temp.c_str());
        if (write(report, "held", 4) != 4) return 3;
        release_interrupts();
        return 4;  // not reached: the signal ends the run here
    }));
    const pty::exit_status status = run.wait_exit();
    EXPECT_TRUE(status.signaled && status.signal == SIGTERM)
        << "exited " << status.exited << " code " << status.code;
    EXPECT_EQ(run.report(), "held");
    EXPECT_TRUE(dir.names().empty());
}

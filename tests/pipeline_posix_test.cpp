// The ends of a run with workers busy: a fatal outcome stops the work in
// flight, out of memory on any thread is a failure and never an abort, and a
// key typed once is checked before any later target is touched. The driver
// runs in a forked child with a given number of workers; the fault seam slows
// or fails its calls and counts them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "support/faults.h"
#include "support/oracles.h"
#include "support/tovik_run_posix.h"

using namespace tovik_run;

namespace {

const std::string KEY = "busy workers";

// The driver on pattern t in dir with workers threads, once arm has set the
// fault seam up in the child; KEY typed at its prompts.
child_run run_with(const temp_dir& dir, const std::string& workers,
                   const std::function<void()>& arm) {
    return run_driver_in_child(dir.root, {"t"}, KEY, [&] {
        arm();
        return ::setenv("TOVIK_WORKERS", workers.c_str(), 1) == 0;
    });
}

void expect_exit(const finished_run& run, int code) {
    EXPECT_TRUE(run.status.exited && run.status.code == code)
        << "exited " << run.status.exited << " code " << run.status.code << " signal "
        << run.status.signal << " [" << run.transcript << "]";
}

}  // namespace

// The second target is a container under another key, the third a long file
// whose copy, slowed, has begun: the run ends at the report without copying it.
TEST(Pipeline, AFatalEndStopsTheCopyInFlight) {
    constexpr std::size_t LONG = 64u << 20;  // 512 reads of a block, slowed to a millisecond each
    for (const char* workers : {"2", "4", "16"}) {
        SCOPED_TRACE(testing::Message() << workers << " workers");
        temp_dir dir;
        for (const char* name : {"t/a", "t/b", "t/c"}) ASSERT_TRUE(write_file(dir.at(name), "x"));
        const std::vector<std::string> order = targets_in(dir.root, "t");
        ASSERT_EQ(order.size(), 3u);
        const std::string plain = random_bytes(1000, 1);
        const std::string long_bytes = random_bytes(LONG, 2);
        ASSERT_TRUE(write_file(dir.at(order[0]), plain));
        ASSERT_TRUE(write_file(dir.at(order[1]), container_of(plain, "another key")));
        ASSERT_TRUE(write_file(dir.at(order[2]), long_bytes));
        const child_run r = run_with(dir, workers, [] {
            fault_hook(fault_point::read, [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
            // The first output is closed, and so reported, once the long copy
            // is under way. (Not a hook at the rename: that runs under the
            // hold, which the long copy needs for its temporary.)
            fault_hook(fault_point::close, [] {
                while (fault_calls(fault_point::read) < 20) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            });
        });
        EXPECT_EQ(r.run.after_dialogue, "\n" + order[0] + " encrypting .....ok!\n" +
                                            "incorrect key, no operations were performed\n");
        expect_exit(r.run, 0);
        EXPECT_LT(r.calls_of(fault_point::read), 100) << "the long file was copied after the end";
        EXPECT_TRUE(read_file(dir.at(order[2])) == long_bytes);
        EXPECT_TRUE(temporaries(dir.root).empty());
        EXPECT_FALSE(std::filesystem::exists(dir.at(order[2] + ".tvk")));
    }
}

// Out of memory on any thread ends the run at the target it struck, with its
// own line: nothing is lost, no temporary stays, and the run does not end as
// a success.
TEST(Pipeline, OutOfMemoryOnAnyThreadEndsCleanly) {
    const std::thread::id main_thread = std::this_thread::get_id();  // the child's too: fork keeps it
    struct failing {
        const char* name;
        fault_point point;
        bool on_workers;  // else on the main thread
    };
    for (const failing f : {failing{"reading, on a worker", fault_point::read, true},
                            failing{"renaming, on the main thread", fault_point::rename, false}}) {
        SCOPED_TRACE(f.name);
        temp_dir dir;
        std::map<std::string, std::string> files;
        for (int i = 0; i < 8; ++i) {
            files["t/f" + std::to_string(i)] = random_bytes(600u << 10, i);  // too long for the main thread to take
            ASSERT_TRUE(write_file(dir.at("t/f" + std::to_string(i)), files["t/f" + std::to_string(i)]));
        }
        const std::vector<std::string> order = targets_in(dir.root, "t");
        const child_run r = run_with(dir, "4", [&] {
            fault_hook(f.point, [&] {
                if ((std::this_thread::get_id() != main_thread) == f.on_workers) throw std::bad_alloc();
            });
        });
        expect_exit(r.run, 1);
        // The targets before the one struck are done.
        std::string expected = "\n";
        for (std::size_t done = 0; done < order.size() && r.run.after_dialogue.starts_with(
                                       expected + order[done] + " encrypting .....ok!\n");
             ++done) {
            expected += order[done] + " encrypting .....ok!\n";
        }
        EXPECT_EQ(r.run.after_dialogue, expected + "\ncannot go on: out of memory\n");
        for (const auto& [name, bytes] : files) EXPECT_TRUE(read_file(dir.at(name)) == bytes) << name;
        EXPECT_TRUE(temporaries(dir.root).empty());
    }
}

// The head is a container under another key, typed once: the run ends at its
// header, and no later target is read or given a temporary.
TEST(Pipeline, AKeyTypedOnceIsCheckedBeforeAnyOtherTarget) {
    for (const char* workers : {"1", "2", "4", "16"}) {
        SCOPED_TRACE(testing::Message() << workers << " workers");
        temp_dir dir;
        for (int i = 0; i < 20; ++i) ASSERT_TRUE(write_file(dir.at("t/f" + std::to_string(i)), "plain"));
        const std::vector<std::string> order = targets_in(dir.root, "t");
        ASSERT_TRUE(write_file(dir.at(order[0]), container_of("plain", "another key")));
        const child_run r = run_with(dir, workers, [] {});
        EXPECT_FALSE(r.run.confirmed);
        EXPECT_EQ(r.run.after_dialogue, "\nincorrect key, no operations were performed\n");
        expect_exit(r.run, 0);
        EXPECT_EQ(r.calls_of(fault_point::create), 0);
        EXPECT_EQ(r.calls_of(fault_point::read), 1) << "read more than the head's header, once before the prompt";
    }
}

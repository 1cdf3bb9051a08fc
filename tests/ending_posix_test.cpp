// Ways out of a run that are not signals: no thread to take the ending
// signals, and no memory. Through the real program: each ends before
// anything is lost, with a line that says why and status 1.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "front/driver.h"
#include "support/tovik_run_posix.h"

using namespace tovik_run;

namespace {

const std::string KEY = "no room";
const std::string NO_THREAD = "\ncannot go on: no thread can be started to end the run safely\n";

// Sanitizer runtimes reserve far more address space than any limit below.
bool sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#endif
#endif
    return false;
}

}  // namespace

// A user at the process limit: the thread that ends a run cleanly cannot be
// made, so the run is refused before "Key:", the terminal as it was and
// nothing touched. (Root is not held to the limit: the run becomes nobody.)
TEST(Ending, NoThreadNoRun) {
    temp_dir dir;
    ASSERT_TRUE(write_file(dir.at("t/a"), "plain"));
    const auto before = snapshot(dir.root);
    pty::child_options options;
    options.working_dir = dir.root;
    pty::session run;
    ASSERT_TRUE(run.start(
        [](int) -> int {
            if (::geteuid() == 0 &&
                (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
                return 120;
            const rlimit this_process_alone{1, 1};
            if (::setrlimit(RLIMIT_NPROC, &this_process_alone) != 0) return 121;
            // Ended at once: a leak checker at the exit would want a thread.
            char program[] = "tovik", pattern[] = "t";
            char* argv[] = {program, pattern, nullptr};
            const int status = run_driver(2, argv);
            std::fflush(stdout);
            ::_exit(status);
        },
        options));
    const pty::exit_status status = run.wait_exit();
    EXPECT_TRUE(status.exited && status.code == 1) << status.code << " " << status.signal;
    EXPECT_EQ(run.transcript(), BANNER + NO_THREAD);
    termios after{};
    ASSERT_TRUE(run.mode(after));
    EXPECT_TRUE(pty::same_mode(after, run.initial_mode()));
    EXPECT_TRUE(snapshot(dir.root) == before);
}

// Collection and run under address-space limits from tight to loose: every
// file is reported, or the run ends with the line and status 1; never a
// list cut short in silence, never a file lost.
TEST(Ending, OutOfMemoryIsSaidAndEndsTheRun) {
    if (sanitized()) GTEST_SKIP() << "a sanitizer's runtime needs more address space than the limits";
    constexpr int FILES = 8000;
    const auto name_of = [](int i) { return "t/d" + std::to_string(i % 20) + "/f" + std::to_string(i); };
    int refused = 0, completed = 0;
    for (rlim_t mib : {6, 8, 16, 64}) {
        SCOPED_TRACE(testing::Message() << mib << " MiB");
        temp_dir dir("/dev/shm");
        for (int i = 0; i < FILES; ++i) ASSERT_TRUE(write_file(dir.at(name_of(i)), "x"));
        pty::child_options options;
        options.limits = {{RLIMIT_AS, mib << 20}};
        pty::session run;
        ASSERT_TRUE(start_binary(run, dir.root, {"t", "-d"}, false, options));
        if (run.wait_for_output("Key:")) {
            ASSERT_TRUE(type_dialogue(run, KEY));
        }
        const finished_run done = finish(run, KEY.size());
        std::size_t reports = 0;
        for (std::size_t at = 0; (at = done.transcript.find(".....ok!\n", at)) != std::string::npos; ++at)
            ++reports;
        if (done.status.exited && done.status.code == 0) {
            EXPECT_EQ(reports, static_cast<std::size_t>(FILES));
            ++completed;
        } else {
            EXPECT_TRUE(done.status.exited && done.status.code == 1) << done.transcript;
            // Memory too short even for the thread that ends a run cleanly:
            // refused before anything is asked.
            EXPECT_TRUE(done.transcript.ends_with("\ncannot go on: out of memory\n") ||
                        done.transcript == BANNER + NO_THREAD)
                << done.transcript.substr(0, 2000);
            ++refused;
        }
        std::printf("%lu MiB: %zu files reported, status %d\n", static_cast<unsigned long>(mib),
                    reports, done.status.code);
        // Every file is whole: its input, or its container where -d deleted it.
        const auto after = snapshot(dir.root);
        for (int i = 0; i < FILES; ++i) {
            const std::string name = name_of(i);
            const bool plain = after.contains(name) && after.at(name) == "x";
            const bool sealed = after.contains(name + ".tvk") && after.at(name + ".tvk") == container_of("x", KEY);
            EXPECT_TRUE(plain || sealed) << name;
            EXPECT_TRUE(plain || reports > 0) << name << " deleted, and nothing was reported";
        }
        EXPECT_TRUE(temporaries(dir.root).empty());
    }
    EXPECT_GT(refused, 0) << "no limit was tight enough: the test tests little";
    EXPECT_GT(completed, 0);
}

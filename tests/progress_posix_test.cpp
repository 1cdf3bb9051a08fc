// The progress line through a real terminal: shown for a long target on
// standard error's terminal, fitted to its width as the window changes, and
// erased before the report; nothing at all when standard error is elsewhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "container/block_ring.h"
#include "support/faults.h"
#include "support/tovik_run_posix.h"

using namespace tovik_run;

namespace {

const std::string KEY = "progress";

}  // namespace

namespace {

// A run of "x" in a child whose reads are slowed down, so that it lasts over
// a second; stderr_file, when given, is where its standard error goes. With
// narrow_at, the terminal is narrowed to 20 columns at that read.
finished_run slow_run(const temp_dir& dir, const std::string& progress,
                      const std::string& stderr_file = "", int narrow_at = 0) {
    pty::child_options options;
    options.working_dir = dir.root;
    options.set_env.push_back({"TOVIK_PROGRESS", progress});
    pty::session session;
    if (!session.start(
            [&](int) -> int {
                if (!stderr_file.empty()) {
                    const int fd = ::open(stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                    ::dup2(fd, STDERR_FILENO);
                }
                fault_hook(fault_point::read, [narrow_at] {
                    ::usleep(60000);
                    if (fault_calls(fault_point::read) + 1 != narrow_at) return;
                    const winsize narrow{24, 20, 0, 0};
                    ::ioctl(STDERR_FILENO, TIOCSWINSZ, &narrow);
                });
                run_driver_and_exit({"x"});
            },
            options)) {
        ADD_FAILURE() << "cannot start the run";
        return {};
    }
    type_dialogue(session, KEY);
    return finish(session, KEY.size());
}

}  // namespace

// A file that takes over a second shows a progress line on standard error's
// terminal, erased before its report; what standard output shows is the same.
// Standard error elsewhere, or TOVIK_PROGRESS=0: nothing at all.
TEST(Progress, ShownOnlyOnATerminalAndErasedBeforeTheReport) {
    temp_dir dir;
    write_file(dir.at("x"), random_bytes(36 * COPY_BLOCK, 9));  // over two seconds
    const std::string report = "\nx encrypting .....ok!\n\nfin\n";

    const finished_run shown = slow_run(dir, "1");
    const std::size_t first = shown.after_dialogue.find('\r');
    const std::size_t last = shown.after_dialogue.rfind('\r');
    ASSERT_NE(first, std::string::npos) << shown.transcript;
    const std::string line = shown.after_dialogue.substr(first, last + 1 - first);
    EXPECT_NE(line.find("x  "), std::string::npos) << line;
    EXPECT_NE(line.find("% "), std::string::npos) << line;
    EXPECT_NE(line.find(" MiB/s"), std::string::npos) << line;
    // Erased: a carriage return, spaces over the widest line drawn, another.
    const std::size_t erase = line.rfind('\r', line.size() - 2);
    std::string erased(line.size() - erase, ' ');
    erased.front() = erased.back() = '\r';
    EXPECT_EQ(line.substr(erase), erased);
    EXPECT_EQ(shown.after_dialogue.substr(0, first) + shown.after_dialogue.substr(last + 1), report);

    // Narrowed while it shows: from then on the line fits the new width, so
    // nothing wraps onto rows the erasing never reaches.
    const finished_run narrowed = slow_run(dir, "1", "", 24);
    std::vector<std::size_t> widths;  // of each redraw, padding included
    for (std::size_t at = narrowed.after_dialogue.find('\r'); at != std::string::npos;) {
        const std::size_t next = narrowed.after_dialogue.find_first_of("\r\n", at + 1);
        if (next == std::string::npos || narrowed.after_dialogue[next] == '\n') break;
        widths.push_back(next - at - 1);
        at = next;
    }
    ASSERT_GE(widths.size(), 3u) << narrowed.transcript;
    EXPECT_GT(widths.front(), 19u);
    EXPECT_LE(widths.back(), 19u);
    EXPECT_TRUE(std::is_sorted(widths.begin(), widths.end(), [](std::size_t a, std::size_t b) {
        return (a <= 19) < (b <= 19);
    })) << "a wide line after the narrowing";

    const finished_run off = slow_run(dir, "0");
    EXPECT_EQ(off.after_dialogue, report);
    const finished_run piped = slow_run(dir, "1", dir.at("stderr"));
    EXPECT_EQ(piped.after_dialogue, report);
    EXPECT_EQ(read_file(dir.at("stderr")), "");
}

// Masked key entry through a real pseudo-terminal. The entry runs in a forked
// child whose controlling terminal is the pty; the child reports each buffer
// back through a pipe. The test process itself never reads a key: it has no
// terminal in CI, and the terminal state is process-wide.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "front/key_entry.h"
#include "platform/ending.h"
#include "platform/terminal.h"
#include "support/pty_posix.h"
#include "support/scratch.h"

namespace {

constexpr char FILL = '\x5A';  // in the buffer before the entry: shows what was written

struct entry {
    int result;
    std::string buffer;  // all PASSPHRASE_SIZE bytes
    bool operator==(const entry&) const = default;
};

// Reports are shorter than a pipe takes at once.
void write_all(int fd, const void* data, std::size_t size) {
    if (write(fd, data, size) != static_cast<ssize_t>(size)) _exit(90);
}

void report_int(int fd, int value) {
    write_all(fd, &value, sizeof value);
}

// Child side: entries, each reported as its result and the whole buffer.
int run_entries(int report_fd, int count) {
    setup_standard_output();
    for (int i = 0; i < count; ++i) {
        char buffer[PASSPHRASE_SIZE];
        std::memset(buffer, FILL, sizeof buffer);
        report_int(report_fd, read_masked_key(buffer, '*'));
        write_all(report_fd, buffer, sizeof buffer);
    }
    std::fflush(stdout);
    return 0;
}

std::vector<entry> entries_of(const std::string& report) {
    std::vector<entry> entries;
    const std::size_t size = sizeof(int) + PASSPHRASE_SIZE;
    for (std::size_t at = 0; at + size <= report.size(); at += size) {
        entry e{};
        std::memcpy(&e.result, report.data() + at, sizeof(int));
        e.buffer = report.substr(at + sizeof(int), PASSPHRASE_SIZE);
        entries.push_back(e);
    }
    return entries;
}

// The stored bytes and the terminator, the rest of the buffer untouched.
std::string buffer_holding(const std::string& stored) {
    std::string buffer = stored;
    buffer.push_back('\0');
    buffer.resize(PASSPHRASE_SIZE, FILL);
    return buffer;
}

// The report of one entry with its result and stored bytes.
std::vector<entry> one_entry(int result, const std::string& stored) {
    return {{result, buffer_holding(stored)}};
}

// The child ended by itself and the terminal is in its own mode again.
void expect_normal_end(pty::session& term) {
    const pty::exit_status status = term.wait_exit();
    EXPECT_TRUE(status.exited && status.code == 0)
        << "exited " << status.exited << " code " << status.code << " signal " << status.signal
        << " timed out " << status.timed_out;
    termios after{};
    EXPECT_TRUE(term.mode(after) && pty::same_mode(after, term.initial_mode()))
        << "terminal mode changed";
}

struct typed {
    std::string bytes;
    std::size_t echoes = 0;  // stars it brings; waited for before the next chunk
};

struct entry_case {
    const char* name;
    std::vector<typed> chunks;        // each typed once the child waits for a key
    std::vector<std::string> stored;  // what each entry stores, one entry each
    bool stdin_is_a_file = false;
};

// Each entry ends at Enter with result 0 and its bytes stored; the terminal
// shows one star per stored byte and nothing else.
TEST(KeyEntryPosix, TypedKeysAreStoredAndEchoedAsStars) {
    std::string full;  // as much as the buffer holds
    for (int i = 0; i < 1023; ++i) full.push_back(static_cast<char>('a' + i % 26));
    // Ctrl+C, Ctrl+Z, Ctrl+\, Ctrl+S, Ctrl+Q, Ctrl+V, Ctrl+D, Ctrl+U.
    const std::string controls = "\x03\x1a\x1c\x13\x11\x16\x04\x15";
    // clang-format off
    const entry_case cases[] = {
        {"letters, then Enter", {{"abc\r"}}, {"abc"}},
        {"each star shows before the next key", {{"x", 1}, {"y", 1}, {"z", 1}, {"\r"}}, {"xyz"}},
        {"Enter alone", {{"\r"}}, {""}},
        // Backspace (DEL from the terminal) is 8; ^H, Tab, line feed stay as they are.
        {"editing keys are stored like letters", {{"ab\x7f" "c\x08\t\n\r"}}, {"ab\x08" "c\x08\t\n"}},
        {"control keys neither signal nor stop the flow", {{"a" + controls + "b\r"}},
         {"a" + controls + "b"}},
        {"cursor keys store their pairs", {{"\x1b[A\x1b[1;5A\x1b[6~\r"}}, {"\xe0\x48\xe0\x8d\xe0\x51"}},
        // Its zero byte ends the passphrase string, not the entry.
        {"function key", {{"ab\x1bOPcd\r"}}, {std::string("ab\0\x3b" "cd", 6)}},
        // Esc with a letter in one read is Alt+x, its zero byte ending the passphrase string.
        {"lone Esc after its wait, Alt+x", {{"\x1b", 1}, {"\x1bx\r"}}, {std::string("\x1b\0\x2d", 3)}},
        {"pasted entries are served from one read", {{"one\rtwo\x1b[B\r"}}, {"one", "two\xe0\x50"}},
        // 977 more keys are read and dropped; Enter still ends the entry.
        {"keys past the buffer", {{full, 1023}, {std::string(977, 'Z') + "\r"}}, {full}},
        {"keys come from the terminal, not standard input", {{"tty\r"}}, {"tty"}, true},
    };
    // clang-format on
    for (const entry_case& c : cases) {
        SCOPED_TRACE(c.name);
        scratch_dir dir;
        pty::child_options options;
        if (c.stdin_is_a_file) {
            ASSERT_TRUE(write_file(dir.at("stdin"), "fromfile\r"));
            options.input = pty::stdin_source::file;
            options.input_file = dir.at("stdin");
        }
        const int count = static_cast<int>(c.stored.size());
        pty::session term;
        ASSERT_TRUE(
            term.start([count](int report) { return run_entries(report, count); }, options));
        std::size_t stars = 0;
        for (const typed& chunk : c.chunks) {
            ASSERT_TRUE(term.send_when_reading(chunk.bytes)) << "terminal never went raw";
            stars += chunk.echoes;
            if (chunk.echoes > 0) {
                ASSERT_TRUE(term.wait_for_output(std::string(stars, '*')));
            }
        }
        expect_normal_end(term);
        std::vector<entry> expected;
        std::size_t stored = 0;
        for (const std::string& bytes : c.stored) {
            expected.push_back({0, buffer_holding(bytes)});
            stored += bytes.size();
        }
        EXPECT_TRUE(entries_of(term.report()) == expected);
        EXPECT_EQ(term.transcript(), std::string(stored, '*'));
    }
}

TEST(KeyEntryPosix, NoControllingTerminalFailsForGood) {
    pty::session term;
    pty::child_options options;
    options.no_terminal = true;
    ASSERT_TRUE(term.start(
        [](int report) {
            run_entries(report, 1);
            // Even once a terminal exists, a failed open is not tried again.
            int master = -1, slave = -1;
            if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 2;
            if (ioctl(slave, TIOCSCTTY, 0) != 0) return 3;
            const int tty = open("/dev/tty", O_RDWR);
            report_int(report, tty >= 0);
            report_int(report, read_keystroke());
            std::fflush(stdout);
            return 0;
        },
        options));
    const pty::exit_status status = term.wait_exit();
    EXPECT_TRUE(status.exited && status.code == 0) << status.code;
    const std::size_t size = sizeof(int) + PASSPHRASE_SIZE;
    const std::string& report = term.report();
    ASSERT_EQ(report.size(), size + 2 * sizeof(int));
    EXPECT_TRUE(entries_of(report.substr(0, size)) == one_entry(-1, ""));
    int tty_opened_then_key[2] = {0, 0};
    std::memcpy(tty_opened_then_key, report.data() + size, sizeof tty_opened_then_key);
    EXPECT_EQ(tty_opened_then_key[0], 1);
    EXPECT_EQ(tty_opened_then_key[1], -1);
    EXPECT_EQ(term.transcript(), "");
}

TEST(KeyEntryPosix, HangUpEndsTheEntryWithWhatWasTyped) {
    pty::session term;
    ASSERT_TRUE(term.start([](int report) {
        signal(SIGHUP, SIG_IGN);
        return run_entries(report, 1);
    }));
    ASSERT_TRUE(term.send_when_reading("ab"));
    ASSERT_TRUE(term.wait_for_output("**"));
    ASSERT_TRUE(term.wait_for_raw_mode());
    term.hang_up();
    const pty::exit_status status = term.wait_exit();
    EXPECT_TRUE(status.exited && status.code == 0);
    EXPECT_TRUE(entries_of(term.report()) == one_entry(-1, "ab"));
}

// A signal that ends the run while a read waits in raw mode leaves the
// terminal in its own mode and removes the partial output.
TEST(KeyEntryInterrupt, EndingSignalsRestoreTheTerminalAndRemoveTheOutput) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM}) {
        scratch_dir dir;
        pty::session term;
        ASSERT_TRUE(term.start([&dir](int report) {
            prctl(PR_SET_DUMPABLE, 0);  // no core file from SIGQUIT
            temp_output output;
            if (!start_ending() || !begin_output(dir.at("partial"), output)) return 20;
            return run_entries(report, 1);
        }));
        ASSERT_TRUE(term.send_when_reading("k"));
        ASSERT_TRUE(term.wait_for_output("*"));
        ASSERT_TRUE(term.wait_for_raw_mode());
        ASSERT_TRUE(term.signal(sig));
        const pty::exit_status status = term.wait_exit();
        EXPECT_TRUE(status.signaled && status.signal == sig) << strsignal(sig);
        termios after{};
        ASSERT_TRUE(term.mode(after));
        EXPECT_TRUE(pty::same_mode(after, term.initial_mode())) << strsignal(sig);
        EXPECT_TRUE(dir.names().empty()) << strsignal(sig) << ": partial output left behind";
    }
}

// Child side of the stop test: a small job-control shell. The entry runs in
// its own foreground process group (so a stop is not discarded as it would
// be for the session leader); the shell stops it while it waits in raw mode,
// reports whether the terminal came back to its own mode, continues it in
// the background (the terminal must stay so), then in the foreground.
int stop_and_continue_entry(int report) {
    termios own{};
    if (tcgetattr(STDIN_FILENO, &own) != 0) return 10;
    const pid_t job = fork();
    if (job == 0) {
        setpgid(0, 0);
        for (int i = 0; i < 5000 && tcgetpgrp(STDIN_FILENO) != getpgrp(); ++i) usleep(1000);
        if (!start_ending()) _exit(20);
        _exit(run_entries(report, 1));
    }
    setpgid(job, job);
    signal(SIGTTOU, SIG_IGN);
    if (tcsetpgrp(STDIN_FILENO, job) != 0) return 11;
    termios current{};
    for (int i = 0; i < 5000; ++i) {
        const bool raw =
            tcgetattr(STDIN_FILENO, &current) == 0 && (current.c_lflag & (ICANON | ECHO)) == 0;
        if (raw) break;
        usleep(1000);
    }
    kill(job, SIGTSTP);
    int status = 0;
    if (waitpid(job, &status, WUNTRACED) != job || !WIFSTOPPED(status)) return 12;
    report_int(report, tcgetattr(STDIN_FILENO, &current) == 0 && pty::same_mode(current, own));
    // Continued in the background (bg): the terminal stays the shell's.
    if (tcsetpgrp(STDIN_FILENO, getpgrp()) != 0) return 15;
    kill(job, SIGCONT);
    usleep(200000);
    report_int(report, tcgetattr(STDIN_FILENO, &current) == 0 && pty::same_mode(current, own));
    // Then in the foreground (fg).
    if (tcsetpgrp(STDIN_FILENO, job) != 0) return 16;
    kill(job, SIGCONT);
    if (waitpid(job, &status, 0) != job) return 13;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 14;
}

TEST(KeyEntryInterrupt, StopRestoresTheTerminalAndContinueResumesTheEntry) {
    pty::session term;
    ASSERT_TRUE(term.start(stop_and_continue_entry));
    ASSERT_TRUE(term.wait_for_report(2 * sizeof(int)));
    int restored[2] = {0, 0};  // when stopped, when continued in the background
    std::memcpy(restored, term.report().data(), sizeof restored);
    EXPECT_EQ(restored[0], 1);
    EXPECT_EQ(restored[1], 1);
    // Continued in the foreground, the read takes raw mode back: the keys
    // are not shown.
    ASSERT_TRUE(term.send_when_reading("ab\r"));
    expect_normal_end(term);
    EXPECT_TRUE(entries_of(term.report().substr(sizeof restored)) == one_entry(0, "ab"));
    EXPECT_EQ(term.transcript(), "**");
}

TEST(KeyEntryInterrupt, ForgottenOutputIsKeptAndIgnoredSignalsStayIgnored) {
    scratch_dir dir;
    const auto forgotten = [&dir](int report, int entries) {
        temp_output output;
        if (!start_ending() || !begin_output(dir.at("kept"), output) || !close_file(output.file) ||
            finish_output(output, dir.at("kept"), true) != file_result::done) {
            return 20;
        }
        return run_entries(report, entries);
    };
    pty::session term;
    ASSERT_TRUE(term.start([&](int report) {
        signal(SIGHUP, SIG_IGN);
        return forgotten(report, 2);
    }));
    ASSERT_TRUE(term.send_when_reading("a\r"));
    ASSERT_TRUE(term.wait_for_output("*"));
    ASSERT_TRUE(term.wait_for_raw_mode());
    ASSERT_TRUE(term.signal(SIGHUP));  // ignored: the entry goes on
    ASSERT_TRUE(term.send_when_reading("b\r"));
    expect_normal_end(term);
    EXPECT_EQ(entries_of(term.report()).size(), 2u);
    EXPECT_EQ(term.transcript(), "**");

    pty::session second;
    ASSERT_TRUE(second.start([&](int report) { return forgotten(report, 1); }));
    ASSERT_TRUE(second.wait_for_raw_mode());
    ASSERT_TRUE(second.signal(SIGTERM));
    const pty::exit_status killed = second.wait_exit();
    EXPECT_TRUE(killed.signaled && killed.signal == SIGTERM);
    EXPECT_EQ(dir.names(), std::set<std::string>{"kept"})
        << "output removed after it was forgotten";
}

}  // namespace

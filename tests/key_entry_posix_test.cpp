// Masked key entry through a real pseudo-terminal. The entry runs in a forked
// child whose controlling terminal is the pty; the child reports each buffer
// back through a pipe. The test process itself never reads a key: it has no
// terminal in CI, and the terminal state is process-wide.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "front/key_entry.h"
#include "platform/interrupt.h"
#include "platform/terminal.h"
#include "support/pty_posix.h"

namespace {

constexpr char FILL = '\x5A';  // in the buffer before the entry: shows what was written

struct entry {
    int result;
    std::string buffer;  // all PASSPHRASE_SIZE bytes
};

void write_all(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t wrote = write(fd, p, size);
        if (wrote <= 0) _exit(90);
        p += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
}

void report_int(int fd, int value) { write_all(fd, &value, sizeof value); }

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

struct entry_run {
    pty::exit_status status;
    std::vector<entry> entries;
    std::string transcript;
    bool mode_restored;
};

struct typed {
    std::string bytes;
    std::size_t echoes = 0;  // stars it brings; waited for before the next chunk
};

// Starts an entry child, types each chunk once the child waits for a key,
// and collects everything.
class KeyEntryPosix : public ::testing::Test {
protected:
    entry_run type_entries(const std::vector<typed>& chunks, int count = 1,
                           const pty::child_options& options = {}) {
        entry_run run{};
        if (!term.start([count](int report) { return run_entries(report, count); }, options)) {
            ADD_FAILURE() << "cannot start the child";
            return run;
        }
        std::size_t stars = 0;
        for (const typed& chunk : chunks) {
            EXPECT_TRUE(term.send_when_reading(chunk.bytes)) << "terminal never went raw";
            stars += chunk.echoes;
            if (chunk.echoes > 0) {
                EXPECT_TRUE(term.wait_for_output(std::string(stars, '*')));
            }
        }
        run.status = term.wait_exit();
        run.entries = entries_of(term.report());
        run.transcript = term.transcript();
        termios after{};
        run.mode_restored = term.mode(after) && pty::same_mode(after, term.initial_mode());
        return run;
    }

    pty::session term;
};

void expect_normal_end(const entry_run& run) {
    EXPECT_TRUE(run.status.exited && run.status.code == 0)
        << "exited " << run.status.exited << " code " << run.status.code << " signal "
        << run.status.signal << " timed out " << run.status.timed_out;
    EXPECT_TRUE(run.mode_restored) << "terminal mode changed";
}

TEST_F(KeyEntryPosix, LettersThenEnterEchoOneStarEachAndNoLineEnd) {
    const entry_run run = type_entries({{"abc\r"}});
    expect_normal_end(run);
    ASSERT_EQ(run.entries.size(), 1u);
    EXPECT_EQ(run.entries[0].result, 0);
    EXPECT_EQ(run.entries[0].buffer, buffer_holding("abc"));
    EXPECT_EQ(run.transcript, "***");
}

TEST_F(KeyEntryPosix, EachStarShowsBeforeTheNextKey) {
    // Each chunk waits for the star of the key before: the echo is not held back.
    const entry_run run = type_entries({{"x", 1}, {"y", 1}, {"z", 1}, {"\r"}});
    expect_normal_end(run);
    ASSERT_EQ(run.entries.size(), 1u);
    EXPECT_EQ(run.entries[0].buffer, buffer_holding("xyz"));
    EXPECT_EQ(run.transcript, "***");
}

TEST_F(KeyEntryPosix, EnterAloneStoresOnlyTheTerminator) {
    const entry_run run = type_entries({{"\r"}});
    expect_normal_end(run);
    ASSERT_EQ(run.entries.size(), 1u);
    EXPECT_EQ(run.entries[0].result, 0);
    EXPECT_EQ(run.entries[0].buffer, buffer_holding(""));
    EXPECT_EQ(run.transcript, "");
}

TEST_F(KeyEntryPosix, EditingKeysAreStoredLikeLetters) {
    // Backspace (DEL from the terminal) is 8; ^H, Tab, Esc, line feed stay as they are.
    const entry_run run = type_entries({{"ab\x7f" "c\x08\t\n\r"}});
    expect_normal_end(run);
    ASSERT_EQ(run.entries.size(), 1u);
    EXPECT_EQ(run.entries[0].buffer, buffer_holding("ab\x08" "c\x08\t\n"));
    EXPECT_EQ(run.transcript, "*******");
}

TEST_F(KeyEntryPosix, ControlKeysNeitherSignalNorFlowControl) {
    // Ctrl+C, Ctrl+Z, Ctrl+\, Ctrl+S, Ctrl+Q, Ctrl+V, Ctrl+D, Ctrl+U.
    const std::string controls = "\x03\x1a\x1c\x13\x11\x16\x04\x15";
    const entry_run run = type_entries({{"a" + controls + "b\r"}});
    expect_normal_end(run);
    ASSERT_EQ(run.entries.size(), 1u);
    EXPECT_EQ(run.entries[0].buffer, buffer_holding("a" + controls + "b"));
    EXPECT_EQ(run.transcript, std::string(controls.size() + 2, '*'));
}

TEST_F(KeyEntryPosix, CursorKeysStoreTheirPairs) {
    const entry_run run = type_entries({{"\x1b[A\x1b[1;5A\x1b[6~\r"}});
    expect_normal_end(run);
    ASSERT_EQ(run.entries.size(), 1u);
    EXPECT_EQ(run.entries[0].buffer, buffer_holding("\xe0\x48\xe0\x8d\xe0\x51"));
    EXPECT_EQ(run.transcript, "******");
}

TEST_F(KeyEntryPosix, FunctionKeyZeroByteEndsThePassphraseString) {
    const entry_run run = type_entries({{"ab\x1bOPcd\r"}});
    expect_normal_end(run);
    ASSERT_EQ(run.entries.size(), 1u);
    EXPECT_EQ(run.entries[0].buffer, buffer_holding(std::string("ab\0\x3b" "cd", 6)));
    EXPECT_EQ(std::strlen(run.entries[0].buffer.c_str()), 2u);
    EXPECT_EQ(run.transcript, "******");
}

TEST_F(KeyEntryPosix, LoneEscAfterItsWaitAndEscBeforeALetter) {
    const entry_run run = type_entries({{"\x1b", 1}, {"\x1bx\r"}});
    expect_normal_end(run);
    ASSERT_EQ(run.entries.size(), 1u);
    EXPECT_EQ(run.entries[0].buffer, buffer_holding("\x1b\x1bx"));
    EXPECT_EQ(run.transcript, "***");
}

TEST_F(KeyEntryPosix, PastedEntriesAreServedFromOneRead) {
    const entry_run run = type_entries({{"one\rtwo\x1b[B\r"}}, 2);
    expect_normal_end(run);
    ASSERT_EQ(run.entries.size(), 2u);
    EXPECT_EQ(run.entries[0].buffer, buffer_holding("one"));
    EXPECT_EQ(run.entries[1].buffer, buffer_holding("two\xe0\x50"));
    EXPECT_EQ(run.transcript, "********");
}

TEST_F(KeyEntryPosix, KeysComeFromTheTerminalNotStandardInput) {
    char path[] = "/tmp/tovik-keys-stdin-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "fromfile\r", 9), 9);
    close(fd);
    pty::child_options options;
    options.input = pty::stdin_source::file;
    options.input_file = path;
    const entry_run run = type_entries({{"tty\r"}}, 1, options);
    unlink(path);
    expect_normal_end(run);
    ASSERT_EQ(run.entries.size(), 1u);
    EXPECT_EQ(run.entries[0].buffer, buffer_holding("tty"));
    EXPECT_EQ(run.transcript, "***");
}

TEST_F(KeyEntryPosix, KeysPastTheBufferAreNeitherStoredNorEchoed) {
    // 1023 fill the buffer; 977 more are read and dropped; Enter still ends it.
    std::string first;
    for (int i = 0; i < 1023; ++i) first.push_back(static_cast<char>('a' + i % 26));
    ASSERT_TRUE(term.start([](int report) { return run_entries(report, 1); }));
    ASSERT_TRUE(term.send_when_reading(first));
    ASSERT_TRUE(term.wait_for_output(std::string(1023, '*')));
    ASSERT_TRUE(term.send_when_reading(std::string(977, 'Z') + "\r"));
    const pty::exit_status status = term.wait_exit();
    EXPECT_TRUE(status.exited && status.code == 0);
    const std::vector<entry> entries = entries_of(term.report());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, 0);
    EXPECT_EQ(entries[0].buffer, first + '\0');
    EXPECT_EQ(term.transcript(), std::string(1023, '*'));
    termios after{};
    EXPECT_TRUE(term.mode(after) && pty::same_mode(after, term.initial_mode()));
}

TEST_F(KeyEntryPosix, NoControllingTerminalFailsForGood) {
    pty::child_options options;
    options.no_terminal = true;
    ASSERT_TRUE(term.start(
        [](int report) {
            setup_standard_output();
            char buffer[PASSPHRASE_SIZE];
            std::memset(buffer, FILL, sizeof buffer);
            report_int(report, read_masked_key(buffer, '*'));
            write_all(report, buffer, sizeof buffer);
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
    const std::string& report = term.report();
    ASSERT_EQ(report.size(), sizeof(int) + PASSPHRASE_SIZE + 2 * sizeof(int));
    const std::vector<entry> entries = entries_of(report.substr(0, sizeof(int) + PASSPHRASE_SIZE));
    EXPECT_EQ(entries[0].result, -1);
    EXPECT_EQ(entries[0].buffer, buffer_holding(""));
    int tty_opened = 0, later = 0;
    std::memcpy(&tty_opened, report.data() + sizeof(int) + PASSPHRASE_SIZE, sizeof(int));
    std::memcpy(&later, report.data() + 2 * sizeof(int) + PASSPHRASE_SIZE, sizeof(int));
    EXPECT_EQ(tty_opened, 1);
    EXPECT_EQ(later, -1);
    EXPECT_EQ(term.transcript(), "");
}

TEST_F(KeyEntryPosix, HangUpEndsTheEntryWithWhatWasTyped) {
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
    const std::vector<entry> entries = entries_of(term.report());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, -1);
    EXPECT_EQ(entries[0].buffer, buffer_holding("ab"));
}

// A signal that ends the run while a read waits in raw mode leaves the
// terminal in its own mode and removes the partial output.
TEST(KeyEntryInterrupt, EndingSignalsRestoreTheTerminalAndRemoveTheOutput) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        char path[] = "/tmp/tovik-keys-partial-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        pty::session term;
        ASSERT_TRUE(term.start([&path](int report) {
            prctl(PR_SET_DUMPABLE, 0);  // no core file from SIGQUIT
            install_interrupt_cleanup();
            track_partial_output(path);
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
        struct stat info {};
        EXPECT_NE(stat(path, &info), 0) << strsignal(sig) << ": partial output left behind";
        unlink(path);
    }
}

// Child side of the stop test: a small job-control shell. The entry runs in
// its own foreground process group (so a stop is not discarded as it would
// be for the session leader); the shell stops it while it waits in raw mode,
// reports whether the terminal came back to its own mode, and continues it.
int stop_and_continue_entry(int report) {
    termios own{};
    if (tcgetattr(STDIN_FILENO, &own) != 0) return 10;
    const pid_t job = fork();
    if (job == 0) {
        setpgid(0, 0);
        for (int i = 0; i < 5000 && tcgetpgrp(STDIN_FILENO) != getpgrp(); ++i) usleep(1000);
        install_interrupt_cleanup();
        _exit(run_entries(report, 1));
    }
    setpgid(job, job);
    signal(SIGTTOU, SIG_IGN);
    if (tcsetpgrp(STDIN_FILENO, job) != 0) return 11;
    termios current{};
    for (int i = 0; i < 5000; ++i) {
        const bool raw = tcgetattr(STDIN_FILENO, &current) == 0 &&
                         (current.c_lflag & (ICANON | ECHO)) == 0;
        if (raw) break;
        usleep(1000);
    }
    kill(job, SIGTSTP);
    int status = 0;
    if (waitpid(job, &status, WUNTRACED) != job || !WIFSTOPPED(status)) return 12;
    report_int(report, tcgetattr(STDIN_FILENO, &current) == 0 && pty::same_mode(current, own));
    kill(job, SIGCONT);
    if (waitpid(job, &status, 0) != job) return 13;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 14;
}

TEST(KeyEntryInterrupt, StopRestoresTheTerminalAndContinueResumesTheEntry) {
    pty::session term;
    ASSERT_TRUE(term.start(stop_and_continue_entry));
    ASSERT_TRUE(term.wait_for_report(sizeof(int)));
    int restored_when_stopped = 0;
    std::memcpy(&restored_when_stopped, term.report().data(), sizeof(int));
    EXPECT_EQ(restored_when_stopped, 1);
    // Continued, the read takes raw mode back: the keys are not shown.
    ASSERT_TRUE(term.send_when_reading("ab\r"));
    const pty::exit_status status = term.wait_exit();
    EXPECT_TRUE(status.exited && status.code == 0) << status.code;
    const std::vector<entry> entries = entries_of(term.report().substr(sizeof(int)));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].buffer, buffer_holding("ab"));
    EXPECT_EQ(term.transcript(), "**");
    termios after{};
    EXPECT_TRUE(term.mode(after) && pty::same_mode(after, term.initial_mode()));
}

TEST(KeyEntryInterrupt, ForgottenOutputIsKeptAndIgnoredSignalsStayIgnored) {
    char path[] = "/tmp/tovik-keys-kept-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    pty::session term;
    ASSERT_TRUE(term.start([&path](int report) {
        signal(SIGHUP, SIG_IGN);
        install_interrupt_cleanup();
        track_partial_output(path);
        forget_partial_output(path);
        return run_entries(report, 2);
    }));
    ASSERT_TRUE(term.send_when_reading("a\r"));
    ASSERT_TRUE(term.wait_for_output("*"));
    ASSERT_TRUE(term.wait_for_raw_mode());
    ASSERT_TRUE(term.signal(SIGHUP));  // ignored: the entry goes on
    ASSERT_TRUE(term.send_when_reading("b\r"));
    const pty::exit_status first = term.wait_exit();
    EXPECT_TRUE(first.exited && first.code == 0);
    EXPECT_EQ(entries_of(term.report()).size(), 2u);
    EXPECT_EQ(term.transcript(), "**");

    pty::session second;
    ASSERT_TRUE(second.start([&path](int report) {
        install_interrupt_cleanup();
        track_partial_output(path);
        forget_partial_output(path);
        return run_entries(report, 1);
    }));
    ASSERT_TRUE(second.wait_for_raw_mode());
    ASSERT_TRUE(second.signal(SIGTERM));
    const pty::exit_status killed = second.wait_exit();
    EXPECT_TRUE(killed.signaled && killed.signal == SIGTERM);
    struct stat info {};
    EXPECT_EQ(stat(path, &info), 0) << "output removed after it was forgotten";
    unlink(path);
}

}  // namespace

// A child process on its own pseudo-terminal, for tests that type at a
// program and read exactly what it shows. Every wait is bounded; a child
// still running when its session ends is killed.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pty {

using std::chrono::milliseconds;
inline constexpr milliseconds DEFAULT_TIMEOUT{20000};

enum class stdin_source { terminal, file };

struct child_options {
    std::string working_dir;                                   // empty: the test's own
    std::vector<std::pair<std::string, std::string>> set_env;  // NAME, value
    stdin_source input = stdin_source::terminal;
    std::string input_file;  // for stdin_source::file
    // Resource limits (RLIMIT_..., soft and hard) the child takes on.
    std::vector<std::pair<int, rlim_t>> limits;
    // A new session with no controlling terminal at all; output then goes
    // through a pipe (still read with transcript()) and stdin is /dev/null
    // unless input_file is used.
    bool no_terminal = false;
};

struct exit_status {
    bool exited = false;  // normal end: code holds the exit status
    int code = -1;
    bool signaled = false;  // ended by signal
    int signal = 0;
    bool timed_out = false;  // did not end in time and was killed
};

// Field-by-field comparison of two terminal modes (flags, control chars, speeds).
bool same_mode(const termios& a, const termios& b);

class session {
public:
    session() = default;
    ~session();
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    // Runs argv[0] (a path) with argv. false when the terminal or the process
    // could not be made; an exec failure shows as exit status 127.
    bool start(const std::vector<std::string>& argv, const child_options& options = {});
    // Runs body in a forked child; its return value is the exit status. The
    // child may write a report (any bytes) to report_fd, read back with report().
    bool start(const std::function<int(int report_fd)>& body, const child_options& options = {});

    pid_t pid() const { return child_; }
    // The pseudo-terminal's master side; -1 with no_terminal.
    int master() const { return master_; }

    // Writes bytes as typed.
    bool send(std::string_view bytes);
    // Waits until the terminal is in a raw, silent mode, then writes bytes at
    // once. Only safe when the program has taken all earlier input (e.g. its
    // echo was seen): a key arriving between two raw reads meets the
    // terminal's own mode (echo, CR to NL).
    bool send_when_reading(std::string_view bytes, milliseconds timeout = DEFAULT_TIMEOUT);
    // Waits until the terminal has neither ICANON nor ECHO set.
    bool wait_for_raw_mode(milliseconds timeout = DEFAULT_TIMEOUT);
    // Waits until text appears in the transcript at or after position from.
    bool wait_for_output(std::string_view text, std::size_t from = 0,
                         milliseconds timeout = DEFAULT_TIMEOUT);
    // Everything the child has written to the terminal so far, byte for byte
    // (output processing is off, so no CR is added to line ends).
    const std::string& transcript();

    // The terminal's current mode, as the child sees it.
    bool mode(termios& out) const;
    // The mode the terminal was given before the child started.
    const termios& initial_mode() const { return initial_mode_; }
    // Closes the master side: the child's terminal hangs up.
    void hang_up();

    bool signal(int sig) const;
    // Waits until the child is stopped (SIGSTOP, SIGTSTP): its state in /proc is "T".
    bool wait_until_stopped(milliseconds timeout = DEFAULT_TIMEOUT) const;
    // Waits for the end of the child (killing it after timeout) and collects
    // the rest of its output.
    exit_status wait_exit(milliseconds timeout = DEFAULT_TIMEOUT);
    // Waits until the child has reported at least size bytes.
    bool wait_for_report(std::size_t size, milliseconds timeout = DEFAULT_TIMEOUT);
    // What the child wrote to report_fd; complete once wait_exit returned.
    const std::string& report() const { return report_text_; }

private:
    bool launch(const std::function<void()>& run_child, const child_options& options);
    // Reads what the child wrote, waiting up to wait_ms for the first byte.
    void pump(int wait_ms);
    // true once the child has ended and its output is taken in full.
    bool reap_if_ended();
    void take_rest_of_output();

    pid_t child_ = -1;
    bool reaped_ = false;
    int master_ = -1;  // terminal master; -1 with no_terminal or after hang_up
    int output_ = -1;  // where the transcript comes from: master_ or a pipe
    // The test's own opening of the terminal: the master then never reports
    // the end before the child's last bytes, which are followed by a mark
    // written here once the child is gone.
    int own_slave_ = -1;
    int report_ = -1;
    std::string transcript_;
    std::string report_text_;
    exit_status last_exit_;
    termios initial_mode_{};
};

}  // namespace pty

#include "support/pty_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <tuple>

namespace pty {

namespace {

using steady = std::chrono::steady_clock;

constexpr int CHILD_REPORT_FD = 3;
constexpr int FIRST_FREE_FD = 10;  // where fds are parked while the child's 0 to 3 are set
// Written after the child's end: everything the child wrote comes before it.
constexpr std::string_view END_MARK = "\x1d<end of the child's output>\x1d";

int remaining_ms(steady::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - steady::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Appends what fd has now; false at its end (EOF, or EIO from a master whose
// terminal has no more users).
bool read_available(int fd, std::string& into) {
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got > 0) {
            into.append(chunk, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        return got < 0 && errno == EAGAIN;
    }
}

// In the child: fd lands on target, safe even when fd is one of 0 to 3.
void place_fd(int parked, int target) {
    if (parked >= 0) dup2(parked, target);
}

int park(int fd) { return fd >= 0 ? fcntl(fd, F_DUPFD, FIRST_FREE_FD) : -1; }

}  // namespace

bool same_mode(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

session::~session() {
    if (child_ > 0 && !reaped_) {
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
    }
    if (output_ != master_) close_fd(output_);
    close_fd(master_);
    close_fd(own_slave_);
    close_fd(report_);
}

bool session::start(const std::vector<std::string>& argv, const child_options& options) {
    if (argv.empty()) return false;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    return launch(
        [&] {
            close(CHILD_REPORT_FD);  // reports are for in-process children
            execv(args[0], args.data());
            _exit(127);
        },
        options);
}

bool session::start(const std::function<int(int report_fd)>& body, const child_options& options) {
    return launch([&] { _exit(body(CHILD_REPORT_FD)); }, options);
}

bool session::launch(const std::function<void()>& run_child, const child_options& options) {
    if (child_ != -1) return false;
    int slave = -1;
    int output_pipe[2] = {-1, -1};
    int report_pipe[2] = {-1, -1};
    int input = -1;
    bool made = pipe2(report_pipe, O_CLOEXEC) == 0;
    if (made && options.no_terminal) {
        made = pipe2(output_pipe, O_CLOEXEC) == 0;
        output_ = output_pipe[0];
    } else if (made) {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 80;
        made = openpty(&master_, &slave, nullptr, nullptr, &size) == 0;
        termios mode{};
        // Output processing off: the transcript holds the program's bytes as written.
        made = made && fcntl(master_, F_SETFD, FD_CLOEXEC) == 0 &&
               fcntl(slave, F_SETFD, FD_CLOEXEC) == 0 && tcgetattr(slave, &mode) == 0;
        mode.c_oflag &= ~(OPOST | ONLCR);
        made = made && tcsetattr(slave, TCSANOW, &mode) == 0 &&
               tcgetattr(slave, &initial_mode_) == 0;
        // An opening of its own (never shared with the child), so that its
        // writes can be non-blocking.
        const char* name = made ? ttyname(slave) : nullptr;
        if (name != nullptr) own_slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        made = made && own_slave_ >= 0;
        output_ = master_;
    }
    if (made && options.input == stdin_source::file) {
        input = open(options.input_file.c_str(), O_RDONLY | O_CLOEXEC);
        made = input >= 0;
    } else if (made && options.no_terminal) {
        input = open("/dev/null", O_RDONLY | O_CLOEXEC);
        made = input >= 0;
    }
    if (made) {
        std::fflush(nullptr);  // or the child would write the test's buffered output again
        child_ = fork();
        made = child_ >= 0;
    }
    if (child_ == 0) {
        setsid();
        const int terminal = park(options.no_terminal ? output_pipe[1] : slave);
        const int parked_input = park(input);
        const int parked_report = park(report_pipe[1]);
        if (!options.no_terminal) {
            ioctl(terminal, TIOCSCTTY, 0);
            place_fd(terminal, STDIN_FILENO);
        }
        place_fd(terminal, STDOUT_FILENO);
        place_fd(terminal, STDERR_FILENO);
        place_fd(parked_input, STDIN_FILENO);
        place_fd(parked_report, CHILD_REPORT_FD);
        close_range(CHILD_REPORT_FD + 1, ~0U, 0);
        if (!options.working_dir.empty() && chdir(options.working_dir.c_str()) != 0) _exit(126);
        for (const auto& [name, value] : options.set_env) setenv(name.c_str(), value.c_str(), 1);
        for (const auto& [resource, limit] : options.limits) {
            const rlimit both{limit, limit};
            if (setrlimit(resource, &both) != 0) _exit(125);
        }
        run_child();
        _exit(0);
    }
    close_fd(slave);
    close_fd(output_pipe[1]);
    close_fd(report_pipe[1]);
    close_fd(input);
    report_ = report_pipe[0];
    if (!made) {
        child_ = -1;
        return false;
    }
    fcntl(output_, F_SETFL, fcntl(output_, F_GETFL) | O_NONBLOCK);
    fcntl(report_, F_SETFL, fcntl(report_, F_GETFL) | O_NONBLOCK);
    return true;
}

void session::pump(int wait_ms) {
    pollfd watch[2] = {{output_, POLLIN, 0}, {report_, POLLIN, 0}};
    if (poll(watch, 2, wait_ms) <= 0) return;
    if (output_ >= 0 && watch[0].revents != 0 && !read_available(output_, transcript_)) {
        if (output_ != master_) close(output_);
        output_ = -1;  // the master stays open: its mode can still be read
    }
    if (report_ >= 0 && watch[1].revents != 0 && !read_available(report_, report_text_)) {
        close_fd(report_);
    }
}

bool session::send(std::string_view bytes) {
    if (master_ < 0) return false;
    const steady::time_point deadline = steady::now() + DEFAULT_TIMEOUT;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t wrote = write(master_, bytes.data() + sent, bytes.size() - sent);
        if (wrote > 0) {
            sent += static_cast<std::size_t>(wrote);
        } else if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (remaining_ms(deadline) == 0) {
            return false;
        }
        pump(0);  // keep the child's output flowing so it never blocks on a full terminal
        if (wrote <= 0) {
            pollfd writable{master_, POLLOUT, 0};
            poll(&writable, 1, 20);
        }
    }
    return true;
}

bool session::send_when_reading(std::string_view bytes, milliseconds timeout) {
    return wait_for_raw_mode(timeout) && send(bytes);
}

bool session::wait_for_raw_mode(milliseconds timeout) {
    const steady::time_point deadline = steady::now() + timeout;
    for (;;) {
        termios current{};
        if (!mode(current)) return false;
        if ((current.c_lflag & (ICANON | ECHO)) == 0) return true;
        if (remaining_ms(deadline) == 0) return false;
        pump(2);
    }
}

bool session::wait_for_output(std::string_view text, std::size_t from, milliseconds timeout) {
    const steady::time_point deadline = steady::now() + timeout;
    for (;;) {
        if (transcript_.size() >= from && transcript_.find(text, from) != std::string::npos) {
            return true;
        }
        if (output_ < 0 || remaining_ms(deadline) == 0) return false;
        // An ended child writes no more: what it wrote is taken in full.
        if (!reap_if_ended()) pump(std::min(remaining_ms(deadline), 50));
    }
}

bool session::wait_for_report(std::size_t size, milliseconds timeout) {
    const steady::time_point deadline = steady::now() + timeout;
    for (;;) {
        if (report_text_.size() >= size) return true;
        if (report_ < 0 || remaining_ms(deadline) == 0) return false;
        pump(std::min(remaining_ms(deadline), 50));
    }
}

const std::string& session::transcript() {
    if (output_ >= 0 || report_ >= 0) pump(0);
    return transcript_;
}

bool session::mode(termios& out) const { return master_ >= 0 && tcgetattr(master_, &out) == 0; }

void session::hang_up() {
    if (output_ == master_) output_ = -1;
    close_fd(master_);
    close_fd(own_slave_);
}

bool session::signal(int sig) const { return child_ > 0 && !reaped_ && kill(child_, sig) == 0; }

bool session::wait_until_stopped(milliseconds timeout) const {
    if (child_ <= 0 || reaped_) return false;
    const std::string stat_path = "/proc/" + std::to_string(child_) + "/stat";
    const steady::time_point deadline = steady::now() + timeout;
    for (;;) {
        std::ifstream stat(stat_path);
        const std::string text((std::istreambuf_iterator<char>(stat)),
                               std::istreambuf_iterator<char>());
        // The state follows the command name, which is in parentheses.
        const std::size_t name_end = text.rfind(')');
        if (name_end != std::string::npos && text.compare(name_end + 2, 1, "T") == 0) return true;
        if (remaining_ms(deadline) == 0) return false;
        std::this_thread::sleep_for(milliseconds{1});
    }
}

namespace {

exit_status status_of(int raw_status) {
    exit_status status;
    status.exited = WIFEXITED(raw_status);
    status.code = status.exited ? WEXITSTATUS(raw_status) : -1;
    status.signaled = WIFSIGNALED(raw_status);
    status.signal = status.signaled ? WTERMSIG(raw_status) : 0;
    return status;
}

}  // namespace

bool session::reap_if_ended() {
    if (child_ <= 0 || reaped_) return true;
    int raw_status = 0;
    if (waitpid(child_, &raw_status, WNOHANG) != child_) return false;
    reaped_ = true;
    last_exit_ = status_of(raw_status);
    take_rest_of_output();
    return true;
}

void session::take_rest_of_output() {
    // The terminal: up to the mark, which comes after the child's last bytes
    // however late the terminal hands them on.
    if (output_ >= 0 && output_ == master_ && own_slave_ >= 0) {
        const std::size_t from = transcript_.size();
        if (write(own_slave_, END_MARK.data(), END_MARK.size()) ==
            static_cast<ssize_t>(END_MARK.size())) {
            const steady::time_point deadline = steady::now() + DEFAULT_TIMEOUT;
            std::size_t at = std::string::npos;
            while (output_ >= 0 && (at = transcript_.find(END_MARK, from)) == std::string::npos &&
                   remaining_ms(deadline) > 0) {
                pump(50);
            }
            if (at != std::string::npos) {
                transcript_.resize(at);
                output_ = -1;  // the master stays open: its mode can still be read
            }
        }
    }
    // A pipe, and the report: until they close, or nothing comes for a while
    // (a grandchild keeps one open).
    while (output_ >= 0 || report_ >= 0) {
        const auto before = std::tuple(transcript_.size(), report_text_.size(), output_, report_);
        pump(200);
        if (before == std::tuple(transcript_.size(), report_text_.size(), output_, report_)) break;
    }
}

exit_status session::wait_exit(milliseconds timeout) {
    const steady::time_point deadline = steady::now() + timeout;
    while (!reap_if_ended()) {
        if (remaining_ms(deadline) == 0) {
            kill(child_, SIGKILL);
            int raw_status = 0;
            waitpid(child_, &raw_status, 0);
            reaped_ = true;
            last_exit_ = status_of(raw_status);
            last_exit_.timed_out = true;
            take_rest_of_output();
        } else {
            pump(std::min(remaining_ms(deadline), 20));
        }
    }
    return last_exit_;
}

}  // namespace pty

#include "platform/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "cipher/wipe.h"
#include "platform/terminal_keys.h"

namespace {

enum class handle_state { not_opened, open, unavailable };

handle_state tty_state = handle_state::not_opened;
int tty_fd = -1;

// Bytes read past the key returned (typed ahead, pasted), served before the
// terminal is asked again. Larger than any key sequence, so a full queue
// always holds a whole key.
constexpr std::size_t QUEUE_SIZE = 1024;
unsigned char queue[QUEUE_SIZE];
std::size_t queued = 0;

// Time allowed for the rest of a sequence once ESC has arrived; longer and a
// lone Esc feels slow, shorter and a sequence over a slow link splits.
constexpr int SEQUENCE_WAIT_MS = 40;

// The mode to put back, shared with the stop handler (on this thread) and
// the thread that ends the run. Every change of the mode by a read happens
// under switching, which the end takes for good: once it has put the mode
// back, no read makes the terminal raw again.
termios saved_mode;
std::atomic<bool> read_in_progress{false};
static_assert(std::atomic<bool>::is_always_lock_free);
std::mutex switching;

bool set_mode(const termios& mode) {
    const std::lock_guard lock(switching);
    return tcsetattr(tty_fd, TCSANOW, &mode) == 0;
}

bool open_terminal() {
    if (tty_state == handle_state::not_opened) {
        tty_fd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
        tty_state = tty_fd >= 0 ? handle_state::open : handle_state::unavailable;
    }
    return tty_state == handle_state::open;
}

void make_raw(termios& mode) {
    mode.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    mode.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
}

void drop_queued(std::size_t count) {
    std::memmove(queue, queue + count, queued - count);
    queued -= count;
    wipe(queue + queued, count);
}

// Moves the next whole key out of the queue into out; its length, or 0 when
// the queue holds no whole key. complete: no more bytes are coming.
int take_queued_key(unsigned char out[2], bool complete) {
    while (queued > 0) {
        decoded_key key = decode_terminal_key(queue, queued, complete);
        if (key.consumed == 0) return 0;
        drop_queued(key.consumed);
        const int length = key.length;
        if (length > 0) {
            out[0] = key.bytes[0];
            out[1] = key.bytes[1];
        }
        wipe(&key, sizeof key);
        if (length > 0) return length;
    }
    return 0;
}

// 1 when input is there, 0 after timeout_ms (-1: no limit), -1 on failure.
int wait_for_input(int timeout_ms, const termios& raw) {
    for (;;) {
        pollfd watch{tty_fd, POLLIN, 0};
        const int ready = poll(&watch, 1, timeout_ms);
        if (ready >= 0) return ready > 0 ? 1 : 0;
        if (errno != EINTR) return -1;
        // A handler ran; after a stop and continue the terminal is in its own mode.
        if (!set_mode(raw)) return -1;
    }
}

int read_key_in_raw_mode(unsigned char out[2], const termios& raw) {
    for (;;) {
        // Only the rest of a started sequence is waited for with a limit.
        const int ready = wait_for_input(queued > 0 ? SEQUENCE_WAIT_MS : -1, raw);
        if (ready < 0) return -1;
        if (ready == 0) {
            if (const int length = take_queued_key(out, true)) return length;
            continue;
        }
        const ssize_t got = read(tty_fd, queue + queued, QUEUE_SIZE - queued);
        if (got < 0 && errno == EINTR) {
            if (!set_mode(raw)) return -1;
            continue;
        }
        if (got <= 0) return -1;  // hang-up or a read error
        queued += static_cast<std::size_t>(got);
        if (const int length = take_queued_key(out, false)) return length;
    }
}

}  // namespace

int read_terminal_key(unsigned char out[2]) {
    if (const int length = take_queued_key(out, false)) return length;
    if (!open_terminal()) return -1;
    termios raw;
    bool is_raw = false;
    {
        const std::lock_guard lock(switching);
        if (tcgetattr(tty_fd, &saved_mode) != 0) return -1;
        read_in_progress = true;  // after the mode is saved
        raw = saved_mode;
        make_raw(raw);
        is_raw = tcsetattr(tty_fd, TCSANOW, &raw) == 0;
    }
    const int result = is_raw ? read_key_in_raw_mode(out, raw) : -1;
    // Unconditionally: a failed tcsetattr may still have applied part of the change.
    const std::lock_guard lock(switching);
    tcsetattr(tty_fd, TCSANOW, &saved_mode);
    read_in_progress = false;
    return result;
}

void restore_terminal_mode() {
    if (!read_in_progress) return;
    const int saved_errno = errno;
    tcsetattr(tty_fd, TCSANOW, &saved_mode);
    errno = saved_errno;
}

void restore_terminal_for_good() {
    switching.lock();  // never released: the process is ending
    restore_terminal_mode();
}

void setup_standard_output() {
    if (isatty(STDOUT_FILENO)) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        std::setvbuf(stdout, nullptr, _IOFBF, 4096);
    }
}

#include "platform/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cipher/wipe.h"
#include "platform/ending.h"
#include "platform/terminal_keys.h"

namespace {

// Bytes read past the key returned (typed ahead, pasted), served before the
// terminal is asked again. Larger than any key sequence, so a full queue
// always holds a whole key.
constexpr std::size_t QUEUE_SIZE = 1024;
unsigned char queue[QUEUE_SIZE];
std::size_t queued = 0;

// Time allowed for the rest of a sequence once ESC has arrived; longer and a
// lone Esc feels slow, shorter and a sequence over a slow link splits.
constexpr int SEQUENCE_WAIT_MS = 40;

// The terminal, opened on the first read that needs it; -1, for good, when
// it cannot be.
int terminal() {
    static const int fd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    return fd;
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
int wait_for_input(int timeout_ms) {
    for (;;) {
        pollfd watch{terminal(), POLLIN, 0};
        const int ready = poll(&watch, 1, timeout_ms);
        if (ready >= 0) return ready > 0 ? 1 : 0;
        if (errno != EINTR) return -1;
    }
}

int read_key_in_raw_mode(unsigned char out[2]) {
    for (;;) {
        // Only the rest of a started sequence is waited for with a limit.
        const int ready = wait_for_input(queued > 0 ? SEQUENCE_WAIT_MS : -1);
        if (ready < 0) return -1;
        if (ready == 0) {
            if (const int length = take_queued_key(out, true)) return length;
            continue;
        }
        const ssize_t got = read(terminal(), queue + queued, QUEUE_SIZE - queued);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return -1;  // hang-up or a read error
        queued += static_cast<std::size_t>(got);
        if (const int length = take_queued_key(out, false)) return length;
    }
}

}  // namespace

int read_terminal_key(unsigned char out[2]) {
    if (const int length = take_queued_key(out, false)) return length;
    if (terminal() < 0 || !enter_raw_mode(terminal())) return -1;
    const int result = read_key_in_raw_mode(out);
    leave_raw_mode();
    return result;
}

bool write_terminal(const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(terminal(), text, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        text += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool input_is_terminal() { return isatty(STDIN_FILENO) != 0; }
bool output_is_terminal() { return isatty(STDOUT_FILENO) != 0; }

void forget_typed_keys() {
    wipe(queue, sizeof queue);
    queued = 0;
}

void setup_standard_output() {
    if (output_is_terminal()) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        // Each line goes out whole as it ends: a reader that left is noticed
        // at the next line, and a log holds every line printed before a kill.
        std::setvbuf(stdout, nullptr, _IOLBF, 4096);
    }
}

#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "platform/status_line.h"

namespace {

// Columns drawn now; read by the stop handler and the thread that ends the run.
std::atomic<int> drawn{0};
static_assert(std::atomic<int>::is_always_lock_free);

void write_all_of(const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(STDERR_FILENO, text, size);
        if (put <= 0) return;  // a status line is not worth a failure
        text += put;
        size -= static_cast<std::size_t>(put);
    }
}

}  // namespace

int status_line_width() {
    if (!::isatty(STDERR_FILENO)) return 0;
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

void draw_status_line(std::string_view line) {
    const int room = status_line_width() - 1;
    if (room <= 0) return;
    if (line.size() > static_cast<std::size_t>(room)) line = line.substr(0, room);
    std::string text = "\r";
    text += line;
    const int width = static_cast<int>(line.size());
    const int before = drawn < room ? drawn.load() : room;
    if (width < before) text.append(static_cast<std::size_t>(before - width), ' ');
    drawn = width > before ? width : before;
    write_all_of(text.data(), text.size());
}

void erase_status_line() {
    static const char spaces[] = "                                ";
    const int room = status_line_width() - 1;
    const int width = drawn.exchange(0);
    if (width == 0) return;
    write_all_of("\r", 1);
    for (int left = width < room ? width : room; left > 0; left -= static_cast<int>(sizeof spaces - 1)) {
        write_all_of(spaces, left < static_cast<int>(sizeof spaces - 1) ? static_cast<std::size_t>(left)
                                                                      : sizeof spaces - 1);
    }
    write_all_of("\r", 1);
}

#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/status_line.h"

int status_line_width() {
    if (!::isatty(STDERR_FILENO)) return 0;
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

void write_status_text(std::string_view text) {
    while (!text.empty()) {
        const ssize_t put = ::write(STDERR_FILENO, text.data(), text.size());
        if (put <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(put));
    }
}

#include "platform/status_line.h"

#include <atomic>
#include <string>

#include "platform/ending.h"

namespace {

// Columns drawn now; read by the ending's thread too.
std::atomic<int> drawn{0};

constexpr std::string_view SPACES = "                                ";

void write_spaces(int count) {
    for (; count > 0; count -= static_cast<int>(SPACES.size())) {
        write_status_text(SPACES.substr(0, static_cast<std::size_t>(count) < SPACES.size()
                                               ? static_cast<std::size_t>(count)
                                               : SPACES.size()));
    }
}

}  // namespace

void draw_status_line(std::string_view line) {
    const ending_step step;
    const int room = status_line_width() - 1;
    if (room <= 0) return;
    if (line.size() > static_cast<std::size_t>(room)) line = line.substr(0, room);
    std::string text = "\r";
    text += line;
    const int width = static_cast<int>(line.size());
    const int before = drawn < room ? drawn.load() : room;
    if (width < before) text.append(static_cast<std::size_t>(before - width), ' ');
    drawn = width > before ? width : before;
    write_status_text(text);
}

void erase_status_line() {
    const int room = status_line_width() - 1;
    const int width = drawn.exchange(0);
    if (width == 0) return;
    write_status_text("\r");
    write_spaces(width < room ? width : room);
    write_status_text("\r");
}

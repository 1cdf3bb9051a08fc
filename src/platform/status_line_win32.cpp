#include <windows.h>

#include <atomic>
#include <string>

#include "platform/status_line.h"

namespace {

// Columns drawn now; read by the console control handler's thread too.
std::atomic<int> drawn{0};

void write_all_of(const char* text, std::size_t size) {
    DWORD put = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(size), &put, nullptr);
}

}  // namespace

int status_line_width() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
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
    const int room = status_line_width() - 1;
    const int width = drawn.exchange(0);
    if (width == 0) return;
    std::string text = "\r";
    text.append(static_cast<std::size_t>(width < room ? width : room), ' ');
    text += '\r';
    write_all_of(text.data(), text.size());
}

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
    std::string text = "\r";
    text += line;
    const int width = static_cast<int>(line.size());
    if (width < drawn) text.append(static_cast<std::size_t>(drawn - width), ' ');
    if (width > drawn) drawn = width;
    write_all_of(text.data(), text.size());
}

void erase_status_line() {
    const int width = drawn.exchange(0);
    if (width == 0) return;
    std::string text = "\r";
    text.append(static_cast<std::size_t>(width), ' ');
    text += '\r';
    write_all_of(text.data(), text.size());
}

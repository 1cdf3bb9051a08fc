#include "front/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/terminal.h"

namespace {

bool output_carries_data = false;

void to_terminal(const std::string& text) {
    if (!write_terminal(text.data(), text.size())) std::fwrite(text.data(), 1, text.size(), stderr);
}

void tell(const std::string& text, bool dialogue) {
    if (output_carries_data) {
        to_terminal(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (dialogue && !output_is_terminal()) {
        std::fflush(stdout);  // in order with what was said before
        write_terminal(text.data(), text.size());
    }
}

}  // namespace

void keep_output_for_data() { output_carries_data = true; }

void say(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    char small[256];
    const int length = std::vsnprintf(small, sizeof small, format, args);
    std::string text;
    if (length >= 0 && static_cast<std::size_t>(length) < sizeof small) {
        text.assign(small, static_cast<std::size_t>(length));
    } else if (length > 0) {
        text.resize(static_cast<std::size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    va_end(args);
    tell(text, false);
}

void ask(const char* text) { tell(text, true); }

bool all_said() { return std::fflush(stdout) == 0 && !std::ferror(stdout); }

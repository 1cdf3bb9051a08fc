#include <windows.h>

#include <vector>

#include "platform/environment.h"

bool environment_value(const char* name, std::string& value) {
    // Windows matches variable names without regard to case.
    std::vector<char> buffer(256);
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length =
            GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            // 0 is also the length of an empty value.
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
            value.clear();
            return true;
        }
        if (length < buffer.size()) {
            value.assign(buffer.data(), length);
            return true;
        }
        buffer.resize(length);  // too small: length is the size needed
    }
}

// PATH elements are separated by ';' and may be quoted to hold one.
path_list_rules path_list_convention() {
    return {';', true};
}

std::string join_path(const std::string& element, const std::string& name) {
    if (!element.empty()) {
        const char last = element.back();
        if (last == '/' || last == '\\' || last == ':') return element + name;
    }
    return element + "\\" + name;
}

// The Windows zip keeps tovik.man beside tovik.exe, where the search along
// PATH (or in the current directory) finds it: no other place to look.
bool installed_manual_path(const char*, std::string&) { return false; }

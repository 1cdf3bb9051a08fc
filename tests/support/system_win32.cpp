#include "support/system_win32.h"

#include <gtest/gtest.h>

namespace {

// A progress line on the console would mix into the transcripts the tests
// compare: runs started from the tests show none.
const bool progress_off = SetEnvironmentVariableA("TOVIK_PROGRESS", "0") != 0;

}  // namespace

void set_attributes(const std::string& path, DWORD attributes) {
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes)) << path;
}

HANDLE open_console_input() {
    return CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

std::optional<DWORD> run_this_binary(const std::string& arguments, DWORD flags, DWORD timeout_ms) {
    char self[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self) return std::nullopt;
    std::string command = std::string("\"") + self + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &process)) {
        return std::nullopt;
    }
    std::optional<DWORD> status;
    if (WaitForSingleObject(process.hProcess, timeout_ms) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code)) status = code;
    } else {
        TerminateProcess(process.hProcess, 99);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status;
}

bool running_under_wine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string windows_path(const std::string& path) {
    if (path.empty() || path.front() != '/') return path;
    using convert = WCHAR* (*)(const char*);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto to_dos = reinterpret_cast<convert>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_dos_file_name")));
    if (to_dos == nullptr) return path;
    WCHAR* wide = to_dos(path.c_str());
    if (wide == nullptr) return path;
    char narrow[4 * MAX_PATH];
    const int length =
        WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
    HeapFree(GetProcessHeap(), 0, wide);
    return length > 0 ? std::string(narrow) : path;
}

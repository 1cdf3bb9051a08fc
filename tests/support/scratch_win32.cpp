#include "support/scratch_win32.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// A progress line on the console would mix into the transcripts the tests
// compare: runs started from the tests show none.
const bool progress_off = SetEnvironmentVariableA("TOVIK_PROGRESS", "0") != 0;

std::string current_directory() {
    std::vector<char> buffer(GetCurrentDirectoryA(0, nullptr) + 1);
    GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    return buffer.data();
}

// Removes a tree bottom-up; read-only entries are made writable first.
void remove_tree(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(child);
            } else {
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

}  // namespace

scratch_directory::scratch_directory() : previous(current_directory()) {
    char temp[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    EXPECT_GT(length, 0u);
    std::random_device seed;
    path = std::string(temp, length);
    if (path.back() == '\\') path.pop_back();
    path += "\\tovik-win-" + std::to_string(seed()) + "-" + std::to_string(GetCurrentProcessId());
    EXPECT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path;
    EXPECT_TRUE(SetCurrentDirectoryA(path.c_str())) << path;
}

scratch_directory::~scratch_directory() {
    SetCurrentDirectoryA(previous.c_str());
    remove_tree(path);
}

std::set<std::string> names_in(const std::string& directory) {
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((directory + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") names.insert(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

void make_directory(const std::string& path) {
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path;
}

void set_attributes(const std::string& path, DWORD attributes) {
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes)) << path;
}

HANDLE open_console_input() {
    return CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
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

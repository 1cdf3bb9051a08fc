// Files on Windows. Each call asks the fault seam first, at the same points
// as on POSIX: open (open_for_reading, open_for_update, full_path), create,
// read, write (write_all, copy_attributes), sync (sync_file, sync_outputs),
// close, rename (rename_file, replace_if_unchanged) and unlink (remove_file,
// remove_if_unchanged).
//
// Files are opened with delete sharing, as POSIX files always are: a file
// being read can be replaced by a rename, and an interrupted run can delete
// the temporary it is still writing.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <random>

#include "platform/fault.h"
#include "platform/files.h"
#include "platform/temp_name.h"

namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A longer name component is refused by the file systems Windows uses.
constexpr std::size_t NAME_LIMIT = 255;
// ReadFile and WriteFile take 32-bit counts.
constexpr std::size_t LARGEST_TRANSFER = 1u << 30;

HANDLE handle_of(const os_file& file) {
    return reinterpret_cast<HANDLE>(file.native);
}

std::int64_t ticks(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}

bool read_information(HANDLE handle, file_state& state) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return false;
    state.identity = {info.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    state.size = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    state.modified = ticks(info.ftLastWriteTime);
    state.accessed = ticks(info.ftLastAccessTime);
    state.created = ticks(info.ftCreationTime);
    state.mode = info.dwFileAttributes;
    // The change time is not in that record; where the file system keeps
    // none, the last write time stands in for it.
    FILE_BASIC_INFO basic{};
    state.changed = GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)
                        ? basic.ChangeTime.QuadPart
                        : state.modified;
    return true;
}

// The state of the file path leads to, without opening it for any access.
bool state_behind(const std::string& path, file_state& state) {
    HANDLE handle = CreateFileA(path.c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = read_information(handle, state);
    CloseHandle(handle);
    return known;
}

// Opening a directory fails without FILE_FLAG_BACKUP_SEMANTICS; devices such
// as "CON" or "NUL" open without waiting and are refused by their type.
bool open_regular(const std::string& path, DWORD access, DWORD flags, os_file& file,
                  file_state* state) {
    if (fault_injected(fault_point::open)) return false;
    HANDLE handle =
        CreateFileA(path.c_str(), access, SHARE_ALL, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return false;
    }
    // A state that cannot be read is left unknown (size -1) for the caller.
    if (state != nullptr && !read_information(handle, *state)) *state = file_state{};
    file = os_file(reinterpret_cast<std::intptr_t>(handle));
    return true;
}

// Six characters from [0-9A-Za-z] in place of the trailing "XXXXXX".
void fill_random_part(std::string& pattern) {
    static constexpr char ALPHABET[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    thread_local std::mt19937 generator{std::random_device{}() ^ GetCurrentProcessId()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof ALPHABET - 2);
    for (std::size_t i = pattern.size() - 6; i < pattern.size(); ++i)
        pattern[i] = ALPHABET[pick(generator)];
}

// CREATE_NEW fails on an existing name, so the temporary is ours alone; a
// taken name is retried with other random characters.
HANDLE create_unique(std::string& pattern) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        fill_random_part(pattern);
        HANDLE handle = CreateFileA(pattern.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return handle;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

os_file::~os_file() {
    if (native != -1) CloseHandle(handle_of(*this));
}

bool open_for_reading(const std::string& path, os_file& file, file_state* state, file_identity* name) {
    return open_regular(path, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN, file, state) &&
           (name == nullptr || name_identity(path, *name));
}

bool open_for_update(const std::string& path, os_file& file, file_state* state, file_identity* name) {
    // Fails for a file with the read-only attribute.
    return open_regular(path, GENERIC_READ | GENERIC_WRITE, 0, file, state) &&
           (name == nullptr || name_identity(path, *name));
}

namespace {

bool open_standard(DWORD which, os_file& file) {
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(which), GetCurrentProcess(), &copy, 0,
                         FALSE, DUPLICATE_SAME_ACCESS)) {
        return false;
    }
    file = os_file(reinterpret_cast<std::intptr_t>(copy));
    return true;
}

}  // namespace

bool open_standard_input(os_file& file) { return open_standard(STD_INPUT_HANDLE, file); }
bool open_standard_output(os_file& file) { return open_standard(STD_OUTPUT_HANDLE, file); }

bool create_temp_beside(const std::string& final_path, os_file& file, std::string& temp_path) {
    if (fault_injected(fault_point::create)) return false;
    std::string pattern = temp_name_pattern(final_path, NAME_LIMIT, "/\\:");
    HANDLE handle = create_unique(pattern);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILENAME_EXCED_RANGE) {
        pattern = temp_name_pattern(final_path, 0, "/\\:");
        handle = create_unique(pattern);
    }
    if (handle == INVALID_HANDLE_VALUE) return false;
    file = os_file(reinterpret_cast<std::intptr_t>(handle));
    temp_path = std::move(pattern);
    return true;
}

std::ptrdiff_t read_some(os_file& file, void* buffer, std::size_t size) {
    if (fault_injected(fault_point::read)) return -1;
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(std::min(size, LARGEST_TRANSFER));
    if (!ReadFile(handle_of(file), buffer, wanted, &got, nullptr)) {
        // A pipe whose writer has gone reads as its end.
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return static_cast<std::ptrdiff_t>(got);
}

bool write_all(os_file& file, const void* data, std::size_t size) {
    if (fault_injected(fault_point::write)) return false;
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        DWORD put = 0;
        const DWORD wanted = static_cast<DWORD>(std::min(size, LARGEST_TRANSFER));
        if (!WriteFile(handle_of(file), next, wanted, &put, nullptr)) return false;
        if (put == 0) {  // no progress and no error: do not spin
            errno = EIO;
            return false;
        }
        next += put;
        size -= put;
    }
    return true;
}

bool sync_file(os_file& file) {
    if (fault_injected(fault_point::sync)) return false;
    return FlushFileBuffers(handle_of(file)) != 0;
}

bool close_file(os_file& file) {
    HANDLE handle = handle_of(file);
    file.native = -1;
    if (fault_injected(fault_point::close)) {
        CloseHandle(handle);  // released all the same
        return false;
    }
    return CloseHandle(handle) != 0;
}

// Windows has no permission bits; the read-only attribute is what a file
// carries of them, and the output gets it when the input has it, with the
// input's times. Owners and access lists are left as the output's directory
// gives them.
bool copy_attributes(const file_state& from, os_file& to, const file_state& to_state) {
    if (fault_injected(fault_point::write)) return false;
    FILE_BASIC_INFO basic{};
    basic.CreationTime.QuadPart = from.created;
    basic.LastAccessTime.QuadPart = from.accessed;
    basic.LastWriteTime.QuadPart = from.modified;
    basic.ChangeTime.QuadPart = 0;  // left as it is
    basic.FileAttributes = (to_state.mode & ~FILE_ATTRIBUTE_NORMAL) |
                           (from.mode & FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(handle_of(to), FileBasicInfo, &basic, sizeof basic) != 0;
}

// The hint is given when a file is opened for reading
// (FILE_FLAG_SEQUENTIAL_SCAN); Windows takes none later.
void advise_sequential(os_file& /*file*/) {}

file_result rename_file(const std::string& from, const std::string& to, bool replace) {
    if (fault_injected(fault_point::rename)) return file_result::failed;
    // Windows refuses to replace a read-only file; wine would replace it, so
    // the rule is applied here for both.
    const DWORD existing = GetFileAttributesA(to.c_str());
    if (replace && existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return file_result::denied;
    }
    // WRITE_THROUGH: returns only once the rename is on the disk.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExA(from.c_str(), to.c_str(), flags)) return file_result::done;
    const DWORD error = GetLastError();
    if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS))
        return file_result::taken;
    return file_result::failed;
}

file_result replace_if_unchanged(const std::string& from, const std::string& to,
                                 const file_state& read) {
    if (fault_injected(fault_point::rename)) return file_result::failed;
    file_state now;
    if (!state_behind(to, now) || !same_version(now, read)) return file_result::changed;
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH | MOVEFILE_REPLACE_EXISTING)
               ? file_result::done
               : file_result::failed;
}

bool remove_file(const std::string& path) {
    if (fault_injected(fault_point::unlink)) return false;
    return DeleteFileA(path.c_str()) != 0;
}

bool read_state(os_file& file, file_state& state) {
    return read_information(handle_of(file), state);
}

bool name_identity(const std::string& path, file_identity& identity) {
    HANDLE handle = CreateFileA(path.c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    file_state state;
    const bool known = read_information(handle, state);
    CloseHandle(handle);
    identity = state.identity;
    return known;
}

// Windows has no flush of a whole volume short of administrator rights, and
// flushes a file only through a handle that may write: each output was
// flushed by sync_before_close, and its rename written through.
bool sync_outputs(const std::vector<std::string>& /*paths*/) {
    return !fault_injected(fault_point::sync);
}

bool sync_before_close(os_file& file) { return sync_file(file); }

// The check and the delete go through one handle opened on the name itself:
// the file deleted is the one checked.
// Removing one name of a file with others changes the file when the handle
// closes, after the last look this handle can take: read is left as it is.
file_result remove_if_unchanged(const std::string& path, const file_identity& name, file_state& read) {
    if (fault_injected(fault_point::unlink)) return file_result::failed;
    HANDLE handle = CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return file_result::gone;
        return error == ERROR_ACCESS_DENIED ? file_result::denied : file_result::failed;
    }
    os_file open_name;
    open_name = os_file(reinterpret_cast<std::intptr_t>(handle));
    file_state now;
    if (!read_information(handle, now)) return file_result::failed;
    if (!(now.identity == name)) return file_result::changed;
    // Through a link, the file it leads to must be the one read, unchanged.
    if (!(now.identity == read.identity) && !state_behind(path, now)) return file_result::changed;
    if (!same_version(now, read)) return file_result::changed;
    FILE_DISPOSITION_INFO dispose{TRUE};
    if (SetFileInformationByHandle(handle, FileDispositionInfo, &dispose, sizeof dispose))
        return file_result::done;
    return GetLastError() == ERROR_ACCESS_DENIED ? file_result::denied : file_result::failed;
}

// The buffer grows to what the call asks for; the ANSI call itself still
// refuses full paths of MAX_PATH characters or more, which the ANSI file calls
// could not open anyway.
bool full_path(const std::string& path, std::string& result) {
    if (fault_injected(fault_point::open)) return false;
    if (path.empty()) return false;
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()),
                                              buffer.data(), nullptr);
        if (length == 0) return false;
        if (length < buffer.size()) {
            buffer.resize(length);
            result = std::move(buffer);
            return true;
        }
        buffer.resize(length);  // too small: length is the size needed
    }
}

// The ANSI file calls refuse longer paths.
std::size_t path_limit() { return MAX_PATH - 1; }

std::size_t name_limit(const std::string& /*directory*/) { return NAME_LIMIT; }

std::size_t name_length(std::string_view name) {
    const int units = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()),
                                          nullptr, 0);
    return units > 0 ? static_cast<std::size_t>(units) : name.size();
}

// NTFS and FAT compare names without regard to case; ASCII letters are
// folded here, which is what names of one run differ by in practice.
std::uint64_t path_hash(std::string_view path) {
    std::string key(path);
    for (char& c : key) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c == '/') c = '\\';
    }
    return std::hash<std::string>{}(key);
}

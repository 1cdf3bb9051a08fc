// Files on Windows. Each call asks the fault seam first, at the same points
// as on POSIX: open (open_for_reading, open_for_update, file_size,
// path_exists, full_path), create, read, write (write_all,
// copy_permissions), sync (sync_file, sync_directory_of), close, rename and
// unlink.
//
// Files are opened with delete sharing, as POSIX files always are: a file
// being read can be replaced by a rename, and an interrupted run can delete
// the temporary it is still writing.
#include <windows.h>

#include <algorithm>
#include <cerrno>
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

// True when the seam says this call fails; errno then holds its error.
bool injected(fault_point point) {
    int error = 0;
    if (!fault_fires(point, &error)) return false;
    errno = error;
    return true;
}

void adopt(os_file& file, HANDLE handle) {
    os_file old(std::move(file));
    file.native = reinterpret_cast<std::intptr_t>(handle);
}

// Opening a directory fails without FILE_FLAG_BACKUP_SEMANTICS; devices such
// as "CON" or "NUL" open without waiting and are refused by their type.
bool open_regular(const std::string& path, DWORD access, DWORD flags, os_file& file) {
    if (injected(fault_point::open)) return false;
    HANDLE handle =
        CreateFileA(path.c_str(), access, SHARE_ALL, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return false;
    }
    adopt(file, handle);
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

bool open_for_reading(const std::string& path, os_file& file) {
    return open_regular(path, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN, file);
}

bool open_for_update(const std::string& path, os_file& file) {
    // Fails for a file with the read-only attribute.
    return open_regular(path, GENERIC_READ | GENERIC_WRITE, 0, file);
}

bool create_temp_beside(const std::string& final_path, os_file& file, std::string& temp_path) {
    if (injected(fault_point::create)) return false;
    std::string pattern = temp_name_pattern(final_path, NAME_LIMIT, "/\\:");
    HANDLE handle = create_unique(pattern);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILENAME_EXCED_RANGE) {
        pattern = temp_name_pattern(final_path, 0, "/\\:");
        handle = create_unique(pattern);
    }
    if (handle == INVALID_HANDLE_VALUE) return false;
    adopt(file, handle);
    temp_path = std::move(pattern);
    return true;
}

std::ptrdiff_t read_some(os_file& file, void* buffer, std::size_t size) {
    if (injected(fault_point::read)) return -1;
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(std::min(size, LARGEST_TRANSFER));
    if (!ReadFile(handle_of(file), buffer, wanted, &got, nullptr)) return -1;
    return static_cast<std::ptrdiff_t>(got);
}

bool write_all(os_file& file, const void* data, std::size_t size) {
    if (injected(fault_point::write)) return false;
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
    if (injected(fault_point::sync)) return false;
    return FlushFileBuffers(handle_of(file)) != 0;
}

bool close_file(os_file& file) {
    HANDLE handle = handle_of(file);
    file.native = -1;
    if (injected(fault_point::close)) {
        CloseHandle(handle);  // released all the same
        return false;
    }
    return CloseHandle(handle) != 0;
}

// Windows has no permission bits; the read-only attribute is what a file
// carries of them, and the output gets it when the input has it. Access
// lists are left as the output's directory gives them.
bool copy_permissions(os_file& from, os_file& to) {
    if (injected(fault_point::write)) return false;
    BY_HANDLE_FILE_INFORMATION source;
    if (!GetFileInformationByHandle(handle_of(from), &source)) return false;
    if ((source.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
    FILE_BASIC_INFO basic{};  // zero times: left as they are
    if (!GetFileInformationByHandleEx(handle_of(to), FileBasicInfo, &basic, sizeof basic))
        return false;
    basic.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    return SetFileInformationByHandle(handle_of(to), FileBasicInfo, &basic, sizeof basic) != 0;
}

// The hint is given when a file is opened for reading
// (FILE_FLAG_SEQUENTIAL_SCAN); Windows takes none later.
void advise_sequential(os_file& /*file*/) {}

bool replace_file(const std::string& from, const std::string& to) {
    if (injected(fault_point::rename)) return false;
    // Windows refuses to replace a read-only file; wine would replace it, so
    // the rule is applied here for both.
    const DWORD existing = GetFileAttributesA(to.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // WRITE_THROUGH: returns only once the rename is on the disk.
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Nothing to do: Windows cannot flush a directory, and replace_file already
// waits until its rename is on the disk (MOVEFILE_WRITE_THROUGH).
bool sync_directory_of(const std::string& /*path*/) {
    return !injected(fault_point::sync);
}

bool remove_file(const std::string& path) {
    if (injected(fault_point::unlink)) return false;
    return DeleteFileA(path.c_str()) != 0;
}

bool identify_file(os_file& file, file_identity& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle_of(file), &info)) return false;
    identity = {info.dwVolumeSerialNumber,
                (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
}

// Windows has no flush of a whole volume short of administrator rights: each
// file is flushed on its own (its rename was written through already).
bool sync_outputs(const std::vector<std::string>& paths) {
    if (injected(fault_point::sync)) return false;
    for (const std::string& path : paths) {
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, SHARE_ALL, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return false;
        const bool flushed = FlushFileBuffers(handle) != 0;
        CloseHandle(handle);
        if (!flushed) return false;
    }
    return true;
}

void remove_all_if_same(const std::vector<identified_path>& files) {
    for (const identified_path& file : files) {
        if (injected(fault_point::unlink)) continue;
        os_file open_file;
        HANDLE handle =
            CreateFileA(file.path.c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) continue;
        adopt(open_file, handle);
        file_identity current;
        if (identify_file(open_file, current) && current.volume == file.identity.volume &&
            current.index == file.identity.index) {
            DeleteFileA(file.path.c_str());
        }
    }
}

std::int64_t file_size(const std::string& path) {
    if (injected(fault_point::open)) return -1;
    // Attributes first: directories and devices are never opened.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return -1;
    }
    HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    LARGE_INTEGER size;
    const bool known = GetFileType(handle) == FILE_TYPE_DISK && GetFileSizeEx(handle, &size);
    CloseHandle(handle);
    return known ? static_cast<std::int64_t>(size.QuadPart) : -1;
}

bool path_exists(const std::string& path) {
    if (injected(fault_point::open)) return false;
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The buffer grows to what the call asks for; the ANSI call itself still
// refuses full paths of MAX_PATH characters or more, which the ANSI file calls
// could not open anyway.
bool full_path(const std::string& path, std::string& result) {
    if (injected(fault_point::open)) return false;
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

// Files, as the rest of the program sees them. The only code that opens,
// reads, writes, renames or deletes anything is behind this header
// (files_posix.cpp, files_win32.cpp).
//
// Every call reports failure; none throws. Each call first asks the fault
// seam (platform/fault.h) whether it should fail, so tests can fail any one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// An open file. Closing happens in the destructor if close_file was not
// called; close_file is the checked way.
struct os_file {
    std::intptr_t native = -1;  // fd on POSIX, HANDLE on Windows
    os_file() = default;
    os_file(const os_file&) = delete;
    os_file& operator=(const os_file&) = delete;
    os_file(os_file&& other) noexcept : native(other.native) { other.native = -1; }
    ~os_file();
    bool is_open() const { return native != -1; }
};

// Opens an existing regular file for reading, without blocking on special
// files (they fail).
bool open_for_reading(const std::string& path, os_file& file);
// Opens an existing regular file for reading and writing ("can be updated").
bool open_for_update(const std::string& path, os_file& file);
// Creates a new file with a unique name in the directory of final_path, only
// readable and writable by its owner; temp_path receives its name. The name
// has the form "<final name>.tovik-XXXXXX" (or ".tovik-XXXXXX" when that
// would be too long), so a file left by a killed run is recognisable.
bool create_temp_beside(const std::string& final_path, os_file& file, std::string& temp_path);
// The name (without directory) has the form of a temporary made above;
// collection never takes such a file as a target.
bool is_temporary_name(const std::string& name);

// Bytes read (0 at end of file), or -1.
std::ptrdiff_t read_some(os_file& file, void* buffer, std::size_t size);
// Writes every byte or fails.
bool write_all(os_file& file, const void* data, std::size_t size);
// Flushes the file's data to stable storage.
bool sync_file(os_file& file);
// Closes and reports whether the close succeeded (a failed close can mean
// lost writes).
bool close_file(os_file& file);
// Gives to the permission bits of from (an open file).
bool copy_permissions(os_file& from, os_file& to);
// Hint: the file will be read or written once, front to back.
void advise_sequential(os_file& file);

// Renames from over to, replacing an existing file atomically.
bool replace_file(const std::string& from, const std::string& to);
// Makes a rename or delete in the directory holding path durable.
bool sync_directory_of(const std::string& path);
bool remove_file(const std::string& path);

// What tells a file apart from every other on the machine, whatever its name
// (device and inode on POSIX, volume and file index on Windows).
struct file_identity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
};
bool identify_file(os_file& file, file_identity& identity);
// Makes durable, at once, what was written to the files at paths and the
// names they were given (point "sync"). On Linux one syncfs per file system,
// which is what lets many outputs share one wait for the disk.
bool sync_outputs(const std::vector<std::string>& paths);
// Removes each path that still names the file identified: a name taken
// over by another file since is left alone, and a failed removal leaves the
// file. The seam is asked once per path (point "unlink"), on this thread.
// On POSIX a few threads remove at once: ext4 mounted with "discard" waits
// for the disk to discard each removed file's blocks, and the waits overlap.
struct identified_path {
    std::string path;
    file_identity identity;
};
void remove_all_if_same(const std::vector<identified_path>& files);

// Length of a regular file, or -1 when path is not one or cannot be opened.
// Never blocks on FIFOs or devices.
std::int64_t file_size(const std::string& path);
// The path names something (file, directory or other).
bool path_exists(const std::string& path);
// Absolute form of a relative path; false when it cannot be made.
bool full_path(const std::string& path, std::string& result);

// Files, as the rest of the program sees them. The only code that opens,
// reads, writes, renames or deletes anything is behind this header
// (files_posix.cpp, files_win32.cpp).
//
// Every call reports failure, none throws: a bool (true: done), or a
// file_result where the caller acts on why a call failed. Each call first asks the fault
// seam (platform/fault.h) whether it should fail, so tests can fail any one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// An open file. Closing happens in the destructor if close_file was not
// called; close_file is the checked way.
struct os_file {
    std::intptr_t native = -1;  // fd on POSIX, HANDLE on Windows
    os_file() = default;
    explicit os_file(std::intptr_t handle) : native(handle) {}
    os_file(os_file&& other) noexcept : native(other.native) { other.native = -1; }
    // The file held before is closed with other.
    os_file& operator=(os_file&& other) noexcept {
        std::swap(native, other.native);
        return *this;
    }
    ~os_file();
    bool is_open() const { return native != -1; }
};

// What tells a file apart from every other on the machine, whatever its name
// (device and inode on POSIX, volume and file index on Windows).
struct file_identity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    auto operator<=>(const file_identity&) const = default;
};
// A file as it was at one moment: which file, how long, its times (in the
// platform's own units), its permission bits or attribute word, its owner.
struct file_state {
    file_identity identity;
    std::int64_t size = -1;
    std::int64_t modified = 0;
    std::int64_t accessed = 0;
    // Set by the system at every change of the file, its data or its
    // attributes, and by nobody else: a rewrite that keeps the length and
    // puts the modification time back still moves it.
    std::int64_t changed = 0;
    std::int64_t created = 0;  // Windows only
    std::uint32_t mode = 0;    // rwx bits on POSIX, the attribute word on Windows
    std::uint32_t owner = 0;   // POSIX only, as the group
    std::uint32_t group = 0;
};
// The same file, unchanged: same length, same modification and change times.
inline bool same_version(const file_state& a, const file_state& b) {
    return a.identity == b.identity && a.size == b.size && a.modified == b.modified &&
           a.changed == b.changed;
}

// Opens an existing regular file for reading, without blocking on special
// files (they fail); its state, when asked for, as read_state gives it (size
// -1 when it cannot be read), and the identity of the name itself, when asked
// for, as name_identity gives it.
bool open_for_reading(const std::string& path, os_file& file, file_state* state = nullptr,
                      file_identity* name = nullptr);
// Opens an existing regular file for reading and writing ("can be updated").
bool open_for_update(const std::string& path, os_file& file, file_state* state = nullptr,
                     file_identity* name = nullptr);
// Standard input or output as a file of its own, its bytes as they come:
// closing it leaves the standard stream open.
bool open_standard_input(os_file& file);
bool open_standard_output(os_file& file);
// Creates a new file with a unique name in the directory of final_path, only
// readable and writable by its owner; temp_path receives its name, of the
// shape temp_name_pattern gives (platform/temp_name.h).
bool create_temp_beside(const std::string& final_path, os_file& file, std::string& temp_path);

// Bytes read (0 at end of file), or -1.
std::ptrdiff_t read_some(os_file& file, void* buffer, std::size_t size);
// Writes every byte or fails.
bool write_all(os_file& file, const void* data, std::size_t size);
// Flushes the file's data to stable storage.
bool sync_file(os_file& file);
// Closes and reports whether the close succeeded (a failed close can mean
// lost writes).
bool close_file(os_file& file);
// Gives to, whose state is to_state, the permission bits (on Windows the
// read-only attribute), the owner and group (where this process may set
// them) and the times of the file whose state is from. Called after the
// last write, which would change the modification time again.
bool copy_attributes(const file_state& from, os_file& to, const file_state& to_state);
// Hint: the file will be read or written once, front to back.
void advise_sequential(os_file& file);

// What a file call did when the caller must tell its failures apart.
enum class file_result {
    done,
    taken,    // the name asked for exists (rename without replace)
    changed,  // the file is not the one read, or no longer as it was read
    gone,     // the name no longer exists
    denied,   // no permission
    failed    // any other failure
};

// Renames from over to, replacing an existing file atomically; with
// replace false only when to does not exist (taken, and nothing done).
file_result rename_file(const std::string& from, const std::string& to, bool replace);
// Renames from over to only while to is still the file read, in state read
// (through a link, the file behind it); otherwise changed, and nothing is
// done (point "rename").
file_result replace_if_unchanged(const std::string& from, const std::string& to,
                                 const file_state& read);
bool remove_file(const std::string& path);

bool read_state(os_file& file, file_state& state);
// The identity of the name itself: a symbolic link's own, not its target's.
bool name_identity(const std::string& path, file_identity& identity);

// Makes durable, at once, what was written to the files at paths and the
// names they were given (point "sync"). On Linux one syncfs per file system,
// which is what lets many outputs share one wait for the disk.
bool sync_outputs(const std::vector<std::string>& paths);
// Called on each output once it is complete, before it is closed. Where
// sync_outputs cannot reach a closed file (Windows flushes only through a
// handle that may write, which a read-only output no longer gives), the
// file is flushed now (point "sync"); elsewhere nothing is done.
bool sync_before_close(os_file& file);

// Removes the name path when it still is what was read: the name has the
// identity name, and the file it leads to is in state read. A symbolic link
// is removed itself; the file behind it stays. gone: the name no longer
// exists; changed: it names another file, or the file was changed since
// (point "unlink"). Removing one name of a file that has others changes the
// file (its change time); where the system tells, read.changed is then the
// file's change time after the removal, for checking its other names.
file_result remove_if_unchanged(const std::string& path, const file_identity& name,
                                file_state& read);

// Absolute form of a relative path; false when it cannot be made.
bool full_path(const std::string& path, std::string& result);
// The longest path the file calls take, in bytes.
std::size_t path_limit();
// The longest name (one part of a path) the file system of directory takes,
// in the units of name_length.
std::size_t name_limit(const std::string& directory);
// The length of a name as its file system counts it: bytes on POSIX, UTF-16
// units on Windows (a character of a double-byte code page is one).
std::size_t name_length(std::string_view name);
// A 64-bit hash of the path, the same for two names of one file where the
// file system ignores letter case (Windows): of the path's bytes elsewhere.
std::uint64_t path_hash(std::string_view path);

// Files on POSIX systems. Each call asks the fault seam first; the points
// are: open (open_for_reading, open_for_update, full_path), create, read,
// write (write_all, copy_attributes), sync (sync_file, sync_outputs), close,
// rename (rename_file, replace_if_unchanged) and unlink (remove_file,
// remove_if_unchanged). The
// hint advise_sequential cannot fail and has no point. A sync the seam omits
// does nothing and reports success.
//
// While a test records the disk's events (platform/disk_record.h), each
// operation that changed something is reported once it succeeded.

#include <fcntl.h>
#include <stdio.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>

#include "platform/disk_record.h"
#include "platform/fault.h"
#include "platform/files.h"
#include "platform/temp_name.h"

namespace {

int descriptor(const os_file& file) {
    return static_cast<int>(file.native);
}

file_identity identity_of(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

std::int64_t nanoseconds(const struct timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

struct timespec timespec_of(std::int64_t nanoseconds) {
    return {static_cast<time_t>(nanoseconds / 1000000000), static_cast<long>(nanoseconds % 1000000000)};
}

file_state state_of(const struct stat& status) {
    file_state state;
    state.identity = identity_of(status);
    state.size = static_cast<std::int64_t>(status.st_size);
    state.modified = nanoseconds(status.st_mtim);
    state.accessed = nanoseconds(status.st_atim);
    state.changed = nanoseconds(status.st_ctim);
    state.mode = static_cast<std::uint32_t>(status.st_mode & 07777);
    state.owner = static_cast<std::uint32_t>(status.st_uid);
    state.group = static_cast<std::uint32_t>(status.st_gid);
    return state;
}

int open_retried(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// O_NONBLOCK keeps the open itself from waiting on a FIFO or device; it does
// nothing for the regular files that are kept. The name's identity is the
// file's unless the name is a link: an open that does not follow one tells.
bool open_regular(const std::string& path, int access, os_file& file, file_state* state,
                  file_identity* name) {
    if (fault_injected(fault_point::open)) return false;
    int fd = open_retried(path, access | (name != nullptr ? O_NOFOLLOW : 0));
    bool linked = false;
    if (fd < 0 && name != nullptr && errno == ELOOP) {
        linked = true;
        struct stat link;
        fd = ::lstat(path.c_str(), &link) == 0 ? open_retried(path, access) : -1;
        *name = identity_of(link);
    }
    if (fd < 0) return false;
    struct stat status;
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (!regular) {
        ::close(fd);
        errno = EINVAL;
        return false;
    }
    if (state != nullptr) *state = state_of(status);
    if (name != nullptr && !linked) *name = identity_of(status);
    file = os_file(fd);
    return true;
}

// For the record only: what it needs beyond the call's own arguments.
file_identity identity_of_descriptor(int fd) {
    struct stat status;
    return ::fstat(fd, &status) == 0 ? identity_of(status) : file_identity{};
}

void record_on_file(disk_op op, int fd, std::string_view path = {}, std::uint64_t begun = 0) {
    disk_record({.op = op, .path = path, .file = identity_of_descriptor(fd), .begun = begun});
}

// put bytes were just written at the descriptor's position.
void record_write(int fd, const char* bytes, ssize_t put) {
    disk_record({.op = disk_op::write,
                 .file = identity_of_descriptor(fd),
                 .offset = static_cast<std::int64_t>(::lseek(fd, 0, SEEK_CUR) - put),
                 .bytes = {bytes, static_cast<std::size_t>(put)}});
}

file_result renamed(const std::string& from, const std::string& to, bool done) {
    if (!done) return file_result::failed;
    if (disk_recording()) disk_record({.op = disk_op::rename, .path = from, .to = to});
    return file_result::done;
}

bool recorded_unlink(const std::string& path, bool removed) {
    if (removed && disk_recording()) disk_record({.op = disk_op::unlink, .path = path});
    return removed;
}

// A sync point the seam may fail (false, errno set) or omit (true, and the
// sync is not done): whether to go on with the sync.
bool sync_goes_on(bool& result) {
    const fault_action action = fault_decide(fault_point::sync);
    result = action == fault_action::omit;
    return action == fault_action::proceed;
}

}  // namespace

os_file::~os_file() {
    if (native != -1) ::close(descriptor(*this));
}

bool open_for_reading(const std::string& path, os_file& file, file_state* state, file_identity* name) {
    return open_regular(path, O_RDONLY, file, state, name);
}

bool open_for_update(const std::string& path, os_file& file, file_state* state, file_identity* name) {
    return open_regular(path, O_RDWR, file, state, name);
}

namespace {

bool open_standard(int fd, os_file& file) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return false;
    file = os_file(copy);
    return true;
}

}  // namespace

bool open_standard_input(os_file& file) { return open_standard(STDIN_FILENO, file); }
bool open_standard_output(os_file& file) { return open_standard(STDOUT_FILENO, file); }

bool create_temp_beside(const std::string& final_path, os_file& file, std::string& temp_path) {
    if (fault_injected(fault_point::create)) return false;
    // mkostemp creates exclusively with mode 0600. When the long form is
    // refused for its length (a file system with a shorter limit), the short
    // form is tried.
    std::string pattern = temp_name_pattern(final_path, NAME_MAX, "/");
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0 && errno == ENAMETOOLONG) {
        pattern = temp_name_pattern(final_path, 0, "/");
        fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    }
    if (fd < 0) return false;
    if (disk_recording()) record_on_file(disk_op::create, fd, pattern);
    file = os_file(fd);
    temp_path = std::move(pattern);
    return true;
}

std::ptrdiff_t read_some(os_file& file, void* buffer, std::size_t size) {
    if (fault_injected(fault_point::read)) return -1;
    ssize_t got;
    do {
        got = ::read(descriptor(file), buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

bool write_all(os_file& file, const void* data, std::size_t size) {
    if (fault_injected(fault_point::write)) return false;
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(descriptor(file), next, size);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return false;
        if (put == 0) {  // no progress and no error: do not spin
            errno = EIO;
            return false;
        }
        if (disk_recording()) record_write(descriptor(file), next, put);
        next += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool sync_file(os_file& file) {
    bool omitted = false;
    if (!sync_goes_on(omitted)) return omitted;
    const std::uint64_t begun = disk_recording() ? disk_record_mark() : 0;
    int result;
    do {
        result = ::fsync(descriptor(file));
    } while (result != 0 && errno == EINTR);
    if (result == 0 && disk_recording())
        record_on_file(disk_op::file_sync, descriptor(file), {}, begun);
    return result == 0;
}

bool close_file(os_file& file) {
    const int fd = descriptor(file);
    file.native = -1;
    if (fault_injected(fault_point::close)) {
        const int error = errno;
        ::close(fd);  // the descriptor is released all the same
        errno = error;
        return false;
    }
    // Not retried on EINTR: the descriptor is gone either way, and the
    // error is reported because writes may have been lost.
    return ::close(fd) == 0;
}

bool copy_attributes(const file_state& from, os_file& to, const file_state& to_state) {
    if (fault_injected(fault_point::write)) return false;
    // The owner and group only where this process may give them (as root);
    // otherwise the output is the user's own, as any file they create.
    if ((from.owner != to_state.owner || from.group != to_state.group) &&
        ::fchown(descriptor(to), from.owner, from.group) != 0) {
        [[maybe_unused]] const int group_only = ::fchown(descriptor(to), -1, from.group);
    }
    // Only the rwx bits: set-id bits on a file that now has another owner
    // would grant what the original did not. After the owner, which would
    // clear them anyway.
    if ((from.mode & 0777) != to_state.mode && ::fchmod(descriptor(to), from.mode & 0777) != 0)
        return false;
    const struct timespec times[2] = {timespec_of(from.accessed), timespec_of(from.modified)};
    const bool set = ::futimens(descriptor(to), times) == 0;
    if (set && disk_recording()) record_on_file(disk_op::attributes, descriptor(to));
    return set;
}

void advise_sequential(os_file& file) {
    ::posix_fadvise(descriptor(file), 0, 0, POSIX_FADV_SEQUENTIAL);
}

file_result rename_file(const std::string& from, const std::string& to, bool replace) {
    if (fault_injected(fault_point::rename)) return file_result::failed;
    if (replace) return renamed(from, to, ::rename(from.c_str(), to.c_str()) == 0);
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return renamed(from, to, true);
    if (errno == EEXIST) return file_result::taken;
    if (errno != EINVAL) return file_result::failed;
    // A file system without the flag: a look first, then the plain rename.
    struct stat status;
    if (::lstat(to.c_str(), &status) == 0) return file_result::taken;
    return renamed(from, to, ::rename(from.c_str(), to.c_str()) == 0);
}

file_result replace_if_unchanged(const std::string& from, const std::string& to,
                                 const file_state& read) {
    if (fault_injected(fault_point::rename)) return file_result::failed;
    struct stat status;
    if (::stat(to.c_str(), &status) != 0 || !same_version(state_of(status), read))
        return file_result::changed;
    return renamed(from, to, ::rename(from.c_str(), to.c_str()) == 0);
}

bool remove_file(const std::string& path) {
    if (fault_injected(fault_point::unlink)) return false;
    return recorded_unlink(path, ::unlink(path.c_str()) == 0);
}

bool read_state(os_file& file, file_state& state) {
    struct stat status;
    if (::fstat(descriptor(file), &status) != 0) return false;
    state = state_of(status);
    return true;
}

bool name_identity(const std::string& path, file_identity& identity) {
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) return false;
    identity = identity_of(status);
    return true;
}

bool sync_outputs(const std::vector<std::string>& paths) {
    bool omitted = false;
    if (!sync_goes_on(omitted)) return omitted;
    std::vector<dev_t> synced;
    for (const std::string& path : paths) {
        struct stat status;
        if (::stat(path.c_str(), &status) != 0) return false;
        if (std::find(synced.begin(), synced.end(), status.st_dev) != synced.end()) continue;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return false;
        // Since Linux 5.8 syncfs also reports write-back errors of the file
        // system's files, so a lost write shows here.
        const std::uint64_t begun = disk_recording() ? disk_record_mark() : 0;
        const bool done = ::syncfs(fd) == 0;
        const int error = errno;
        ::close(fd);
        errno = error;
        if (!done) return false;
        if (disk_recording()) {
            disk_record({.op = disk_op::volume_sync,
                         .path = path,
                         .volume = static_cast<std::uint64_t>(status.st_dev),
                         .begun = begun});
        }
        synced.push_back(status.st_dev);
    }
    return true;
}

bool sync_before_close(os_file& /*file*/) { return true; }

file_result remove_if_unchanged(const std::string& path, const file_identity& name, file_state& read) {
    if (fault_injected(fault_point::unlink)) return file_result::failed;
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) return errno == ENOENT ? file_result::gone : file_result::failed;
    if (!(identity_of(status) == name)) return file_result::changed;
    const bool link = S_ISLNK(status.st_mode);
    // Through a link, the file it leads to must be the one read, unchanged.
    if (link && ::stat(path.c_str(), &status) != 0) return file_result::changed;
    if (!same_version(state_of(status), read)) return file_result::changed;
    // A file with other names stays, changed by the removal: held open (by
    // an O_PATH descriptor, which needs no permission) to read its new state.
    const int held = !link && status.st_nlink > 1
                         ? ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)
                         : -1;
    const bool removed = recorded_unlink(path, ::unlink(path.c_str()) == 0);
    const int error = errno;
    if (held >= 0) {
        struct stat after;
        if (removed && ::fstat(held, &after) == 0 && identity_of(after) == name)
            read.changed = nanoseconds(after.st_ctim);
        ::close(held);
    }
    if (removed) return file_result::done;
    if (error == ENOENT) return file_result::gone;
    return error == EACCES || error == EPERM || error == EROFS ? file_result::denied : file_result::failed;
}

bool full_path(const std::string& path, std::string& result) {
    if (fault_injected(fault_point::open)) return false;
    if (path.empty()) return false;
    if (path.front() == '/') {
        result = path;
        return true;
    }
    std::string directory(256, '\0');
    while (::getcwd(directory.data(), directory.size()) == nullptr) {
        if (errno != ERANGE) return false;
        directory.resize(directory.size() * 2);
    }
    directory.resize(directory.find('\0'));
    result = directory;
    if (result.back() != '/') result += '/';
    result += path;
    return true;
}

std::size_t path_limit() { return PATH_MAX - 1; }

std::size_t name_length(std::string_view name) { return name.size(); }

std::size_t name_limit(const std::string& directory) {
    const long limit = ::pathconf(directory.empty() ? "." : directory.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
}

std::uint64_t path_hash(std::string_view path) { return std::hash<std::string_view>{}(path); }

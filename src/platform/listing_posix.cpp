// Directory enumeration on POSIX. The system matches no wildcards, so the
// program does (platform/wildcard.h), and file types are mapped onto the
// attribute word that collection judges:
//   regular file        archive, plus read-only without the owner's write bit
//   directory           directory
//   symbolic link       reparse point, plus directory when it leads to one:
//                       never entered, so no walk runs in a cycle
//   FIFO, socket, device  device + archive: collected, then bypassed at
//                       its turn without being opened
// A name starting with '.' adds hidden (a hidden directory is not entered),
// except "." and "..", which are plain directories: never entered, never
// collected.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include <memory>
#include <new>
#include <vector>

#include "platform/wildcard.h"
#include "platform/fault.h"
#include "platform/listing.h"

// The matching entries of one directory, read in one go when the listing
// starts: a walk then holds one directory open at a time, however deep it
// goes, and cannot run out of descriptors.
struct listing {
    std::vector<directory_entry> entries;
    std::size_t next = 0;
    bool complete = true;
};

namespace {

struct directory_closer {
    void operator()(DIR* dir) const { closedir(dir); }
};

std::uint32_t attributes_for(const std::string& name, mode_t mode, bool leads_to_directory) {
    if (name == "." || name == "..") return ATTRIBUTE_DIRECTORY;
    std::uint32_t word = ATTRIBUTE_DEVICE | ATTRIBUTE_ARCHIVE;
    if (S_ISREG(mode)) {
        word = ATTRIBUTE_ARCHIVE | ((mode & S_IWUSR) ? 0 : ATTRIBUTE_READONLY);
    } else if (S_ISDIR(mode)) {
        word = ATTRIBUTE_DIRECTORY;
    } else if (S_ISLNK(mode)) {
        word = ATTRIBUTE_REPARSE_POINT | (leads_to_directory ? ATTRIBUTE_DIRECTORY : 0);
    }
    if (name.starts_with('.')) word |= ATTRIBUTE_HIDDEN;
    return word;
}

// The word (and the size of a regular file, or of the one a link leads to)
// of the entry at (dir_fd, at).
// type comes from the directory itself when it knows it; only a regular file
// (for its write bit and size) or an unknown type needs lstat. False when the
// entry cannot be examined (it vanished meanwhile, or its directory cannot be
// searched).
bool examine(int dir_fd, const char* at, unsigned char type, directory_entry& entry) {
    mode_t mode = DTTOIF(type);
    if (type == DT_UNKNOWN || type == DT_REG) {
        struct stat status {};
        if (fstatat(dir_fd, at, &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
        mode = status.st_mode;
        if (S_ISREG(mode)) entry.size = static_cast<std::int64_t>(status.st_size);
    }
    bool leads_to_directory = false;
    if (S_ISLNK(mode)) {
        struct stat target {};
        const bool leads = fstatat(dir_fd, at, &target, 0) == 0;
        leads_to_directory = leads && S_ISDIR(target.st_mode);
        if (leads && S_ISREG(target.st_mode)) entry.size = static_cast<std::int64_t>(target.st_size);
    }
    entry.attributes = attributes_for(entry.name, mode, leads_to_directory);
    return true;
}

// Adds the entries of directory whose names match name_pattern, in the order
// the system gives them. An entry that vanished meanwhile is left out; one
// that cannot be examined too, and a failing read ends the directory early:
// the listing is then not complete.
void read_matching(const std::string& directory, const std::string& name_pattern,
                   listing& open) {
    std::unique_ptr<DIR, directory_closer> dir(opendir(directory.c_str()));
    // Out of memory is not a directory that cannot be read: it ends the
    // collection, as the entries' own allocations do.
    if (!dir && errno == ENOMEM) throw std::bad_alloc();
    if (!dir) return;
    for (;;) {
        errno = 0;
        const dirent* found = readdir(dir.get());
        if (found == nullptr) break;
        if (!wildcard_match(name_pattern, found->d_name)) continue;
        directory_entry entry{found->d_name};
        if (examine(dirfd(dir.get()), found->d_name, found->d_type, entry)) {
            open.entries.push_back(std::move(entry));
        } else if (errno != ENOENT) {
            open.complete = false;
        }
    }
    if (errno != 0) open.complete = false;  // the read failed before the end
}

}  // namespace

listing* listing_start(const std::string& pattern, directory_entry& first) {
    if (fault_injected(fault_point::list)) return nullptr;
    const std::string prefix = pattern_prefix(pattern);
    const std::string name = pattern.substr(prefix.size());
    if (name.empty()) return nullptr;
    auto open = std::make_unique<listing>();
    if (has_wildcard(name)) {
        read_matching(prefix.empty() ? "." : prefix, name, *open);
    } else {
        // One name: look it up directly. Faster than scanning, and it works in
        // a directory that may be searched but not read.
        directory_entry only{name};
        if (examine(AT_FDCWD, pattern.c_str(), DT_UNKNOWN, only)) {
            open->entries.push_back(std::move(only));
        }
    }
    if (open->entries.empty()) return nullptr;
    first = std::move(open->entries[0]);
    open->next = 1;
    return open.release();
}

bool listing_next(listing* open, directory_entry& entry) {
    if (open->next >= open->entries.size()) return false;
    entry = std::move(open->entries[open->next++]);
    return true;
}

bool listing_complete(const listing* open) { return open->complete; }

void listing_end(listing* open) {
    delete open;
}

std::string pattern_prefix(const std::string& pattern) {
    const std::size_t slash = pattern.rfind('/');
    return slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
}

std::string descent_pattern(const std::string& path) {
    return path + "/*";
}

std::string trim_trailing_separators(const std::string& pattern) {
    const std::size_t last = pattern.find_last_not_of('/');
    if (last == std::string::npos) return pattern;  // empty, or separators alone
    return pattern.substr(0, last + 1);
}

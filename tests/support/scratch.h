// Files for tests on every platform: a fresh directory per test, and whole
// files written, read and listed. The one place tests make and read files.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// A new directory under the system's temporary directory, removed with
// everything in it (unreadable and read-only entries included); the fault
// seam is cleared with it.
struct scratch_dir {
    std::string root;  // absolute, in the system's own separators
    scratch_dir();
    explicit scratch_dir(const std::string& base);  // a directory under base
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    std::string at(const std::string& relative) const { return root + "/" + relative; }
    // The names directly in root.
    std::set<std::string> names() const;
    // root is the current directory until the scratch directory goes.
    void enter();

private:
    std::string previous_;
};

// The names directly in directory, without "." and "..".
std::set<std::string> names_in(const std::string& directory);

std::string read_file(const std::string& path);
// Creates the directories on the way; false when the file cannot be written.
// mode: permission bits (on Windows only the owner's write bit counts).
bool write_file(const std::string& path, std::string_view bytes, unsigned mode = 0644);

// Every entry below root that is not a directory, by path relative to root
// (with '/'), with its bytes (NOT_REGULAR for FIFOs, links that lead nowhere
// and the like, never opened); temporaries included, so leftovers show.
inline const std::string NOT_REGULAR = "(not a regular file)";
std::map<std::string, std::string> snapshot(const std::string& root);
// Relative paths of the leftover temporaries below root, sorted.
std::vector<std::string> temporaries(const std::string& root);

#include "collect/targets.h"

#include <memory>
#include <set>
#include <utility>

#include "container/container.h"
#include "platform/files.h"
#include "platform/temp_name.h"
#include "platform/listing.h"

namespace {

using open_listing = std::unique_ptr<listing, decltype(&listing_end)>;

// Every file call on a target's output and its temporary must take the
// path: the target's own path and this much more (".tvk" and the mark of a
// temporary) must fit the platform's limit.
constexpr std::size_t OUTPUT_ROOM = CONTAINER_SUFFIX.size() + TEMP_NAME_ROOM;

bool too_long(const std::string& path, std::size_t more) {
    return path.size() + more + OUTPUT_ROOM > path_limit();
}

// A name that cannot take ".tvk" on its file system (a temporary's name falls
// back to the mark alone). A container, decrypted to a shorter name, can.
bool name_too_long(const std::string& path, const std::string& name, std::size_t limit) {
    return name_length(name) + name_length(CONTAINER_SUFFIX) > limit &&
           probe_container(path, CONTAINER_MAGIC) != 1;
}

void name_leftover(std::vector<std::string>& notes, const std::string& path) {
    notes.push_back(path + ": left by an interrupted run; delete it (its input is intact)\n");
}

enum class listed { whole, partly, not_at_all };

// What one walk keeps from level to level.
struct walk {
    target_list* list = nullptr;
    std::vector<std::string>* notes = nullptr;
    std::set<file_identity> directories;  // entered, by identity
    // Of the pattern's own level: whether it gave targets, and the
    // temporaries it named.
    bool targets_here = false;
    std::set<std::string> leftovers_named;
};

void enter_directory(walk& w, const std::string& path);

// One level of the walk. A plain directory is entered the moment its entry
// comes up, before the next entry of this level, so the walk is depth-first.
// Each level keeps only a few strings on the stack: deep trees are fine.
// What the walk cannot take is named where it is met.
listed collect_level(walk& w, const std::string& pattern, bool top) {
    directory_entry entry;
    open_listing open(listing_start(pattern, entry), listing_end);
    if (!open) return listed::not_at_all;
    const std::string prefix = pattern_prefix(pattern);
    const std::size_t longest_name = name_limit(prefix);
    do {
        std::string path = prefix + entry.name;
        // A partly written output: never a target, never deleted by tovik.
        // Its input is still there (an input goes only once its output is
        // in place), so the user may delete it.
        if (is_temporary_name(entry.name)) {
            name_leftover(*w.notes, path);
            if (top) w.leftovers_named.insert(entry.name);
            continue;
        }
        const bool descended = entry_descended(entry.name, entry.attributes);
        const bool collected = !attribute_excluded(entry.attributes);
        if ((descended || collected) && too_long(path, descended ? 2 : 0)) {
            w.notes->push_back(path + ": path too long\n");
            continue;
        }
        if (collected && name_too_long(path, entry.name, longest_name)) {
            w.notes->push_back(path + ": name too long to add .tvk\n");
            continue;
        }
        if (descended) enter_directory(w, path);
        if (collected) {
            // A FIFO or a device is bypassed at its turn, and never opened:
            // opening some has effects of its own (a tape rewinds on close).
            push_target(w.list, path, entry.size >= 0 ? entry.size : NOT_A_FILE);
            w.targets_here = w.targets_here || top;
        }
    } while (listing_next(open.get(), entry));
    return listing_complete(open.get()) ? listed::whole : listed::partly;
}

void enter_directory(walk& w, const std::string& path) {
    // One directory reached under a second path (a bind mount inside the
    // tree) is walked once, under the first.
    file_identity identity;
    if (name_identity(path, identity) && !w.directories.insert(identity).second) return;
    if (collect_level(w, descent_pattern(path), false) != listed::whole) {
        w.notes->push_back("cannot read the directory " + path + "\n");
    }
}

// The temporaries beside the targets that a named file or a wildcard gave:
// the walk met only the entries the pattern matched.
void name_leftovers(const walk& w, const std::string& pattern) {
    const std::string prefix = pattern_prefix(pattern);
    const std::string names = pattern.substr(prefix.size());
    if (!w.targets_here || names == "*" || names == "*.*") return;
    const std::string directory = prefix.empty() ? "." : trim_trailing_separators(prefix);
    directory_entry entry;
    open_listing open(listing_start(descent_pattern(directory), entry), listing_end);
    if (!open) return;
    do {
        if (is_temporary_name(entry.name) && !w.leftovers_named.contains(entry.name))
            name_leftover(*w.notes, prefix + entry.name);
    } while (listing_next(open.get(), entry));
}

}  // namespace

bool collect_targets(target_list* list, const std::string& pattern,
                     std::vector<std::string>& notes) {
    walk w;
    w.list = list;
    w.notes = &notes;
    const std::string trimmed = trim_trailing_separators(pattern);
    const std::string prefix = pattern_prefix(trimmed);
    // The pattern's own directory counts as walked when the pattern takes
    // every entry of it.
    const std::string names = trimmed.substr(prefix.size());
    file_identity here;
    if ((names == "*" || names == "*.*") && name_identity(prefix.empty() ? "." : prefix, here))
        w.directories.insert(here);
    const listed result = collect_level(w, trimmed, true);
    if (result == listed::not_at_all) return false;
    if (result == listed::partly) {
        notes.push_back("cannot read the directory " +
                        (prefix.empty() ? std::string(".") : trim_trailing_separators(prefix)) + "\n");
    }
    name_leftovers(w, trimmed);
    return true;
}

bool attribute_excluded(std::uint32_t attributes) {
    return attributes == ATTRIBUTE_READONLY || attributes == ATTRIBUTE_HIDDEN ||
           attributes == ATTRIBUTE_SYSTEM || attributes == ATTRIBUTE_DIRECTORY;
}

bool entry_descended(const std::string& name, std::uint32_t attributes) {
    return attributes == ATTRIBUTE_DIRECTORY && name != "." && name != "..";
}

void push_target(target_list* list, std::string_view path, std::int64_t listed_size) {
    list->found.push_back({list->text.size(), listed_size});
    list->text.append(path).push_back('\0');
}

void free_targets(target_list* list) {
    target_list emptied;
    std::swap(*list, emptied);  // the memory goes with emptied
}

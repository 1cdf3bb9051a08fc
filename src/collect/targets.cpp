#include "collect/targets.h"

#include <cstdio>
#include <memory>
#include <new>
#include <utility>

#include "container/container.h"
#include "platform/files.h"
#include "platform/temp_file.h"
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

// One level of the walk. A plain directory is entered the moment its entry
// comes up, before the next entry of this level, so the walk is depth-first.
// Each level keeps only a few strings on the stack: deep trees are fine.
// What the walk cannot take is named where it is met.
int collect_level(target_list* list, const std::string& pattern) {
    directory_entry entry;
    open_listing open(listing_start(pattern, entry), listing_end);
    if (!open) return -1;
    const std::string prefix = pattern_prefix(pattern);
    do {
        std::string path = prefix + entry.name;
        // Maybe the only copy of a partly written output: never a target,
        // never deleted.
        if (is_temporary_name(entry.name)) {
            std::printf("%s: left by an interrupted run\n", path.c_str());
            continue;
        }
        const bool descended = entry_descended(entry.name, entry.attributes);
        const bool collected = attribute_excluded(entry.attributes) == 0;
        if ((descended || collected) && too_long(path, descended ? 2 : 0)) {
            std::printf("%s: path too long\n", path.c_str());
            continue;
        }
        if (descended && collect_level(list, descent_pattern(path)) != 0) {
            // A readable directory lists at least "." and "..".
            std::printf("cannot read the directory %s\n", path.c_str());
        }
        if (collected) push_target(list, std::move(path), entry.size);
    } while (listing_next(open.get(), entry));
    return 0;
}

}  // namespace

int collect_targets(target_list* list, const std::string& pattern) {
    return collect_level(list, trim_trailing_separators(pattern));
}

int attribute_excluded(std::uint32_t attributes) {
    switch (attributes) {
        case ATTRIBUTE_READONLY:
        case ATTRIBUTE_HIDDEN:
        case ATTRIBUTE_SYSTEM:
        case ATTRIBUTE_DIRECTORY:
            return -1;
        default:
            return 0;
    }
}

bool entry_descended(const std::string& name, std::uint32_t attributes) {
    return attributes == ATTRIBUTE_DIRECTORY && name != "." && name != "..";
}

int push_target(target_list* list, std::string path, std::int64_t listed_size) {
    auto* node = new (std::nothrow) target_node{std::move(path), *list, listed_size};
    if (node == nullptr) return -1;
    *list = node;
    return 0;
}

void free_targets(target_list* list) {
    while (*list != nullptr) {
        target_node* next = (*list)->next;
        delete *list;
        *list = next;
    }
}

#include "collect/targets.h"

#include <memory>
#include <new>
#include <utility>

#include "platform/temp_file.h"
#include "platform/listing.h"

namespace {

using open_listing = std::unique_ptr<listing, decltype(&listing_end)>;

// One level of the walk. A plain directory is entered the moment its entry
// comes up, before the next entry of this level, so the walk is depth-first.
// Each level keeps only a few strings on the stack: deep trees are fine.
int collect_level(target_list* list, const std::string& pattern) {
    directory_entry entry;
    open_listing open(listing_start(pattern, entry), listing_end);
    if (!open) return -1;
    const std::string prefix = pattern_prefix(pattern);
    do {
        // A temporary left behind by an interrupted run is never a target.
        if (is_temporary_name(entry.name)) continue;
        std::string path = prefix + entry.name;
        if (entry_descended(entry.name, entry.attributes)) {
            collect_level(list, descent_pattern(path));  // a failing subdirectory adds nothing
        }
        if (attribute_excluded(entry.attributes) == 0) push_target(list, std::move(path));
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

int push_target(target_list* list, std::string path) {
    auto* node = new (std::nothrow) target_node{std::move(path), *list};
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

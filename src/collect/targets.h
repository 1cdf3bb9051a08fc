// The list of target paths collected from the input pattern.
#pragma once

#include <cstdint>
#include <string>

struct target_node {
    std::string path;  // may be rewritten in place by the file transform
    target_node* next;
    std::int64_t listed_size = -1;  // as the listing gave it; -1 when not known
};
// The head; a new list is nullptr. New targets go in front, so the list runs
// from the last target discovered to the first.
using target_list = target_node*;

// Adds to the front of *list every target that pattern yields, descending
// into the directories it matches. 0 when the enumeration of the pattern
// started (collected or not), -1 when it could not start.
int collect_targets(target_list* list, const std::string& pattern);
// -1 for the words that are never targets (exactly read-only, hidden, system
// or directory), 0 otherwise. Whole words are compared, not single bits.
int attribute_excluded(std::uint32_t attributes);
// An entry is descended into when its word is exactly the directory bit and
// its name is neither "." nor "..".
bool entry_descended(const std::string& name, std::uint32_t attributes);
// 0, or -1 when no node could be allocated (the list is then unchanged).
int push_target(target_list* list, std::string path, std::int64_t listed_size = -1);
void free_targets(target_list* list);

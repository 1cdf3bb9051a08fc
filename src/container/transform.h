// One target, encrypted into a container or decrypted back.
#pragma once

#include <cstddef>
#include <string>

// Returns an outcome code (front/outcome.h). path may be rewritten in place:
// afterwards it holds the name the driver reports.
int transform_file(std::string& path, const char* passphrase, int delete_input);

// Cuts one trailing ".tvk" (case matters); other paths stay as they are.
void strip_container_suffix(std::string& path);

// Under "-d", lets transform_file leave each input in place until its output
// is durable and then delete it with others: one sync serves up to
// DELETION_BATCH outputs instead of two per file. Nothing is deleted before
// that sync; the rest waits for finish_deletions, or for the normal end of
// the process. An interrupted run leaves the inputs still waiting in place.
inline constexpr std::size_t DELETION_BATCH = 1024;
void batch_deletions(bool enabled);
// Syncs the outputs still waiting and deletes their inputs; false when the
// sync failed (then no waiting input is deleted).
bool finish_deletions();

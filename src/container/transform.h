// One target, encrypted into a container or decrypted back.
#pragma once

#include <string>

// Returns an outcome code (front/outcome.h). path may be rewritten in place:
// afterwards it holds the name the driver reports.
int transform_file(std::string& path, const char* passphrase, int delete_input);

// Cuts one trailing ".tvk" (case matters); other paths stay as they are.
void strip_container_suffix(std::string& path);

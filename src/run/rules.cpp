#include "run/rules.h"

void run_rules::add_target(const std::string& path) { targets_.emplace(path_key(path), path); }

bool run_rules::allowed(const std::string& target_key, const std::string& output_key) const {
    return (output_key == target_key || !targets_.contains(output_key)) &&
           !outputs_.contains(output_key);
}

bool run_rules::would_write(const std::string& target, const std::string& output) const {
    return allowed(path_key(target), path_key(output));
}

bool run_rules::may_write(const std::string& target, const std::string& output) {
    std::string key = path_key(output);
    if (!allowed(path_key(target), key)) return false;
    outputs_.insert(std::move(key));
    return true;
}

bool run_rules::output_taken(const std::string& target, const std::string& output) {
    file_identity existing;
    if (path_key(output) == path_key(target) || !name_identity(output, existing)) return false;
    if (written_.contains(existing)) return true;
    if (!target_identities_known_) {
        for (const auto& [key, path] : targets_) {
            file_identity identity;
            if (name_identity(path, identity)) target_identities_.insert(identity);
        }
        target_identities_known_ = true;
    }
    return target_identities_.contains(existing);
}

void run_rules::output_written(const file_identity& written) { written_.insert(written); }

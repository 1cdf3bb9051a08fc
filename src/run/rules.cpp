#include "run/rules.h"

namespace {

// 0 marks a free slot: a hash of 0 is taken as 1.
std::uint64_t stored(std::uint64_t hash) { return hash == 0 ? 1 : hash; }

std::uint64_t identity_hash(const file_identity& id) {
    std::uint64_t h = id.volume * 0x9E3779B97F4A7C15ull ^ id.index;
    h ^= h >> 31;
    return h * 0xBF58476D1CE4E5B9ull;
}

}  // namespace

bool hash_set::contains(std::uint64_t hash) const {
    if (slots_.empty()) return false;
    hash = stored(hash);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        if (slots_[i] == hash) return true;
        if (slots_[i] == 0) return false;
    }
}

void hash_set::insert(std::uint64_t hash) {
    // At most two slots in three taken: probes stay short.
    if (3 * (count_ + 1) > 2 * slots_.size()) {
        std::vector<std::uint64_t> old(slots_.empty() ? 16 : 2 * slots_.size(), 0);
        old.swap(slots_);
        count_ = 0;
        for (std::uint64_t h : old) {
            if (h != 0) insert(h);
        }
    }
    hash = stored(hash);
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    for (; slots_[i] != 0; i = (i + 1) & mask) {
        if (slots_[i] == hash) return;
    }
    slots_[i] = hash;
    ++count_;
}

run_rules::run_rules(const target_list& targets) : list_(targets) {
    for (std::size_t i = 0; i < targets.size(); ++i) targets_.insert(path_hash(targets.path(i)));
}

bool run_rules::allowed(std::uint64_t target, std::uint64_t output) const {
    return (output == target || !targets_.contains(output)) && !outputs_.contains(output);
}

bool run_rules::would_write(const std::string& target, const std::string& output) const {
    return allowed(path_hash(target), path_hash(output));
}

bool run_rules::may_write(const std::string& target, const std::string& output) {
    const std::uint64_t out = path_hash(output);
    if (!allowed(path_hash(target), out)) return false;
    outputs_.insert(out);
    return true;
}

bool run_rules::output_taken(const std::string& target, const std::string& output) {
    file_identity existing;
    if (path_hash(output) == path_hash(target) || !name_identity(output, existing)) return false;
    if (written_.contains(identity_hash(existing))) return true;
    if (!target_identities_known_) {
        for (std::size_t i = 0; i < list_.size(); ++i) {
            file_identity identity;
            if (name_identity(std::string(list_.path(i)), identity))
                target_identities_.insert(identity_hash(identity));
        }
        target_identities_known_ = true;
    }
    return target_identities_.contains(identity_hash(existing));
}

void run_rules::output_written(const file_identity& written) {
    written_.insert(identity_hash(written));
}

bool run_rules::is_written(const file_identity& file) const {
    return written_.contains(identity_hash(file));
}

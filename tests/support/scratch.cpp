#include "support/scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "support/faults.h"
#include "platform/temp_name.h"

namespace fs = std::filesystem;

scratch_dir::scratch_dir() : scratch_dir(fs::temp_directory_path().string()) {}

scratch_dir::scratch_dir(const std::string& base) {
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && root.empty(); ++attempt) {
        const fs::path candidate = fs::path(base) / ("tovik-test-" + std::to_string(seed()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) root = fs::path(candidate).make_preferred().string();
    }
    if (root.empty()) ADD_FAILURE() << "cannot make a scratch directory";
    // Children that drop privileges work below it.
    std::error_code ignored;
    fs::permissions(root, fs::perms(0755), ignored);
}

scratch_dir::~scratch_dir() {
    fault_clear();
    std::error_code ignored;
    if (!previous_.empty()) fs::current_path(previous_, ignored);
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto it = fs::recursive_directory_iterator(root, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_symlink(ignored)) continue;
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(root, ignored);
}

void scratch_dir::enter() {
    if (previous_.empty()) previous_ = fs::current_path().string();
    fs::current_path(root);
}

std::set<std::string> scratch_dir::names() const { return names_in(root); }

std::set<std::string> names_in(const std::string& directory) {
    std::set<std::string> found;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(directory, ignored)) {
        found.insert(entry.path().filename().string());
    }
    return found;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);  // read at once: some are large
    std::string bytes(error ? 0 : size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) bytes.append(chunk, in.gcount());
    return bytes;
}

bool write_file(const std::string& path, std::string_view bytes, unsigned mode) {
    std::error_code error;
    fs::create_directories(fs::path(path).parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    fs::permissions(path, fs::perms(mode), error);
    return out.good() && !error;
}

std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> entries;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(root, ignored)) {
        if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) continue;
        entries[fs::relative(entry.path(), root).generic_string()] =
            entry.is_regular_file(ignored) ? read_file(entry.path().string()) : NOT_REGULAR;
    }
    return entries;
}

std::vector<std::string> temporaries(const std::string& root) {
    std::vector<std::string> found;
    std::error_code ignored;
    // Names only: a test may call this while a run is stopped mid-file.
    for (const auto& entry : fs::recursive_directory_iterator(root, ignored)) {
        if (is_temporary_name(entry.path().filename().string()))
            found.push_back(fs::relative(entry.path(), root).generic_string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

#include "support/vectors.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

std::vector<std::vector<std::string>> read_vector_file(const char* name) {
    std::vector<std::vector<std::string>> rows;
    const std::string path = std::string(TOVIK_VECTORS_DIR) + "/" + name;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        ADD_FAILURE() << "cannot open vector file " << path;
        return rows;
    }
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::vector<std::string> row;
        for (std::string field; fields >> field;)
            row.push_back(field == "-" ? std::string() : field);
        rows.push_back(std::move(row));
    }
    if (file.bad()) ADD_FAILURE() << "error reading vector file " << path;
    return rows;
}

namespace {

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string from_hex(std::string_view hex) {
    std::string bytes;
    if (hex.size() % 2 != 0) {
        ADD_FAILURE() << "odd number of hex digits: " << hex;
        return bytes;
    }
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = nibble(hex[i]), low = nibble(hex[i + 1]);
        if (high < 0 || low < 0) {
            ADD_FAILURE() << "not a hex digit pair at " << i << ": " << hex;
            return std::string();
        }
        bytes.push_back(static_cast<char>(high << 4 | low));
    }
    return bytes;
}

std::string hello_container() {
    for (const auto& row : read_vector_file("containers.txt")) {
        if (row.size() > 2 && row[0] == "736563726574" && from_hex(row[1]) == "hello\n") {
            return from_hex(row[2]);
        }
    }
    ADD_FAILURE() << "no container of \"hello\\n\" under \"secret\" in containers.txt";
    return {};
}

std::string to_hex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 15]);
    }
    return hex;
}

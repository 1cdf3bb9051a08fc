#include "container/container.h"

#include <algorithm>
#include <cstring>

bool read_header(os_file& file, header_bytes& header) {
    const std::ptrdiff_t got = fill_block(file, header.data, HEADER_LENGTH);
    header.length = got < 0 ? 0 : static_cast<std::size_t>(got);
    return got >= 0;
}

bool has_magic(const header_bytes& header, const char* magic) {
    return header.length >= MAGIC_LENGTH && std::memcmp(header.data, magic, MAGIC_LENGTH) == 0;
}

bool header_matches(const header_bytes& header, const char* header_text) {
    return header.length == HEADER_LENGTH &&
           std::memcmp(header.data, header_text, HEADER_LENGTH) == 0;
}

int probe_container(const std::string& path, const char* header) {
    os_file file;
    if (!open_for_update(path, file)) return -1;
    header_bytes head;
    // A file whose first bytes cannot be read is not known to be a container.
    if (!read_header(file, head)) return 0;
    return has_magic(head, header) ? 1 : 0;
}

static_assert(HEADER_ROOM == HEADER_LENGTH);

std::ptrdiff_t read_first(os_file& source, std::uint8_t* blocks) {
    return fill_block(source, blocks + HEADER_ROOM, FIRST_READ);
}

header_bytes head_of(const std::uint8_t* blocks, std::size_t read) {
    header_bytes head;
    head.length = std::min(read, HEADER_LENGTH);
    std::memcpy(head.data, blocks + HEADER_ROOM, head.length);
    return head;
}

copy_status start_with_header(body_copy& copy, std::size_t read, copy_kind kind,
                              const char* header_text, bool& more) {
    const std::string_view lead =
        kind == copy_kind::skip ? std::string_view() : std::string_view(header_text, HEADER_LENGTH);
    return start_body(copy, read, kind == copy_kind::prepend ? 0 : HEADER_LENGTH, lead, more);
}

void strip_container_suffix(std::string& path) {
    if (path.ends_with(CONTAINER_SUFFIX)) path.resize(path.size() - CONTAINER_SUFFIX.size());
}

std::string output_name(const std::string& path, bool decrypting) {
    std::string output = path;
    if (decrypting) {
        strip_container_suffix(output);
    } else {
        output += CONTAINER_SUFFIX;
    }
    return output;
}

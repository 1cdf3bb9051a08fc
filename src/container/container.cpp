#include "container/container.h"

#include <cstring>

bool read_header(os_file& file, header_bytes& header) {
    header.length = 0;
    while (header.length < HEADER_LENGTH) {
        const std::ptrdiff_t got =
            read_some(file, header.data + header.length, HEADER_LENGTH - header.length);
        if (got < 0) return false;
        if (got == 0) break;
        header.length += static_cast<std::size_t>(got);
    }
    return true;
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

bool under_another_key(const std::string& path, const char* header_text) {
    os_file file;
    header_bytes head;
    return open_for_update(path, file) && read_header(file, head) &&
           has_magic(head, CONTAINER_MAGIC) && !header_matches(head, header_text);
}

copy_status start_with_header(body_copy& copy, const header_bytes& head, copy_kind kind,
                              const char* header_text, bool& more) {
    // Skipping: the head was the header. Prepending: it is the start of the body.
    if (kind == copy_kind::skip) return start_body(copy, {}, {}, more);
    return start_body(copy, std::string_view(header_text, HEADER_LENGTH),
                      std::span(head.data, head.length), more);
}

copy_status copy_with_header(os_file& source, const header_bytes& head, os_file& destination,
                             copy_kind kind, const char* header_text, rc4_state& filter,
                             copy_watch* watch) {
    body_copy copy{source, destination, filter, watch, copy_blocks(0)};
    bool more = false;
    const copy_status started = start_with_header(copy, head, kind, header_text, more);
    return started == copy_status::ok && more ? stream_rest(copy) : started;
}

copy_status unwrap_container(os_file& container, const header_bytes& head, os_file& destination,
                             const char* header_text, rc4_state& filter,
                             copy_watch* watch) {
    if (!header_matches(head, header_text)) return copy_status::wrong_key;
    return copy_with_header(container, head, destination, copy_kind::skip, header_text, filter, watch);
}

copy_status wrap_container(os_file& source, const header_bytes& head, os_file& container,
                           const char* header_text, rc4_state& filter,
                           copy_watch* watch) {
    return copy_with_header(source, head, container, copy_kind::prepend, header_text, filter, watch);
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

#include "container/container.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/interrupt.h"

namespace {

// Writes lead, carried and the rest of source to a temporary beside
// destination and renames it into place: a failure at any step leaves no
// partial destination and any earlier one as it was.
int copy_to(os_file& source, const std::string& destination, std::string_view lead,
            std::span<const std::uint8_t> carried, rc4_state* filter) {
    pending_output output;
    if (!begin_output(destination, output)) return -1;
    if (stream_body(source, output.file, lead, carried, filter) != copy_status::ok) return -1;
    if (!close_file(output.file) || !close_file(source)) return -1;
    return finish_output(output, destination) ? 0 : -1;
}

}  // namespace

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

copy_status stream_body(os_file& from, os_file& to, std::string_view lead,
                        std::span<const std::uint8_t> carried, rc4_state* filter) {
    // One block, filled from the front and written only when full or at the
    // end: lead and carried bytes travel in the first write with the data.
    const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[COPY_BLOCK]);
    std::size_t used = lead.size();
    std::copy(lead.begin(), lead.end(), block.get());
    std::size_t fresh = carried.size();
    std::copy(carried.begin(), carried.end(), block.get() + used);
    bool any_body = !carried.empty();
    for (;;) {
        if (filter != nullptr) rc4_apply(block.get() + used, fresh, *filter);
        used += fresh;
        if (used == COPY_BLOCK) {
            if (!write_all(to, block.get(), used)) return copy_status::write_failed;
            used = 0;
        }
        const std::ptrdiff_t got = read_some(from, block.get() + used, COPY_BLOCK - used);
        if (got < 0) return copy_status::read_failed;
        if (got == 0) break;
        fresh = static_cast<std::size_t>(got);
        any_body = true;
    }
    // An empty body gives an empty file: the lead alone is never written.
    if (any_body && used > 0 && !write_all(to, block.get(), used)) return copy_status::write_failed;
    return copy_status::ok;
}

pending_output::~pending_output() {
    if (temp_path.empty()) return;
    { os_file closing(std::move(file)); }
    remove_file(temp_path);
    forget_partial_output();
}

bool begin_output(const std::string& final_path, pending_output& output) {
    if (!create_temp_beside(final_path, output.file, output.temp_path)) return false;
    track_partial_output(output.temp_path.c_str());
    return true;
}

bool finish_output(pending_output& output, const std::string& final_path) {
    if (!replace_file(output.temp_path, final_path)) return false;
    forget_partial_output();
    output.temp_path.clear();
    return true;
}

int probe_container(const std::string& path, const char* header) {
    os_file file;
    if (!open_for_update(path, file)) return -1;
    header_bytes head;
    // A file whose first bytes cannot be read is not known to be a container.
    if (!read_header(file, head)) return 0;
    return has_magic(head, header) ? 1 : 0;
}

int unwrap_container(const std::string& container, const std::string& destination,
                     const char* header_text, rc4_state* filter) {
    os_file source;
    if (!open_for_update(container, source)) return -1;
    header_bytes head;
    if (!read_header(source, head)) return -1;
    // No magic (the file changed since it was probed): wrap it instead.
    if (!has_magic(head, CONTAINER_MAGIC)) {
        return copy_to(source, destination, std::string_view(header_text),
                       std::span(head.data, head.length), filter);
    }
    if (!header_matches(head, header_text)) return -10;
    return copy_to(source, destination, {}, {}, filter);
}

int wrap_container(const std::string& source, const std::string& container, const char* header_text,
                   rc4_state* filter) {
    return copy_with_header(source, container, copy_kind::prepend, header_text, filter);
}

int copy_with_header(const std::string& source, const std::string& destination, copy_kind kind,
                     const char* header_text, rc4_state* filter) {
    os_file from;
    if (!open_for_update(source, from)) return -1;
    if (kind == copy_kind::prepend) {
        return copy_to(from, destination, std::string_view(header_text), {}, filter);
    }
    header_bytes dropped;
    if (!read_header(from, dropped)) return -1;
    return copy_to(from, destination, {}, {}, filter);
}

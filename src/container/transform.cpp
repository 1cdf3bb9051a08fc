#include "container/transform.h"

#include "cipher/key_schedule.h"
#include "cipher/rc4.h"
#include "cipher/wipe.h"
#include "container/container.h"
#include "front/outcome.h"

namespace {

constexpr std::string_view CONTAINER_SUFFIX = ".tvk";

struct wiped_rc4_state {
    rc4_state state;
    ~wiped_rc4_state() { wipe(&state, sizeof state); }
};

}  // namespace

void strip_container_suffix(std::string& path) {
    if (path.ends_with(CONTAINER_SUFFIX)) path.resize(path.size() - CONTAINER_SUFFIX.size());
}

int transform_file(std::string& path, const char* passphrase, int delete_input) {
    key_material keys;
    derive_key_material(passphrase, keys);

    // One open serves the probe, the header check and the copy. A file that
    // cannot be opened for update is taken as plain, as the probe decides,
    // and is then only read.
    os_file input;
    const bool updatable = open_for_update(path, input);
    if (!updatable && !open_for_reading(path, input)) return OUTCOME_INPUT_FAILED;
    advise_sequential(input);
    header_bytes head;
    if (!read_header(input, head)) return OUTCOME_INPUT_FAILED;
    const bool decrypting = updatable && has_magic(head, keys.header_text);
    if (decrypting && !header_matches(head, keys.header_text)) return OUTCOME_WRONG_KEY;

    std::string output_path = path;
    if (decrypting) {
        strip_container_suffix(output_path);
    } else {
        output_path += CONTAINER_SUFFIX;
    }
    const int read_failed = decrypting ? OUTCOME_NOT_FOUND : OUTCOME_INPUT_FAILED;
    // The -4 message appends ".tvk" to the path: when decrypting it is given
    // the shortened name, so that for "x.tvk" it names the container.
    const auto output_failed = [&] {
        if (decrypting) path = output_path;
        return OUTCOME_OUTPUT_FAILED;
    };

    pending_output output;
    if (!begin_output(output_path, output)) return output_failed();
    wiped_rc4_state cipher;
    rc4_setup(keys.cipher_key, sizeof keys.cipher_key, cipher.state);
    // Encrypting: the header goes first, and the bytes already read for the
    // probe are the start of the body. Decrypting: they were the header.
    const std::string_view lead =
        decrypting ? "" : std::string_view(keys.header_text, HEADER_LENGTH);
    const std::span<const std::uint8_t> carried(head.data, decrypting ? 0 : head.length);
    switch (stream_body(input, output.file, lead, carried, &cipher.state)) {
        case copy_status::ok:
            break;
        case copy_status::read_failed:
            return read_failed;
        case copy_status::write_failed:
            return OUTCOME_DISK_WRITE;
    }

    // Durability is paid for only where the output becomes the one copy of
    // the data: the input is to be deleted, or is replaced in place (a
    // container named without the suffix).
    const bool in_place = output_path == path;
    const bool durable = delete_input != 0 || in_place;
    if (!copy_permissions(input, output.file)) return OUTCOME_DISK_WRITE;
    if (durable && !sync_file(output.file)) return OUTCOME_DISK_WRITE;
    if (!close_file(output.file)) return OUTCOME_DISK_WRITE;
    if (!close_file(input)) return read_failed;
    if (!finish_output(output, output_path)) return output_failed();
    // The complete output stays; only the input's deletion depends on this.
    if (durable && !sync_directory_of(output_path)) return OUTCOME_DISK_WRITE;
    // A failed delete leaves the input in place and changes nothing else.
    if (delete_input != 0 && !in_place) remove_file(path);
    return decrypting ? OUTCOME_DECRYPTED : OUTCOME_ENCRYPTED;
}

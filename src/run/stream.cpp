#include "run/stream.h"

#include <atomic>

#include "cipher/wipe.h"
#include "run/outcome.h"

bool open_stream(data_stream& stream) {
    if (!open_standard_input(stream.in) || !open_standard_output(stream.out)) return false;
    const std::ptrdiff_t read = read_first(stream.in, copy_blocks(0));
    if (read < 0) return false;
    stream.read = static_cast<std::size_t>(read);
    stream.head = head_of(copy_blocks(0), stream.read);
    return true;
}

int filter_stream(data_stream& stream, const key_material& keys, bool decrypting) {
    if (decrypting && !header_matches(stream.head, keys.header_text)) return OUTCOME_WRONG_KEY;
    rc4_choose_shapes();  // a stream's length is not known ahead
    wiped<rc4_state> cipher;
    rc4_setup(keys.cipher_key, sizeof keys.cipher_key, cipher.value);
    std::atomic<std::uint64_t> done{0};
    body_copy copy{stream.in, stream.out, cipher.value, done, nullptr, copy_blocks(0)};
    bool more = false;
    copy_status copied = start_with_header(copy, stream.read, decrypting ? copy_kind::skip : copy_kind::prepend,
                                           keys.header_text, more);
    if (copied == copy_status::ok && more) copied = stream_rest(copy);
    if (copied == copy_status::read_failed) return OUTCOME_INPUT_FAILED;
    if (copied != copy_status::ok) return OUTCOME_OUTPUT_LOST;
    return decrypting ? OUTCOME_DECRYPTED : OUTCOME_ENCRYPTED;
}

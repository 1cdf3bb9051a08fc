#include "run/stream.h"

#include <atomic>

#include "cipher/wipe.h"
#include "run/outcome.h"

bool open_stream(data_stream& stream) {
    return open_standard_input(stream.in) && open_standard_output(stream.out) &&
           read_header(stream.in, stream.head);
}

int filter_stream(data_stream& stream, const key_material& keys, bool decrypting) {
    if (decrypting && !header_matches(stream.head, keys.header_text)) return OUTCOME_WRONG_KEY;
    rc4_choose_shapes();  // a stream's length is not known ahead
    wiped<rc4_state> cipher;
    rc4_setup(keys.cipher_key, sizeof keys.cipher_key, cipher.value);
    std::atomic<std::uint64_t> done{0};
    body_copy copy{stream.in, stream.out, cipher.value, done, nullptr, copy_blocks(0)};
    bool more = false;
    copy_status copied = start_with_header(copy, stream.head, decrypting ? copy_kind::skip : copy_kind::prepend,
                                           keys.header_text, more);
    if (copied == copy_status::ok && more) copied = stream_rest(copy);
    if (copied == copy_status::read_failed) return OUTCOME_INPUT_FAILED;
    if (copied != copy_status::ok) return OUTCOME_OUTPUT_LOST;
    return decrypting ? OUTCOME_DECRYPTED : OUTCOME_ENCRYPTED;
}

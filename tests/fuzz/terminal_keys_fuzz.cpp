// The terminal key decoder on arbitrary bytes, as the terminal reader drives
// it: over a queue that fills as bytes arrive, taking keys until it needs
// more, and with complete set once no more bytes are coming.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/terminal_keys.h"

namespace {

// No key sequence is longer than this: a reader's queue of this size or more
// (the terminal's is 1024 bytes) always holds a whole key.
constexpr std::size_t LONGEST_SEQUENCE = 64;

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "terminal_keys_fuzz: violated: %s\n", what);
    __builtin_trap();
}

struct key_out {
    int length;
    unsigned char bytes[2];
    bool operator==(const key_out& other) const {
        return length == other.length && std::memcmp(bytes, other.bytes, length) == 0;
    }
};

decoded_key checked_decode(const unsigned char* input, std::size_t size, bool complete) {
    const decoded_key key = decode_terminal_key(input, size, complete);
    require(key.consumed <= size, "never consumes more than it was given");
    require(key.length >= 0 && key.length <= 2, "produces 0, 1 or 2 bytes");
    if (key.consumed == 0) require(key.length == 0, "a key is produced only with the bytes it took");
    if (size > 0 && (complete || size >= LONGEST_SEQUENCE)) {
        require(key.consumed > 0, "progress when no more bytes are coming or the queue is full");
    }
    if (size == 0) require(key.consumed == 0, "nothing in, nothing out");
    if (key.length == 2) {
        require(key.bytes[0] == 0x00 || key.bytes[0] == 0xE0, "a key pair leads with 0 or 0xE0");
    }
    if (size > 0 && input[0] != 0x1B) {
        // Bytes that start no sequence stand for themselves, one at a time.
        require(key.consumed == 1, "a byte other than Esc is one key");
        if (input[0] == 0x7F) {
            require(key.length == 1 && key.bytes[0] == 8, "DEL is Backspace");
        } else if (input[0] == 0x00) {
            require(key.length == 2 && key.bytes[0] == 0 && key.bytes[1] == 3, "NUL is Ctrl+2");
        } else {
            require(key.length == 1 && key.bytes[0] == input[0], "an ordinary byte is itself");
        }
    }
    if (size >= 2 && input[0] == 0x1B && input[1] < 0x80 && input[1] != 0x1B && input[1] != '[' &&
        input[1] != 'O') {
        require(key.consumed == 2, "Esc before an ASCII byte is one key, Alt with it");
        require(key.length == 0 || (key.length == 2 && key.bytes[0] == 0),
                "Alt with a key gives a pair led by 0, or nothing");
    }
    return key;
}

// Takes every key the queue holds, as the terminal reader does; with
// complete, the queue is used up.
void take_keys(std::vector<unsigned char>& queue, bool complete, std::vector<key_out>& keys) {
    std::size_t taken = 0;
    std::size_t rounds = 0;
    while (taken < queue.size()) {
        require(++rounds <= queue.size(), "the loop over a buffer terminates: a key per byte at most");
        const decoded_key key = checked_decode(queue.data() + taken, queue.size() - taken, complete);
        if (key.consumed == 0) break;
        if (key.length > 0) keys.push_back({key.length, {key.bytes[0], key.bytes[1]}});
        taken += key.consumed;
    }
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(taken));
    if (complete) require(queue.empty(), "with no more bytes coming, the whole queue is used");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Everything there at once.
    std::vector<unsigned char> whole(data, data + size);
    std::vector<key_out> keys_whole;
    take_keys(whole, false, keys_whole);
    take_keys(whole, true, keys_whole);

    // The same bytes arriving one at a time: a decision once made is not
    // changed by bytes that come later, so the keys are the same.
    std::vector<unsigned char> trickle;
    std::vector<key_out> keys_trickle;
    for (std::size_t i = 0; i < size; ++i) {
        trickle.push_back(data[i]);
        take_keys(trickle, false, keys_trickle);
    }
    take_keys(trickle, true, keys_trickle);
    require(keys_whole == keys_trickle, "keys do not depend on how the bytes were split into reads");

    // complete=true on the whole input alone, key by key.
    std::size_t pos = 0;
    std::size_t rounds = 0;
    while (pos < size) {
        const decoded_key key = checked_decode(data + pos, size - pos, true);
        require(key.consumed > 0, "with complete, every call makes progress");
        pos += key.consumed;
        require(++rounds <= size, "at most one key per byte");
    }
    return 0;
}

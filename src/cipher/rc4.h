// RC4 keystream, applied in place: the same call enciphers and deciphers.
#pragma once

#include <cstddef>
#include <cstdint>

struct rc4_state {
    std::uint8_t perm[256];
    std::uint8_t x;
    std::uint8_t y;
};

// Key scheduling (only the first 256 bytes of the key count); an empty key
// leaves the identity permutation.
void rc4_setup(const std::uint8_t* key, std::size_t key_length, rc4_state& state);
// XORs length bytes with the keystream, continuing where the last call stopped.
void rc4_apply(std::uint8_t* data, std::size_t length, rc4_state& state);
// Two streams at once: length bytes of a with a_state's keystream and of b
// with b_state's, their steps interleaved in one loop. One stream is a chain
// of dependent loads that leaves a core waiting; two chains side by side keep
// it busier. The same bytes and states as two rc4_apply calls.
void rc4_apply_pair(std::uint8_t* a, rc4_state& a_state, std::uint8_t* b, rc4_state& b_state,
                    std::size_t length);
// Times the loop shapes once (about 2 ms) and runs the fastest from then on;
// until then a shape that does well on every CPU measured runs. Worth calling
// once a body long enough to repay the timing comes up; later calls return
// at once.
void rc4_choose_shapes();

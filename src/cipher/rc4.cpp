#include "cipher/rc4.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <type_traits>

#include "cipher/rc4_shapes.h"
#include "cipher/wipe.h"

void rc4_setup(const std::uint8_t* key, std::size_t key_length, rc4_state& state) {
    for (int v = 0; v < 256; ++v) state.perm[v] = static_cast<std::uint8_t>(v);
    state.x = 0;
    state.y = 0;
    // An empty key has nothing to mix in (and would make the key position
    // divide by zero): the state stays the identity, and the key is not read.
    if (key_length == 0) return;

    unsigned j = 0;
    std::size_t k = 0;
    for (unsigned i = 0; i < 256; ++i) {
        const std::uint8_t held = state.perm[i];
        j = (j + held + key[k]) & 255;
        state.perm[i] = state.perm[j];
        state.perm[j] = held;
        if (++k == key_length) k = 0;
    }
}

namespace {

// RC4 is one long dependency chain through perm and y, so the speed comes
// from keeping that chain short and free of everything else: x, y and the
// perm pointer live in locals (registers) rather than the state record, which
// the compiler would otherwise have to reload after every store through a
// byte pointer; y is a running sum whose low byte is the index, so each step
// waits for one add rather than an add and a mask. What is left (the width of
// the entries, how many steps an iteration takes, how wide the XOR with the
// data is) has no best setting across CPUs: those are the shapes below.

// One generator step: advances x and y, swaps, returns the keystream byte.
template <typename Entry>
inline std::uint64_t next_byte(Entry* perm, unsigned& x, std::size_t& y_sum) {
    x = (x + 1) & 255;
    const unsigned px = perm[x];
    y_sum += px;
    const unsigned y = y_sum & 255;
    const unsigned py = perm[y];
    perm[x] = static_cast<Entry>(py);
    perm[y] = static_cast<Entry>(px);
    return perm[(px + py) & 255];
}

// Shift that puts keystream byte k over data byte k of a word loaded natively.
template <typename Word>
constexpr int lane(std::size_t k) {
    const int bit = static_cast<int>(8 * k);
    return std::endian::native == std::endian::little ? bit : 8 * (sizeof(Word) - 1) - bit;
}

struct indices {
    unsigned x;
    std::size_t y;
};

// Group steps per iteration; the data is then touched once per group, with
// unaligned word loads, XORs and stores (memcpy compiles to plain moves).
// x and y come in and go out by value: a byte store through perm or data
// could alias them, were they behind a reference, and each step would then
// reload them from memory.
template <typename Entry, std::size_t Group>
indices run_loop(Entry* perm, indices at, std::uint8_t* data, std::size_t length) {
    unsigned x = at.x;
    std::size_t y = at.y;
    if constexpr (Group > 1) {
        using word = std::conditional_t<Group == 2, std::uint16_t, std::uint64_t>;
        constexpr std::size_t WORD = sizeof(word);
        constexpr std::size_t WORDS = Group / WORD;
        for (; length >= Group; length -= Group, data += Group) {
            word stream[WORDS] = {};
#pragma GCC unroll 16
            for (std::size_t k = 0; k < Group; ++k) {
                stream[k / WORD] |= static_cast<word>(next_byte(perm, x, y) << lane<word>(k % WORD));
            }
            word text[WORDS];
            std::memcpy(text, data, Group);
            for (std::size_t w = 0; w < WORDS; ++w) text[w] ^= stream[w];
            std::memcpy(data, text, Group);
        }
    }
    for (; length > 0; --length, ++data) {
        *data = static_cast<std::uint8_t>(*data ^ next_byte(perm, x, y));
    }
    return {x, y};
}

// A u8 shape runs on the state in place; a wider one on a widened copy, which
// holds key material and is wiped when the call ends.
template <typename Entry, std::size_t Group>
void apply_shape(std::uint8_t* data, std::size_t length, rc4_state& state) {
    indices at{state.x, state.y};
    if constexpr (sizeof(Entry) == 1) {
        at = run_loop<Entry, Group>(state.perm, at, data, length);
    } else {
        alignas(64) Entry wide[256];
        std::copy(state.perm, state.perm + 256, wide);
        at = run_loop<Entry, Group>(wide, at, data, length);
        std::transform(wide, wide + 256, state.perm,
                       [](Entry v) { return static_cast<std::uint8_t>(v); });
        wipe(wide, sizeof wide);
    }
    state.x = static_cast<std::uint8_t>(at.x);
    state.y = static_cast<std::uint8_t>(at.y);
}

using clock_type = std::chrono::steady_clock;

// The loop alone over sample, its state already in its own layout: the
// conversion is left out as the long calls that use it repay it. The state
// is a fixed one, not key material.
template <typename Entry, std::size_t Group>
clock_type::duration time_loop(const rc4_state& from, std::uint8_t* sample, std::size_t length) {
    alignas(64) Entry perm[256];
    std::copy(from.perm, from.perm + 256, perm);
    const clock_type::time_point start = clock_type::now();
    run_loop<Entry, Group>(perm, {from.x, from.y}, sample, length);
    return clock_type::now() - start;
}

struct shape_entry {
    const char* name;
    bool widened;
    void (*apply)(std::uint8_t*, std::size_t, rc4_state&);
    clock_type::duration (*time)(const rc4_state&, std::uint8_t*, std::size_t);
};

template <typename Entry, std::size_t Group>
constexpr shape_entry entry(const char* name) {
    return {name, sizeof(Entry) > 1, apply_shape<Entry, Group>, time_loop<Entry, Group>};
}

// In the order of enum rc4_shape.
constexpr shape_entry SHAPES[] = {
    entry<std::uint8_t, 1>("u8_x1"),   entry<std::uint8_t, 8>("u8_x8"),
    entry<std::uint8_t, 16>("u8_x16"), entry<std::uint32_t, 1>("u32_x1"),
    entry<std::uint32_t, 2>("u32_x2"), entry<std::uint32_t, 8>("u32_x8"),
};
constexpr std::size_t SHAPE_COUNT = std::size(SHAPES);
static_assert(SHAPE_COUNT == std::size(RC4_SHAPES));

// Calls shorter than this keep to the state as it is: making, narrowing and
// wiping a widened copy takes about 0.3 us, a few hundred bytes of keystream,
// which a long call repays and a short one may not.
constexpr std::size_t LONG_CALL = 4096;

struct choice {
    std::size_t long_calls;   // fastest of all
    std::size_t short_calls;  // fastest that needs no widened copy
};

// Each shape over the same 2 KiB five times, in turn, keeping its best time:
// a pause of the thread only ever makes a pass slower. 60 KiB of keystream in
// all: 80 us at 1 GB/s, and under 0.25 ms on the slowest host measured.
choice time_shapes() {
    constexpr std::size_t SAMPLE = 2048;
    constexpr int ROUNDS = 5;
    static constexpr std::uint8_t KEY[] = {'s', 'h', 'a', 'p', 'e', 's'};
    rc4_state start;
    rc4_setup(KEY, sizeof KEY, start);
    alignas(64) std::uint8_t sample[SAMPLE] = {};
    clock_type::duration best[SHAPE_COUNT];
    std::fill(best, best + SHAPE_COUNT, clock_type::duration::max());
    for (int round = 0; round < ROUNDS; ++round) {
        for (std::size_t s = 0; s < SHAPE_COUNT; ++s) {
            best[s] = std::min(best[s], SHAPES[s].time(start, sample, SAMPLE));
        }
    }
    choice chosen{0, 0};
    for (std::size_t s = 1; s < SHAPE_COUNT; ++s) {
        if (best[s] < best[chosen.long_calls]) chosen.long_calls = s;
        if (!SHAPES[s].widened && best[s] < best[chosen.short_calls]) chosen.short_calls = s;
    }
    return chosen;
}

// Timed on first use; the initialisation of a local static is thread-safe.
const choice& chosen() {
    static const choice once = time_shapes();
    return once;
}

}  // namespace

void rc4_apply(std::uint8_t* data, std::size_t length, rc4_state& state) {
    const choice& use = chosen();
    SHAPES[length >= LONG_CALL ? use.long_calls : use.short_calls].apply(data, length, state);
}

const char* rc4_shape_name(rc4_shape shape) {
    return SHAPES[static_cast<std::size_t>(shape)].name;
}

void rc4_apply_shape(rc4_shape shape, std::uint8_t* data, std::size_t length, rc4_state& state) {
    SHAPES[static_cast<std::size_t>(shape)].apply(data, length, state);
}

rc4_shape rc4_chosen_shape() {
    return static_cast<rc4_shape>(chosen().long_calls);
}

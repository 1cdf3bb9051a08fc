#include "cipher/rc4.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstring>
#include <iterator>
#include <mutex>
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

// Two streams, each with its own permutation and indices; within a group the
// steps of the two alternate, so that each chain's loads wait while the
// other's run. The permutations never overlap (restrict).
template <typename Entry, std::size_t Group>
void run_pair_loop(Entry* __restrict pa, indices& a, std::uint8_t* da, Entry* __restrict pb,
                   indices& b, std::uint8_t* db, std::size_t length) {
    using word = std::uint64_t;
    constexpr std::size_t WORDS = Group / sizeof(word);
    unsigned xa = a.x, xb = b.x;
    std::size_t ya = a.y, yb = b.y;
    for (; length >= Group; length -= Group, da += Group, db += Group) {
        word sa[WORDS] = {}, sb[WORDS] = {};
#pragma GCC unroll 16
        for (std::size_t k = 0; k < Group; ++k) {
            sa[k / 8] |= static_cast<word>(next_byte(pa, xa, ya) << lane<word>(k % 8));
            sb[k / 8] |= static_cast<word>(next_byte(pb, xb, yb) << lane<word>(k % 8));
        }
        word text[WORDS];
        std::memcpy(text, da, Group);
        for (std::size_t w = 0; w < WORDS; ++w) text[w] ^= sa[w];
        std::memcpy(da, text, Group);
        std::memcpy(text, db, Group);
        for (std::size_t w = 0; w < WORDS; ++w) text[w] ^= sb[w];
        std::memcpy(db, text, Group);
    }
    a = run_loop<Entry, 1>(pa, {xa, ya}, da, length);
    b = run_loop<Entry, 1>(pb, {xb, yb}, db, length);
}

// The state's permutation in the layout of Entry: in place for bytes; for a
// wider entry a copy, which holds key material and is wiped when it goes.
template <typename Entry>
struct entries {
    alignas(64) Entry wide[sizeof(Entry) > 1 ? 256 : 1];
    rc4_state& state;
    explicit entries(rc4_state& s) : state(s) {
        if constexpr (sizeof(Entry) > 1) std::copy(s.perm, s.perm + 256, wide);
    }
    ~entries() {
        if constexpr (sizeof(Entry) > 1) {
            std::transform(wide, wide + 256, state.perm,
                           [](Entry v) { return static_cast<std::uint8_t>(v); });
            wipe(wide, sizeof wide);
        }
    }
    entries(const entries&) = delete;
    entries& operator=(const entries&) = delete;
    Entry* perm() {
        if constexpr (sizeof(Entry) > 1) return wide;
        else return state.perm;
    }
};

void store(const indices& at, rc4_state& state) {
    state.x = static_cast<std::uint8_t>(at.x);
    state.y = static_cast<std::uint8_t>(at.y);
}

template <typename Entry, std::size_t Group>
void apply_shape(std::uint8_t* data, std::size_t length, rc4_state& state) {
    indices at{state.x, state.y};
    {
        entries<Entry> perm(state);
        at = run_loop<Entry, Group>(perm.perm(), at, data, length);
    }
    store(at, state);
}

template <typename Entry, std::size_t Group>
void apply_pair_shape(std::uint8_t* a, rc4_state& a_state, std::uint8_t* b, rc4_state& b_state,
                      std::size_t length) {
    indices at_a{a_state.x, a_state.y}, at_b{b_state.x, b_state.y};
    {
        entries<Entry> perm_a(a_state), perm_b(b_state);
        run_pair_loop<Entry, Group>(perm_a.perm(), at_a, a, perm_b.perm(), at_b, b, length);
    }
    store(at_a, a_state);
    store(at_b, b_state);
}

using clock_type = std::chrono::steady_clock;

constexpr rc4_loop_shape SHAPES[] = {
    {"u8_x1", apply_shape<std::uint8_t, 1>, nullptr, false, false},
    {"u8_x8", apply_shape<std::uint8_t, 8>, apply_pair_shape<std::uint8_t, 8>, false, false},
    {"u8_x16", apply_shape<std::uint8_t, 16>, apply_pair_shape<std::uint8_t, 16>, false, false},
    {"u32_x1", apply_shape<std::uint32_t, 1>, nullptr, false, false},
    {"u32_x2", apply_shape<std::uint32_t, 2>, nullptr, false, false},
    {"u32_x8", apply_shape<std::uint32_t, 8>, apply_pair_shape<std::uint32_t, 8>, false, false},
};
static_assert(std::size(SHAPES) == RC4_LOOP_SHAPES);

// Until the shapes are timed, and on short calls: a byte-wide shape, which
// needs no widened copy and was never far from the best on any CPU measured.
constexpr std::size_t SHORT_SHAPE = 1;  // u8_x8, for one stream and for two

// Calls shorter than this keep to the byte-wide shape: making, narrowing and
// wiping a widened copy takes about 0.3 us, a few hundred bytes of keystream,
// which a long call repays and a short one may not.
constexpr std::size_t LONG_CALL = 4096;

std::atomic<std::size_t> long_shape{SHORT_SHAPE};
std::atomic<std::size_t> long_pair_shape{SHORT_SHAPE};
std::once_flag shapes_timed;

template <typename Pass>
clock_type::duration timed(Pass pass) {
    const clock_type::time_point start = clock_type::now();
    pass();
    return clock_type::now() - start;
}

// Each shape over the same 64 KiB, three rounds with the shapes in turn, each
// keeping its best time: long enough that a pause of the clock or a cold
// cache weighs little, and a pause only ever makes a pass slower. Shapes that
// differ by a tenth are told apart. About 2 MiB of keystream in all. The
// state is a fixed one, not key material.
void time_shapes() {
    constexpr std::size_t SAMPLE = 64 * 1024;
    constexpr int ROUNDS = 3;
    static constexpr std::uint8_t KEY[] = {'s', 'h', 'a', 'p', 'e', 's'};
    rc4_state start;
    rc4_setup(KEY, sizeof KEY, start);
    alignas(64) static std::uint8_t sample[SAMPLE];  // once per process
    clock_type::duration best[RC4_LOOP_SHAPES], best_pair[RC4_LOOP_SHAPES];
    std::fill(std::begin(best), std::end(best), clock_type::duration::max());
    std::fill(std::begin(best_pair), std::end(best_pair), clock_type::duration::max());
    for (int round = 0; round < ROUNDS; ++round) {
        for (std::size_t s = 0; s < RC4_LOOP_SHAPES; ++s) {
            rc4_state state = start;
            best[s] = std::min(best[s], timed([&] { SHAPES[s].apply(sample, SAMPLE, state); }));
            // Two streams of half the sample each: the same bytes of keystream.
            if (SHAPES[s].apply_pair == nullptr) continue;
            rc4_state a = start, b = start;
            best_pair[s] = std::min(best_pair[s], timed([&] {
                SHAPES[s].apply_pair(sample, a, sample + SAMPLE / 2, b, SAMPLE / 2);
            }));
        }
    }
    long_shape = static_cast<std::size_t>(std::min_element(std::begin(best), std::end(best)) - best);
    long_pair_shape = static_cast<std::size_t>(
        std::min_element(std::begin(best_pair), std::end(best_pair)) - best_pair);
}

}  // namespace

void rc4_apply(std::uint8_t* data, std::size_t length, rc4_state& state) {
    SHAPES[length >= LONG_CALL ? long_shape.load(std::memory_order_relaxed) : SHORT_SHAPE].apply(
        data, length, state);
}

void rc4_apply_pair(std::uint8_t* a, rc4_state& a_state, std::uint8_t* b, rc4_state& b_state,
                    std::size_t length) {
    const std::size_t shape =
        length >= LONG_CALL ? long_pair_shape.load(std::memory_order_relaxed) : SHORT_SHAPE;
    SHAPES[shape].apply_pair(a, a_state, b, b_state, length);
}

void rc4_choose_shapes() { std::call_once(shapes_timed, time_shapes); }

rc4_loop_shape rc4_loop_shape_at(std::size_t i) {
    rc4_choose_shapes();
    rc4_loop_shape shape = SHAPES[i];
    shape.chosen = i == long_shape.load();
    shape.chosen_pair = i == long_pair_shape.load();
    return shape;
}

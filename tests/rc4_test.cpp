#include "cipher/rc4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cipher/rc4_shapes.h"
#include "support/oracles.h"
#include "support/vectors.h"

namespace {

using bytes = std::vector<std::uint8_t>;

bytes random_bytes(std::mt19937& random, std::size_t length) {
    bytes out(length);
    for (auto& b : out) b = static_cast<std::uint8_t>(random());
    return out;
}

bytes keystream(const bytes& key, std::size_t length) {
    rc4_state state;
    rc4_setup(key.data(), key.size(), state);
    bytes out(length, 0);
    rc4_apply(out.data(), out.size(), state);
    return out;
}

}  // namespace

TEST(Rc4, Rfc6229Keystreams) {
    const auto rows = read_vector_file("rc4-rfc6229.txt");
    ASSERT_EQ(rows.size(), 24u);
    std::map<std::string, std::vector<std::pair<std::size_t, std::string>>> by_key;
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 3u);
        by_key[row[0]].emplace_back(std::stoul(row[1]), row[2]);
    }
    for (const auto& [key_hex, expected] : by_key) {
        const std::string key_text = from_hex(key_hex);
        const bytes key(key_text.begin(), key_text.end());

        // One call over everything, and the 1024-byte blocks of a file pass.
        const bytes whole = keystream(key, 4112);
        rc4_state state;
        rc4_setup(key.data(), key.size(), state);
        bytes blocks(4112, 0);
        for (std::size_t at = 0; at < blocks.size(); at += 1024) {
            rc4_apply(blocks.data() + at, std::min<std::size_t>(1024, blocks.size() - at), state);
        }

        for (const auto& [offset, stream_hex] : expected) {
            const auto at = static_cast<std::ptrdiff_t>(offset);
            const std::string from_whole(whole.begin() + at, whole.begin() + at + 16);
            const std::string from_blocks(blocks.begin() + at, blocks.begin() + at + 16);
            EXPECT_EQ(to_hex(from_whole), stream_hex) << "key " << key_hex << " offset " << offset;
            EXPECT_EQ(to_hex(from_blocks), stream_hex) << "key " << key_hex << " offset " << offset;
        }
    }
}

TEST(Rc4, MatchesTextbookForRandomKeysLengthsAndSplits) {
    std::mt19937 random(6229);
    for (int trial = 0; trial < 60; ++trial) {
        const bytes key = random_bytes(random, 1 + random() % 300);  // past 256 too
        const bytes plain = random_bytes(random, random() % 5001);

        textbook_rc4 oracle(key.data(), key.size());
        bytes expected = plain;
        for (auto& b : expected) b ^= oracle.next();

        rc4_state state;
        rc4_setup(key.data(), key.size(), state);
        bytes data = plain;
        std::size_t at = 0;
        while (at < data.size()) {
            std::size_t piece = random() % 40 == 0 ? 0 : random() % 700;
            piece = std::min(piece, data.size() - at);
            rc4_apply(data.data() + at, piece, state);
            at += piece;
        }
        ASSERT_EQ(data, expected) << "trial " << trial << ", length " << plain.size();
        EXPECT_EQ(state.x, oracle.i);
        EXPECT_EQ(state.y, oracle.j);
        EXPECT_EQ(std::memcmp(state.perm, oracle.s, 256), 0);
    }
}

// Short lengths exercise the bytewise tail and the first 8-byte group; the
// data sits at every alignment, between guard bytes that must stay untouched.
// Every loop shape against the oracle, at each length 0..300 in one call and
// in three calls cut at points that vary with the length (so groups of 8 and
// 16 start part-way), the data at every alignment; a further call must then
// go on with the oracle's keystream, and the state must be the oracle's.
TEST(Rc4, EveryShapeMatchesTextbookAtEveryLengthAndSplit) {
    std::mt19937 random(14);
    const bytes key = random_bytes(random, 16);
    constexpr std::size_t LONGEST = 300, AFTER = 40;
    const bytes plain = random_bytes(random, 8 + LONGEST + AFTER);
    for (std::size_t shape_index = 0; shape_index < RC4_LOOP_SHAPES; ++shape_index) {
        const rc4_loop_shape shape = rc4_loop_shape_at(shape_index);
        for (std::size_t length = 0; length <= LONGEST; ++length) {
            const std::size_t align = length % 8;
            const std::size_t first = length * 3 / 7;
            const std::size_t second = first + (length - first) * (length % 5) / 5;
            textbook_rc4 oracle(key.data(), key.size());
            bytes expected(plain.begin(), plain.begin() + align + length + AFTER);
            for (std::size_t k = align; k < expected.size(); ++k) expected[k] ^= oracle.next();
            for (const bool split : {false, true}) {
                SCOPED_TRACE(std::string(shape.name) + ", length " +
                             std::to_string(length) + (split ? " in three calls" : ""));
                rc4_state state;
                rc4_setup(key.data(), key.size(), state);
                bytes data(plain.begin(), plain.begin() + align + length + AFTER);
                std::uint8_t* const body = data.data() + align;
                const std::size_t cuts[] = {0, split ? first : 0, split ? second : 0, length,
                                            length + AFTER};
                for (std::size_t c = 0; c + 1 < std::size(cuts); ++c) {
                    shape.apply(body + cuts[c], cuts[c + 1] - cuts[c], state);
                }
                ASSERT_EQ(data, expected);
                ASSERT_EQ(state.x, oracle.i);
                ASSERT_EQ(state.y, oracle.j);
                ASSERT_EQ(std::memcmp(state.perm, oracle.s, 256), 0);
            }
        }
    }
}

// Two streams interleaved, each against its own oracle, in every pair shape:
// each length 0..300 (both streams as long), in one call and in three, then a
// further call; the states must be the oracles'.
TEST(Rc4, EveryPairShapeMatchesTextbookOnBothStreams) {
    std::mt19937 random(15);
    const bytes keys[2] = {random_bytes(random, 32), random_bytes(random, 5)};
    constexpr std::size_t LONGEST = 300, AFTER = 40;
    const bytes plain = random_bytes(random, LONGEST + AFTER);
    for (std::size_t shape_index = 0; shape_index < RC4_LOOP_SHAPES; ++shape_index) {
        const rc4_loop_shape shape = rc4_loop_shape_at(shape_index);
        if (shape.apply_pair == nullptr) continue;
        for (std::size_t length = 0; length <= LONGEST; ++length) {
            const std::size_t first = length * 3 / 7;
            const std::size_t cuts[] = {0, first, length, length + AFTER};
            textbook_rc4 oracles[2] = {{keys[0].data(), keys[0].size()}, {keys[1].data(), keys[1].size()}};
            bytes expected[2], data[2];
            rc4_state states[2];
            for (int s = 0; s < 2; ++s) {
                expected[s] = data[s] = bytes(plain.begin(), plain.begin() + length + AFTER);
                for (auto& byte : expected[s]) byte ^= oracles[s].next();
                rc4_setup(keys[s].data(), keys[s].size(), states[s]);
            }
            SCOPED_TRACE(std::string(shape.name) + ", length " + std::to_string(length));
            for (std::size_t c = 0; c + 1 < std::size(cuts); ++c) {
                shape.apply_pair(data[0].data() + cuts[c], states[0], data[1].data() + cuts[c],
                                 states[1], cuts[c + 1] - cuts[c]);
            }
            for (int s = 0; s < 2; ++s) {
                ASSERT_EQ(data[s], expected[s]) << "stream " << s;
                ASSERT_EQ(states[s].x, oracles[s].i);
                ASSERT_EQ(states[s].y, oracles[s].j);
                ASSERT_EQ(std::memcmp(states[s].perm, oracles[s].s, 256), 0);
            }
        }
    }
}

TEST(Rc4, LongSingleCallIsProcessedInFull) {
    std::mt19937 random(32767);
    const bytes key = random_bytes(random, 32);
    for (const std::size_t length : {32767u, 32768u, 100001u}) {
        textbook_rc4 oracle(key.data(), key.size());
        bytes expected(length, 0);
        for (auto& b : expected) b = oracle.next();
        EXPECT_EQ(keystream(key, length), expected) << "length " << length;
    }
}

// Throughput of the cipher core. The textbook RC4 below is the plain published
// loop, kept here as the yardstick for the unrolled kernel in cipher/rc4.cpp.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "cipher/key_schedule.h"
#include "cipher/md5.h"
#include "cipher/rc4.h"
#include "cipher/rc4_shapes.h"

namespace {

const std::uint8_t bench_key[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                    17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

void textbook_apply(std::uint8_t* data, std::size_t length, rc4_state& state) {
    for (std::size_t p = 0; p < length; ++p) {
        state.x = static_cast<std::uint8_t>(state.x + 1);
        state.y = static_cast<std::uint8_t>(state.y + state.perm[state.x]);
        const std::uint8_t t = state.perm[state.x];
        state.perm[state.x] = state.perm[state.y];
        state.perm[state.y] = t;
        data[p] ^= state.perm[static_cast<std::uint8_t>(state.perm[state.x] + state.perm[state.y])];
    }
}

template <void (*apply)(std::uint8_t*, std::size_t, rc4_state&)>
void rc4_throughput(benchmark::State& bench) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(bench.range(0)), 0x5a);
    rc4_state state;
    rc4_setup(bench_key, sizeof bench_key, state);
    for (auto _ : bench) {
        apply(data.data(), data.size(), state);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations()) * bench.range(0));
}

void BM_rc4_apply(benchmark::State& bench) {
    rc4_throughput<rc4_apply>(bench);
    bench.SetLabel(rc4_shape_name(rc4_chosen_shape()));
}
// One loop shape, whichever rc4_apply chose.
template <rc4_shape shape>
void apply_shape(std::uint8_t* data, std::size_t length, rc4_state& state) {
    rc4_apply_shape(shape, data, length, state);
}
template <rc4_shape shape>
void BM_rc4_shape(benchmark::State& bench) {
    rc4_throughput<apply_shape<shape>>(bench);
    bench.SetLabel(rc4_shape_name(shape));
}
void BM_rc4_textbook(benchmark::State& bench) {
    rc4_throughput<textbook_apply>(bench);
}

void BM_md5_hex_64_chars(benchmark::State& bench) {
    char text[65] = "d41d8cd98f00b204e9800998ecf8427e74be16979710d4c4e7c6647856088456";
    char digest[33];
    for (auto _ : bench) {
        md5_hex(digest, text);
        benchmark::DoNotOptimize(digest);
    }
}

void BM_derive_key_material(benchmark::State& bench) {
    for (auto _ : bench) {
        key_material material;
        derive_key_material("correct horse battery staple", material);
        benchmark::DoNotOptimize(material.cipher_key);
    }
}

}  // namespace

BENCHMARK(BM_rc4_apply)->Arg(16 << 10)->Arg(64 << 10)->Arg(128 << 10)->Arg(1 << 20);
BENCHMARK(BM_rc4_shape<rc4_shape::u8_x1>)->Arg(128 << 10);
BENCHMARK(BM_rc4_shape<rc4_shape::u8_x8>)->Arg(128 << 10);
BENCHMARK(BM_rc4_shape<rc4_shape::u8_x16>)->Arg(128 << 10);
BENCHMARK(BM_rc4_shape<rc4_shape::u32_x1>)->Arg(128 << 10);
BENCHMARK(BM_rc4_shape<rc4_shape::u32_x2>)->Arg(128 << 10);
BENCHMARK(BM_rc4_shape<rc4_shape::u32_x8>)->Arg(128 << 10);
BENCHMARK(BM_rc4_textbook)->Arg(16 << 10)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_md5_hex_64_chars);
BENCHMARK(BM_derive_key_material);

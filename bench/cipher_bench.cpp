// Throughput of the cipher core, with the plain published loop (the tests'
// textbook RC4) as the yardstick for the kernel's shapes in cipher/rc4.cpp.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "cipher/key_schedule.h"
#include "cipher/md5.h"
#include "cipher/rc4.h"
#include "cipher/rc4_shapes.h"
#include "support/oracles.h"

namespace {

const std::uint8_t bench_key[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                    17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

template <typename Apply>
void rc4_throughput(benchmark::State& bench, Apply apply) {
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
    rc4_throughput(bench, rc4_apply);
    for (std::size_t i = 0; i < RC4_LOOP_SHAPES; ++i) {
        if (rc4_loop_shape_at(i).chosen) bench.SetLabel(rc4_loop_shape_at(i).name);
    }
}
// One loop shape, whichever rc4_apply chose.
void BM_rc4_shape(benchmark::State& bench) {
    const rc4_loop_shape shape = rc4_loop_shape_at(static_cast<std::size_t>(bench.range(1)));
    rc4_throughput(bench, shape.apply);
    bench.SetLabel(shape.name);
}
void BM_rc4_textbook(benchmark::State& bench) {
    textbook_rc4 oracle(bench_key, sizeof bench_key);
    rc4_throughput(bench, [&](std::uint8_t* data, std::size_t length, rc4_state&) {
        for (std::size_t p = 0; p < length; ++p) data[p] ^= oracle.next();
    });
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
BENCHMARK(BM_rc4_shape)->ArgsProduct({{128 << 10}, benchmark::CreateDenseRange(0, static_cast<int>(RC4_LOOP_SHAPES) - 1, 1)});
BENCHMARK(BM_rc4_textbook)->Arg(16 << 10)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_md5_hex_64_chars);
BENCHMARK(BM_derive_key_material);

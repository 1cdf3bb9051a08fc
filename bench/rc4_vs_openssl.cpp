// rc4_apply against OpenSSL's RC4 (the code `openssl speed -evp rc4` times:
// EVP_EncryptUpdate in place, legacy provider), in one process, in short
// alternating slices of thread CPU time. The cores of this machine change
// speed with the host's load from one second to the next; slices of 20 ms
// taken in turn meet the same speed, so the ratio holds still where two
// separate one-second runs do not. Each loop shape of the kernel is timed
// the same way, so that the shape rc4_apply chose can be judged, and each
// shape of two interleaved streams (rc4_apply_pair) against OpenSSL's one.
//
// Usage: rc4_vs_openssl [rounds]   prints
//   cpu <model name> (family <f>, model <m>)
//   chosen <shape rc4_apply uses on long calls>
//   chosen_pair <shape rc4_apply_pair uses on long calls>
//   <bytes> tovik=<bytes/s> openssl=<bytes/s> ratio=<tovik/openssl>   per block size
//   shape <name> <bytes> rate=<bytes/s> ratio=<shape/openssl>         per shape
//   pair <name> <bytes> rate=<bytes/s, both streams> ratio=<pair/openssl>  per pair shape
// (rates and ratios are medians over the rounds, default 51).
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "cipher/rc4.h"
#include "cipher/rc4_shapes.h"

namespace {

double thread_seconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Bytes per second of CPU time of pass over size bytes, for about 20 ms.
double rate(std::size_t size, const std::function<void()>& pass) {
    const double start = thread_seconds();
    double elapsed = 0;
    std::size_t passes = 0;
    do {
        pass();
        ++passes;
        elapsed = thread_seconds() - start;
    } while (elapsed < 0.02);
    return static_cast<double>(passes * size) / elapsed;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A contender: one pass, and the bytes it enciphers.
struct contender {
    std::function<void()> pass;
    std::size_t bytes;
};

// The contenders take turns, in reverse order every other round; returns
// each one's rates, round by round.
std::vector<std::vector<double>> alternate(int rounds, const std::vector<contender>& passes) {
    std::vector<std::vector<double>> rates(passes.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < passes.size(); ++k) {
            const std::size_t which = round % 2 == 0 ? k : passes.size() - 1 - k;
            rates[which].push_back(rate(passes[which].bytes, passes[which].pass));
        }
    }
    return rates;
}

double median_ratio(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> ratios;
    for (std::size_t round = 0; round < a.size(); ++round) ratios.push_back(a[round] / b[round]);
    return median(ratios);
}

// "model name" (x86) and the family and model numbers from /proc/cpuinfo.
std::string cpu_model() {
    std::ifstream info("/proc/cpuinfo");
    std::string line, name = "unknown", family = "?", model = "?";
    const auto value = [&] { return line.substr(line.find(':') + 2); };
    while (std::getline(info, line) && !line.empty()) {
        if (line.starts_with("model name")) name = value();
        else if (line.starts_with("cpu family")) family = value();
        else if (line.starts_with("model\t")) model = value();
    }
    return name + " (family " + family + ", model " + model + ")";
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 51;
    if (OSSL_PROVIDER_load(nullptr, "legacy") == nullptr ||
        OSSL_PROVIDER_load(nullptr, "default") == nullptr) {
        std::fprintf(stderr, "rc4_vs_openssl: no legacy provider\n");
        return 1;
    }
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "RC4", nullptr);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    const unsigned char key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    if (cipher == nullptr || context == nullptr ||
        EVP_EncryptInit_ex2(context, cipher, key, nullptr, nullptr) != 1) {
        std::fprintf(stderr, "rc4_vs_openssl: no RC4 in OpenSSL\n");
        return 1;
    }
    rc4_state state;
    rc4_setup(key, sizeof key, state);
    std::printf("cpu %s\n", cpu_model().c_str());
    std::vector<rc4_loop_shape> shapes;
    for (std::size_t i = 0; i < RC4_LOOP_SHAPES; ++i) shapes.push_back(rc4_loop_shape_at(i));
    for (const rc4_loop_shape& shape : shapes) {
        if (shape.chosen) std::printf("chosen %s\n", shape.name);
        if (shape.chosen_pair) std::printf("chosen_pair %s\n", shape.name);
    }

    std::vector<unsigned char> block;
    const auto theirs = [&] {
        int written = 0;
        EVP_EncryptUpdate(context, block.data(), &written, block.data(),
                          static_cast<int>(block.size()));
    };
    for (const std::size_t size : {std::size_t{16} << 10, std::size_t{128} << 10,
                                   std::size_t{1} << 20}) {
        block.assign(size, 0x5a);
        const auto ours = [&] { rc4_apply(block.data(), size, state); };
        const auto rates = alternate(rounds, {{ours, size}, {theirs, size}});
        std::printf("%zu tovik=%.0f openssl=%.0f ratio=%.3f\n", size, median(rates[0]),
                    median(rates[1]), median_ratio(rates[0], rates[1]));
        std::fflush(stdout);
    }

    // Every shape at the program's block size, then every pair shape over two
    // such blocks, OpenSSL last in the list.
    const std::size_t size = std::size_t{128} << 10;
    block.assign(size, 0x5a);
    std::vector<unsigned char> second(size, 0xa5);
    rc4_state other;
    rc4_setup(key, sizeof key - 1, other);
    std::vector<contender> passes;
    for (const rc4_loop_shape& shape : shapes) {
        passes.push_back({[&, shape] { shape.apply(block.data(), size, state); }, size});
    }
    for (const rc4_loop_shape& shape : shapes) {
        if (shape.apply_pair == nullptr) continue;
        passes.push_back(
            {[&, shape] { shape.apply_pair(block.data(), state, second.data(), other, size); },
             2 * size});
    }
    passes.push_back({theirs, size});
    const auto rates = alternate(rounds, passes);
    std::size_t k = 0;
    for (const rc4_loop_shape& shape : shapes) {
        std::printf("shape %s %zu rate=%.0f ratio=%.3f\n", shape.name, size, median(rates[k]),
                    median_ratio(rates[k], rates.back()));
        ++k;
    }
    for (const rc4_loop_shape& shape : shapes) {
        if (shape.apply_pair == nullptr) continue;
        std::printf("pair %s %zu rate=%.0f ratio=%.3f\n", shape.name, size, median(rates[k]),
                    median_ratio(rates[k], rates.back()));
        ++k;
    }
    EVP_CIPHER_CTX_free(context);
    EVP_CIPHER_free(cipher);
    return 0;
}

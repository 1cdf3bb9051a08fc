// rc4_apply against OpenSSL's RC4 (the code `openssl speed -evp rc4` times:
// EVP_EncryptUpdate in place, legacy provider), in one process, in short
// alternating slices of thread CPU time. The cores of this machine change
// speed with the host's load from one second to the next; slices of 20 ms
// taken in turn meet the same speed, so the ratio holds still where two
// separate one-second runs do not.
//
// Usage: rc4_vs_openssl [rounds]   prints, per block size:
//   <bytes> tovik=<bytes/s> openssl=<bytes/s> ratio=<tovik/openssl>   (medians)
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "cipher/rc4.h"

namespace {

double thread_seconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Bytes per second of CPU time of pass over size bytes, for about 20 ms.
template <typename Pass>
double rate(std::size_t size, Pass pass) {
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

    for (const std::size_t size : {std::size_t{16} << 10, std::size_t{128} << 10,
                                   std::size_t{1} << 20}) {
        std::vector<unsigned char> block(size, 0x5a);
        const auto ours = [&] { rc4_apply(block.data(), size, state); };
        const auto theirs = [&] {
            int written = 0;
            EVP_EncryptUpdate(context, block.data(), &written, block.data(),
                              static_cast<int>(size));
        };
        std::vector<double> tovik, openssl;
        for (int round = 0; round < rounds; ++round) {
            if (round % 2 == 0) {
                tovik.push_back(rate(size, ours));
                openssl.push_back(rate(size, theirs));
            } else {
                openssl.push_back(rate(size, theirs));
                tovik.push_back(rate(size, ours));
            }
        }
        std::vector<double> ratios;
        for (int round = 0; round < rounds; ++round) {
            ratios.push_back(tovik[round] / openssl[round]);
        }
        std::printf("%zu tovik=%.0f openssl=%.0f ratio=%.3f\n", size, median(tovik),
                    median(openssl), median(ratios));
    }
    EVP_CIPHER_CTX_free(context);
    EVP_CIPHER_free(cipher);
    return 0;
}

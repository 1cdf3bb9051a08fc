// Wiping of secret material (passphrases, key text, cipher keys, RC4 state).
#pragma once

#include <cstddef>

// Overwrites n bytes at p with zeros in a way the compiler cannot drop as
// dead stores, even when the memory is freed right after.
void wipe(void* p, std::size_t n);

// A value wiped when it goes: a secret held in a record or on the stack.
template <typename T>
struct wiped {
    T value;
    ~wiped() { wipe(&value, sizeof value); }
};

#include "cipher/wipe.h"

void wipe(void* p, std::size_t n) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(p);
    while (n-- > 0) *bytes++ = 0;
}

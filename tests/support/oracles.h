// Independent references the tests hold the program against: kept apart
// from the program's own code so that a fault there cannot hide in both.
#pragma once

#include <cstddef>
#include <string>

// size pseudo-random bytes, the same for the same seed.
std::string random_bytes(std::size_t size, unsigned seed);

// RC4 as in the textbook: data enciphered under key (at least one byte).
std::string textbook_rc4(const std::string& key, std::string data);

// The terminal: raw key reads for the passphrase, what is said to the user
// there, and standard output buffering (terminal_posix.cpp,
// terminal_win32.cpp).
#pragma once

#include <cstddef>

// Reads one key from the terminal (the console device, never standard
// input), in a raw, silent mode that lasts only for this read (ending.h). Writes one
// byte, or the two bytes of a key without a character (lead 0 or 0xE0), to
// out and returns how many (1 or 2). Keys that give nothing (modifiers alone,
// unknown sequences) are skipped. -1 when the terminal cannot be opened or
// read; after a failed open every later call returns -1 at once.
int read_terminal_key(unsigned char out[2]);

// Forgets, wiped, the keys read past the last one asked for (typed or
// pasted ahead): once the passphrase is in, they may hold more of it.
void forget_typed_keys();

// Writes text to the terminal (the console on Windows), whatever standard
// output is; false when there is none.
bool write_terminal(const char* text, std::size_t size);

// Standard input or output is the terminal.
bool input_is_terminal();
bool output_is_terminal();

// Unbuffered standard output on a terminal, line by line otherwise.
void setup_standard_output();

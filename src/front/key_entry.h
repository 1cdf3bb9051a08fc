// Masked passphrase entry: keys read one at a time from the terminal, one
// echo character per stored byte.
#pragma once

#include "cipher/key_schedule.h"

// The next byte of keyboard input (0 to 255), or -1 when the terminal cannot
// be opened or read. A key without a character gives two bytes: the second
// waits as the pending byte and is returned by the next call.
int read_keystroke();

// Reads keys into buffer until Enter (13), echoing one echo character per
// stored byte, and terminates the buffer. No editing: every other key is
// stored as it comes. Bytes beyond PASSPHRASE_SIZE - 1 are neither stored nor
// echoed. 0, or -1 when the terminal failed (the buffer then holds only what
// was read, terminated, and must not be used as a key).
int read_masked_key(char (&buffer)[PASSPHRASE_SIZE], char echo);

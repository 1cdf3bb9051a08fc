// A stream from standard input to standard output (tovik -): its first bytes
// decide, as a file's do, whether a container's body is deciphered or the
// stream is enciphered into a container.
#pragma once

#include "container/container.h"
#include "platform/files.h"

struct data_stream {
    os_file in, out;
    std::size_t read = 0;  // the stream's first bytes, in the first block
    header_bytes head;     // what they say it is
};
// Takes standard input and output, and reads the first bytes; false when
// they cannot be had (a read error).
bool open_stream(data_stream& stream);
// The rest of the stream, deciphered (its header must be keys', or nothing
// is written: OUTCOME_WRONG_KEY) or enciphered behind keys' header; an
// outcome code: OUTCOME_INPUT_FAILED when reading failed, OUTCOME_OUTPUT_LOST
// when writing did.
int filter_stream(data_stream& stream, const key_material& keys, bool decrypting);

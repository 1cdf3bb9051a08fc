// Outcome codes of one target: what the file transform and the driver's
// checks return, and what report_outcome turns into a message.
#pragma once

inline constexpr int OUTCOME_ENCRYPTED = 0;
inline constexpr int OUTCOME_DECRYPTED = 1;
inline constexpr int OUTCOME_NOT_FOUND = -1;
inline constexpr int OUTCOME_DISK_WRITE = -2;
inline constexpr int OUTCOME_INPUT_FAILED = -3;
inline constexpr int OUTCOME_OUTPUT_FAILED = -4;
inline constexpr int OUTCOME_WRONG_KEY = -10;
inline constexpr int OUTCOME_EMPTY_FILE = -100;
// Left alone: its output would replace another target of the run, or an
// output the run has already written.
inline constexpr int OUTCOME_OUTPUT_IS_TARGET = -101;
// Left alone: its output would replace it, and it changed after it was read.
inline constexpr int OUTCOME_INPUT_CHANGED = -102;
// Left alone: it is, at its turn, a file this run wrote (through a link or
// under another name).
inline constexpr int OUTCOME_OWN_OUTPUT = -103;
// The run cannot go on: there is no memory for it.
inline constexpr int OUTCOME_OUT_OF_MEMORY = -104;
// A container given the new passphrase in place (tovik <input> -x).
inline constexpr int OUTCOME_REKEYED = 2;
// Left alone: not a container this run can decrypt (-c) or give a new
// passphrase (-x).
inline constexpr int OUTCOME_NOT_A_CONTAINER = -105;
// Left alone: a container this run would change in place, but read-only.
inline constexpr int OUTCOME_READ_ONLY = -107;
// Standard output could not be written (its reader gone, say): the run ends.
inline constexpr int OUTCOME_OUTPUT_LOST = -106;

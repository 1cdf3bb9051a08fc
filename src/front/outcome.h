// Outcome codes of one target, turned into messages by report_outcome.
#pragma once

inline constexpr int OUTCOME_ENCRYPTED = 0;
inline constexpr int OUTCOME_DECRYPTED = 1;
inline constexpr int OUTCOME_NOT_FOUND = -1;
inline constexpr int OUTCOME_DISK_WRITE = -2;
inline constexpr int OUTCOME_INPUT_FAILED = -3;
inline constexpr int OUTCOME_OUTPUT_FAILED = -4;
inline constexpr int OUTCOME_WRONG_KEY = -10;
inline constexpr int OUTCOME_EMPTY_FILE = -100;
// Left alone: its output name is another target of the same run.
inline constexpr int OUTCOME_OUTPUT_IS_TARGET = -101;

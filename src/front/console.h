// What the program says to the user, and where it goes. In a run over files
// all of it goes to standard output, as it always has, and the dialogue (its
// prompts and the stars of the keys) also reaches the terminal when standard
// output is not it, so that the user sees what is asked. Once standard
// output carries data (-c, tovik -), everything said goes to the terminal
// alone (to standard error when there is no terminal).
#pragma once

// From now on standard output carries data only.
void keep_output_for_data();

// A message, a report line or the banner, formatted as by printf.
[[gnu::format(printf, 1, 2)]] void say(const char* format, ...);
// A prompt of the dialogue, or the echo of a key.
void ask(const char* text);
// Everything said so far has reached its reader: false when standard
// output could not take it.
bool all_said();

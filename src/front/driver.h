// The run: banner, argument rules, collection, passphrase dialogue, the loop
// over the targets and the report of each outcome.
#pragma once

#include <string>

// Runs the program and returns the process's exit status.
int run_driver(int argc, char** argv);
// What report_outcome returns for a code that lets the run go on.
inline constexpr int RUN_GOES_ON = -1;
// Prints the message of code for the target at path, whose output (empty
// when not known) is output; returns the exit status the run ends with for
// the codes that end it, RUN_GOES_ON for the others.
int report_outcome(int code, const std::string& path, const std::string& output = {});
void print_usage();

// The run: banner, argument rules, collection, passphrase dialogue, the loop
// over the targets and the report of each outcome.
#pragma once

#include <cstdint>
#include <string>

// Runs the program and returns the exit status of a normal end; every early
// end exits the process.
int run_driver(int argc, char** argv);
// Prints the message of code; for the codes that end the run, exits.
void report_outcome(int code, const std::string& path);
void print_usage();
// Size of the file, or -1 when it is not a regular file or cannot be opened.
std::int64_t probe_file_size(const std::string& path);

// The run: banner, argument rules, collection, passphrase dialogue, the loop
// over the targets and the report of each outcome.
#pragma once

#include <optional>
#include <string>

// Runs the program and returns the process's exit status.
int run_driver(int argc, char** argv);
// Prints the message of code for the target at path, whose output (empty
// when not known) is output; returns the exit status the run ends with for
// the codes that end it, none for those that let it go on.
std::optional<int> report_outcome(int code, const std::string& path, const std::string& output = {});
void print_usage();

// The run: banner, argument rules, collection, passphrase dialogue, the loop
// over the targets and the report of each outcome.
#pragma once

// Runs the program and returns the process's exit status.
int run_driver(int argc, char** argv);

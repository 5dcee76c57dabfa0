#pragma once

namespace kolvane {

// The program word as invoked; set by the driver before usage or version can run.
extern const char* program_name;
// A block of words a program adds after the help's last one (kolvane-mpi's); nullptr: none.
extern const char* help_addition;

// Status 0: the full help on standard output; otherwise the one-line hint on standard error.
// Then ends the process with `status`. The only function that ends the process.
[[noreturn]] void usage(int status);

// The text on standard output, each %s in it the program word (no other directive).
void print_with_name(const char* text);

// The version line, on standard error.
void version();

}  // namespace kolvane

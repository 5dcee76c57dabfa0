// The messages of a failed read or write, shared by the positioning and the copy.
#pragma once

#include "cli/settings.h"

namespace kolvane {

// The name a read or write message shows: the name, or "standard input" / "standard output".
const char* input_name(const Settings& s);
const char* output_name(const Settings& s);

// Each prints its message and returns the exit status (3).
int read_failure(const Settings& s);
int write_failure(const Settings& s);
// The input ended before the first byte an entry asked for.
int past_eof(const Settings& s);

}  // namespace kolvane

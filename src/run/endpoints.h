// What the run's two sides are, decided once the words are scanned: every part of the run reads
// this instead of comparing the stored words or asking the system again.
#pragma once

#include <cstdint>

#include "cli/settings.h"

namespace kolvane {

enum class InputSide : std::uint8_t { standard_input, zero_source, named };
enum class OutputSide : std::uint8_t { standard_output, null_sink, named };

struct Endpoints {
  InputSide input = InputSide::standard_input;
  OutputSide output = OutputSide::standard_output;
  // A named output that is a pipe, terminal or character device: it keeps nothing at an offset.
  // Asked of the system once, where the run first needs it (settle_output_stream).
  bool output_stream = false;

  bool zero_source() const { return input == InputSide::zero_source; }
  bool null_sink() const { return output == OutputSide::null_sink; }
  bool named_input() const { return input == InputSide::named; }
  bool named_output() const { return output == OutputSide::named; }
  // A file or device named by of=: what is written there can be positioned and read again.
  bool positioned_named_output() const { return named_output() && !output_stream; }
};

// From the stored words alone, with no system call. The bare words count as well: if=zero and
// of=nul are the zero source and the null sink, as /dev/zero and /dev/null are.
Endpoints decide_endpoints(const Settings& s);

// Asks the system whether a named output is a stream; nothing to ask for any other output.
void settle_output_stream(Endpoints& ends, const Settings& s);

}  // namespace kolvane

#pragma once

#include <string>

#include "cli/settings.h"
#include "platform/profile.h"

namespace kolvane {

struct ScanResult {
  bool accepted = false;
  Settings settings;
  bool count_given = false;
  bool iterations_given = false;
  // When not accepted: the complete text for standard error (before the usage hint).
  std::string rejection;
};

// Examines the argument words after the program word, stopping at the first one it does not
// accept. Reads the words without changing them and keeps pointers into them.
ScanResult scan_words(int argc, const char* const* argv, const PlatformProfile& profile);

// The program's scanner: on a rejected word prints the rejection and ends the process through
// usage(1); otherwise fills the settings and the two flags.
void scanargs(int argc, const char* const* argv, Settings& settings, bool& count_given,
              bool& iterations_given);

}  // namespace kolvane

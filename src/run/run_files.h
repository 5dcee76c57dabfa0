// The run's input and output: the open files, how each is positioned, where the next block of
// each goes, and how much of the input the copy takes. Owned by the driver; the planner decides
// the positioning, the transfer moves the cursors.
#pragma once

#include <cstdint>

#include "run/cursor.h"
#include "run/owned.h"

namespace kolvane {

inline constexpr std::uint64_t kNoLimit = UINT64_MAX;

struct RunFiles {
  // Output first: destruction closes the input, then the output.
  OwnedFile output;
  OwnedFile input;

  bool output_preexists = false;
  bool apply_skip = false;
  bool apply_seek = false;
  // The input cannot be positioned (a pipe, terminal or character device): its skipped bytes
  // are read and dropped.
  bool skip_by_reading = false;
  // The output is positioned for the first entry only; the later entries follow on.
  bool seek_first_entry_only = false;
  // Where the next block of each file is read or written (run/cursor.h).
  FileCursors cursors;
  // The most input bytes the copy takes: a file measured without a count is copied up to its
  // size, however it grows meanwhile. kNoLimit otherwise.
  std::uint64_t input_limit = kNoLimit;

  // The input first, then the output; the output's result, false when its close failed.
  bool close() {
    input.close();
    return output.close();
  }
};

}  // namespace kolvane

// mix=R: a run that reads and writes one target, the output: each I/O of its entries reads the
// target's block with a chance of R %, else writes the zero source's block there (zeros, or
// stamped with pattern=random). Reads go through a handle of their own, direct when dio= asks
// for direct reads, so that each direction keeps its own dio=.
#pragma once

#include "cli/settings.h"
#include "platform/platform.h"
#include "run/failures.h"
#include "run/run_context.h"

namespace kolvane {

// Refuses, before anything is opened, a mix= the run cannot carry out: none, or the refusal (1).
Failure check_mix_words(const RunShape& shape, const Settings& s);

// Once the output is open: the target opened for reading, direct for dio=1 or 3; kNoFile when
// the system refuses (its text is then the last error).
FileHandle open_mix_reader(const Settings& s);

}  // namespace kolvane

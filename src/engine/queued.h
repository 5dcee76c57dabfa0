// The queued transfer: iodepth=N keeps up to N reads and writes in flight through the
// platform's I/O queue. Two shapes of run may go deeper than one I/O:
//  - repeated entries (iterations= or runtime=) over positioned files: each entry is one chain
//    of I/Os in the order the synchronous copy makes them, and up to N entries run at once;
//  - a single copy with ibs = obs: the blocks are read ahead and written behind, each written
//    at its own offset, and counted in block order.
// Every other run is refused before its output is opened.
#pragma once

#include <cstdint>

#include "cli/settings.h"
#include "engine/engine.h"
#include "platform/profile.h"
#include "run/run_context.h"
#include "run/run_files.h"
#include "run/transfer_state.h"

namespace kolvane {

// Whether the run may keep more than one I/O in flight. Asked once the input is open and
// measured, before the output is opened or truncated: none, or the refusal (1) that says why.
Failure check_io_depth(const RunFiles& files, const RunShape& shape, const Settings& s);

// Refuses, before anything is opened, a poll= the run cannot use: none, or the refusal (1).
Failure check_poll_words(const Settings& s, const PlatformProfile& profile);

// Runs every entry the source gives. Returns none, or the first failure: 2 when the system
// refuses the queue, 3 for a read or write, 6 for the buffers; 9 without a message for a bad
// block, which the check's conclude() tells.
Failure run_queued(const RunFiles& files, TransferState& transfer, RunContext& run,
                   const Settings& s, const EntrySource& next_entry);

}  // namespace kolvane

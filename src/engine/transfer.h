// The block transfer of one plan entry: position the files, then write zero-filled blocks
// (the zero source) or read, re-block and write, counting full and partial records.
#pragma once

#include "cli/settings.h"
#include "plan/plan.h"
#include "platform/platform.h"
#include "platform/profile.h"
#include "run/failures.h"
#include "run/run_context.h"
#include "run/run_files.h"
#include "run/transfer_state.h"

namespace kolvane {

// Returns none when the entry is done, or its failure (2 positioning, 3 read or write,
// 6 buffers; 9 for a bad block, which the check's conclude() tells).
Failure run_entry(RunFiles& files, TransferState& transfer, RunContext& run,
                  const Settings& settings, const PlanEntry& entry, const PlatformProfile& profile);

// A write a stop request cut short while it waited on a reader that does not read: the bytes
// that went out are timed and counted as a partial record out. The run stops there.
void count_stopped_write(TransferState& transfer, Meter& meter, IoStart began,
                         const Written& written);

}  // namespace kolvane

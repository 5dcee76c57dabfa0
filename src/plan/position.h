// Where an entry starts: the input at its skip offset and the output at its seek offset.
#pragma once

#include "cli/settings.h"
#include "plan/plan.h"
#include "platform/profile.h"
#include "run/failures.h"
#include "run/run_context.h"
#include "run/run_files.h"
#include "run/transfer_state.h"

namespace kolvane {

// Positions the files the plan positions: a file the program opened by name only in the
// run's cursors, which its reads and writes then use; the standard streams by the system. An input
// that cannot be positioned has the skipped bytes read and dropped instead. Returns none, or the
// failure: 2 when positioning fails, 3 when reading the skipped bytes fails or meets the end
// first. A status request while skipped bytes are read shows `totals`.
Failure position_files(RunFiles& files, RunContext& run, const RecordTotals& totals,
                       const Settings& s, const PlanEntry& entry, const PlatformProfile& profile);

}  // namespace kolvane

// workers=N: the run's transfer shared out among N threads, each a whole engine of its own
// (its buffers, its draw, its meter, its check, its failure), with one report for the whole.
// Worker w runs the iterations w, w + N, ... drawn as a run of one worker with seed + w would
// draw them, or copies the w-th of N ranges of whole blocks of a single copy. The engines do
// not know there are workers: each runs as it would alone, on its share of the words.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cli/settings.h"
#include "measure/clock.h"
#include "measure/meter.h"
#include "plan/plan.h"
#include "platform/profile.h"
#include "run/failures.h"
#include "run/run_context.h"
#include "run/run_files.h"
#include "run/transfer_state.h"
#include "workers/share.h"

namespace kolvane {

// One worker's figures, kept for the JSON report beside the whole's.
struct WorkerFigures {
  std::uint32_t seed = 0;
  RecordTotals totals;
  std::unique_ptr<Meter> meter;
};

// What a run of several workers leaves besides the whole's records and meter.
struct WorkersOutcome {
  std::vector<WorkerFigures> workers;  // empty for a run of one worker
  // A split copy that ended early: the blocks copied past those its records count.
  std::vector<CopiedSpan> copied_beyond;
};

// Whether the transfer is shared out among workers: workers=N, or a target several ranks
// share (which each rank cuts for its workers, one or more).
bool runs_workers(const RunShape& shape, const Settings& s);

// Whether the run may be shared out. Asked once the input is open and measured, before the
// output is opened or truncated: none, or the refusal (1) that says why.
Failure check_workers(const RunFiles& files, const RunShape& shape, const Settings& s);

// Runs the transfer on settings.workers threads, from the run's open files and calibration,
// and returns the first failure in time (its worker's message and status), none otherwise.
// The others stop taking work once one has failed; what they have in flight completes. The
// whole goes into `run.meter` and `transfer.totals`, each worker's into `outcome`. Status
// requests and progress lines, answered while the workers run, show the whole so far; `clock`
// is the run's.
Failure run_workers(const RunFiles& files, const Calibration& calibration, RunContext& run,
                    TransferState& transfer, const Settings& s, const PlatformProfile& profile,
                    const Clock& clock, WorkersOutcome& outcome);

}  // namespace kolvane

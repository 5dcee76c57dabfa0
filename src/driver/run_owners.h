// The owners of one run, each with its one job: the transfer's buffers and records, the plan,
// the files, and the context the stages share. They release on destruction, so every early
// return of the driver releases what is held; they are declared in reverse release order so
// that the input is closed first, then the output, then the plan, then the buffers.
#pragma once

#include <optional>

#include "plan/plan.h"
#include "run/run_context.h"
#include "run/run_files.h"
#include "run/transfer_state.h"
#include "workers/workers.h"

namespace kolvane {

struct RunOwners {
  // rate=: the one schedule every worker's meter takes its due times from; made before the
  // meters that point at it and gone after them.
  std::optional<RateSchedule> schedule;
  // Each worker's figures, kept for the reports after everything else is released.
  WorkersOutcome workers;
  TransferState transfer;
  Plan plan;
  RunFiles files;
  RunContext context;

  // The release of the normal end, in the same order as on every failure path.
  void release() {
    files.close();
    plan.release();
    transfer.buffers.release();
  }
};

}  // namespace kolvane

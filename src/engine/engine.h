// The block transfer of a run, behind one interface with two engines: one I/O at a time
// (engine/transfer.h), or up to iodepth= I/Os in flight through the platform's queue
// (engine/queued.h). The driver gives either the entries to run and reads the run's totals
// from the transfer's state afterwards.
#pragma once

#include <functional>
#include <memory>

#include "cli/settings.h"
#include "plan/plan.h"
#include "platform/profile.h"
#include "run/run_context.h"
#include "run/run_files.h"
#include "run/transfer_state.h"

namespace kolvane {

// Gives the next entry to run (the plan's, or one drawn as the run goes) after its verbose
// report; false when none is left.
using EntrySource = std::function<bool(PlanEntry& entry)>;

class TransferEngine {
 public:
  TransferEngine() = default;
  TransferEngine(const TransferEngine&) = delete;
  TransferEngine& operator=(const TransferEngine&) = delete;
  virtual ~TransferEngine() = default;

  // Runs the entries the source gives until the last one, a stop or a failure. Returns none, or
  // the first failure, unprinted (the driver prints it).
  virtual Failure run(const EntrySource& next_entry) = 0;
};

// The engine the settings ask for: queued with iodepth= above 1, synchronous otherwise.
// Both work on the driver's files, the transfer's state and the run's context, which outlive
// them.
std::unique_ptr<TransferEngine> make_transfer_engine(RunFiles& files, TransferState& transfer,
                                                     RunContext& run, const Settings& settings,
                                                     const PlatformProfile& profile);

// The transfer of every entry the source gives by the engine the settings ask for, then the
// check's verdict: a failed check is told once the transfer has ended, by the bad block that
// comes first in plan order; a failed read or write brings its own message. Returns none or the
// failure, unprinted.
Failure run_transfer(RunFiles& files, TransferState& transfer, RunContext& run,
                     const Settings& settings, const PlatformProfile& profile,
                     const EntrySource& next_entry);

}  // namespace kolvane

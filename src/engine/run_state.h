// What one run owns. The owners release on destruction, so every early return of the driver
// releases what is held; the members are declared in reverse release order so that the input
// is closed first, then the output, then the plan, then the buffers.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "engine/digits.h"
#include "engine/owned.h"
#include "engine/run_control.h"
#include "engine/run_files.h"
#include "engine/transfer_state.h"
#include "measure/meter.h"
#include "platform/platform.h"

namespace kolvane {

class OutputCheck;

// No member initializers: a plan of millions of entries is allocated without a pass that
// zeroes it, since the draw writes every entry. PlanEntry{} is still all zeros.
struct PlanEntry {
  std::uint64_t skip_offset;
  std::uint64_t seek_offset;
};

// The iteration plan, in the order its entries run, in one allocation.
struct Plan {
  std::unique_ptr<PlanEntry[]> entries;
  std::uint32_t size = 0;

  void release() {
    entries.reset();
    size = 0;
  }
};

// The planner's measurements, kept for the whole run.
struct Calibration {
  OffsetDigits input_range{};
  OffsetDigits input_fixed{};
  OffsetDigits output_range{};
  OffsetDigits output_fixed{};
};

struct RunState {
  TransferState transfer;
  Plan plan;
  RunFiles files;

  bool count_given = false;
  bool iterations_given = false;
  // runtime= with count= and no iterations=: entries drawn one by one until the time is up,
  // with no plan.
  bool unlimited = false;
  // What the offsets are drawn from: srand's seed, and the uniform generator's.
  std::uint32_t seed = 0;
  Calibration calibration;
  // Bytes, blocks and, when a measuring word asks, times of every read and write.
  Meter meter;
  std::chrono::steady_clock::time_point start_time{};
  // Stamps and checks the output's blocks (engine/verify.h); nullptr in a run without
  // pattern= or verify=, which then never reaches it. Owned by the driver.
  OutputCheck* check = nullptr;

  RunControl control;

  // Entries at drawn offsets: a planned number of iterations, or unlimited ones.
  bool repeats() const { return iterations_given || unlimited; }

  // The release of the normal end, in the same order as on every failure path.
  void release() {
    files.close();
    plan.release();
    transfer.buffers.release();
  }
};

}  // namespace kolvane

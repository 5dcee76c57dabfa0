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

struct TransferBuffers {
  // Output buffer first: destruction releases the input buffer, then the output buffer.
  AlignedBuffer output;
  AlignedBuffer input;
  bool obtained = false;
  // The input buffer holds zeros, written out as they are: the zero source is never read.
  bool zero_source = false;

  void release() {
    input.release();
    output.release();
  }
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

struct RecordTotals {
  std::uint64_t r_full_total = 0;
  std::uint64_t r_partial_total = 0;
  std::uint64_t w_full_total = 0;
  std::uint64_t w_partial_total = 0;
};

struct RunState {
  TransferBuffers buffers;
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
  // Run flags of the transfer: a read met the end of the input after the first read of its
  // entry; an output block has been written. Cleared once per run.
  bool end_of_input = false;
  bool block_written = false;
  RecordTotals totals;
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
    buffers.release();
  }
};

}  // namespace kolvane

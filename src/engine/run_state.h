// What one run owns. The owners release on destruction, so every early return of the driver
// releases what is held; the members are declared in reverse release order so that the input
// is closed first, then the output, then the plan, then the buffers.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "engine/cursor.h"
#include "engine/digits.h"
#include "engine/run_control.h"
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

class OwnedFile {
 public:
  OwnedFile() = default;
  OwnedFile(const OwnedFile&) = delete;
  OwnedFile& operator=(const OwnedFile&) = delete;
  ~OwnedFile() { close(); }

  void reset(FileHandle handle) {
    close();
    handle_ = handle;
  }
  // False when the system reports the close failed.
  bool close() {
    const bool closed = handle_ == kNoFile || close_file(handle_);
    handle_ = kNoFile;
    return closed;
  }
  FileHandle get() const { return handle_; }
  bool is_open() const { return handle_ != kNoFile; }

 private:
  FileHandle handle_ = kNoFile;
};

class AlignedBuffer {
 public:
  AlignedBuffer() = default;
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  ~AlignedBuffer() { release(); }

  void reset(void* data) {
    release();
    data_ = static_cast<unsigned char*>(data);
  }
  void release() {
    if (data_ != nullptr) free_aligned(data_);
    data_ = nullptr;
  }
  unsigned char* get() const { return data_; }

 private:
  unsigned char* data_ = nullptr;
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

inline constexpr std::uint64_t kNoLimit = UINT64_MAX;

struct RunState {
  TransferBuffers buffers;
  Plan plan;
  OwnedFile output;
  OwnedFile input;

  bool count_given = false;
  bool iterations_given = false;
  // runtime= with count= and no iterations=: entries drawn one by one until the time is up,
  // with no plan.
  bool unlimited = false;
  // What the offsets are drawn from: srand's seed, and the uniform generator's.
  std::uint32_t seed = 0;
  bool output_preexists = false;
  bool apply_skip = false;
  bool apply_seek = false;
  // The input cannot be positioned (a pipe, terminal or character device): its skipped bytes
  // are read and dropped.
  bool skip_by_reading = false;
  // The output is positioned for the first entry only; the later entries follow on.
  bool seek_first_entry_only = false;
  // Where the next block of each file is read or written (engine/cursor.h).
  FileCursors cursors;
  // The most input bytes the copy takes: a file measured without a count is copied up to its
  // size, however it grows meanwhile. kNoLimit otherwise.
  std::uint64_t input_limit = kNoLimit;
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
    input.close();
    output.close();
    plan.release();
    buffers.release();
  }
};

}  // namespace kolvane

// What the block transfer keeps from entry to entry: its buffers, the records it counted and
// the run flags its end checks read. The synchronous engine works in these buffers; the queued
// engine keeps memory of its own and counts its records and flags here, so that the driver
// reads the totals from one place whichever engine ran.
#pragma once

#include <cstdint>

#include "run/owned.h"

namespace kolvane {

struct TransferBuffers {
  // Output buffer first: destruction releases the input buffer, then the output buffer.
  AlignedBuffer output;
  AlignedBuffer input;
  bool obtained = false;

  void release() {
    input.release();
    output.release();
  }
};

struct RecordTotals {
  std::uint64_t r_full_total = 0;
  std::uint64_t r_partial_total = 0;
  std::uint64_t w_full_total = 0;
  std::uint64_t w_partial_total = 0;

  // Another part's records added in: a worker's to the run's, a rank's to the whole's.
  void add(const RecordTotals& t) {
    r_full_total += t.r_full_total;
    r_partial_total += t.r_partial_total;
    w_full_total += t.w_full_total;
    w_partial_total += t.w_partial_total;
  }
};

struct TransferState {
  TransferBuffers buffers;
  RecordTotals totals;
  // Run flags: a read met the end of the input after the first read of its entry; an output
  // block has been written. False at the start of the run, never cleared between entries.
  bool end_of_input = false;
  bool block_written = false;
};

}  // namespace kolvane

// What the stages of a run share beyond the files, the plan and the transfer's own state: the
// kind of run the words make, the meter every I/O is counted in, the control asked between
// I/Os, and the check the blocks go through.
#pragma once

#include <cstdint>
#include <optional>

#include "measure/meter.h"
#include "run/endpoints.h"
#include "run/mix_choice.h"
#include "run/random_source.h"
#include "run/run_control.h"
#include "run/transfer_state.h"

namespace kolvane {

class OutputCheck;

// A run launched as one of several processes, each on its host (kolvane-mpi): this process's
// rank among them. `shared`: the ranks' output is one target reached by all of them, each rank
// keeping to parts of its own. A run alone is rank 0 of 1.
struct RunPart {
  std::uint32_t rank = 0;
  std::uint32_t ranks = 1;
  bool shared = false;
  // Rank 0's own seed, the run's when its words give none.
  std::uint32_t seed = 0;
  // json= and plot= with %r in their names: each rank writes its own document. Without, rank 0
  // writes the whole's and the other ranks none.
  bool own_json = false;
  bool own_plot = false;

  // Only rank 0 prints the run's lines; the others print their errors alone.
  bool speaks() const { return rank == 0; }
  // Parts of the output are shared out among every rank's workers, not only this one's.
  bool shares_target() const { return shared && ranks > 1; }
};

// Decided once the words are scanned, and the same for the whole run.
struct RunShape {
  bool count_given = false;
  bool iterations_given = false;
  // runtime= with count= and no iterations=: entries drawn one by one until the time is up,
  // with no plan.
  bool unlimited = false;
  // What the offsets are drawn from: the digit-wise draw's seed, and the uniform generator's.
  std::uint32_t seed = 0;
  // The whole run's seed: a worker draws from a seed of its own (seed above) but scatters the
  // skewed laws' ranks by this one, so that every worker's hot blocks are the same blocks.
  std::uint32_t run_seed = 0;
  // What the input and the output are.
  Endpoints ends;
  RunPart part;

  // Entries at drawn offsets: a planned number of iterations, or unlimited ones.
  bool repeats() const { return iterations_given || unlimited; }
};

struct RunContext {
  RunShape shape;
  // Bytes, blocks and, when a measuring word asks, times of every read and write.
  Meter meter;
  // Stamps and checks the output's blocks (engine/verify.h); nullptr in a run without
  // pattern= or verify=, which then never reaches it. Owned by the driver.
  OutputCheck* check = nullptr;
  RunControl control;
  // The digit-wise draw's values, seeded once the seed is known; no other run shares them.
  RandomSource random;
  // mix=: the choice of each I/O, seeded once the seed is known; absent without mix=.
  std::optional<MixChoice> mix;

  // The meter and the time limit read `clock` (which must outlive the run) instead of
  // kSteadyClock.
  void use_clock(const Clock& clock) {
    meter.set_clock(clock);
    control.set_clock(clock);
  }

  // After each I/O: true when the run stops there. A status request shows `totals` and the
  // meter so far.
  bool after_io(const RecordTotals& totals) { return control.after_io(totals, meter); }
};

}  // namespace kolvane

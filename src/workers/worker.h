// One worker of a run: its share of the words, a view of the run's files, and owners of its
// own for everything an engine changes (buffers, records, meter, draw, check). Its thread
// touches nothing else of the run but the link it answers through.
#pragma once

#include <cstdint>
#include <optional>

#include "cli/settings.h"
#include "engine/verify.h"
#include "plan/draw.h"
#include "plan/plan.h"
#include "platform/profile.h"
#include "run/failures.h"
#include "run/run_context.h"
#include "run/run_files.h"
#include "run/transfer_state.h"
#include "workers/share.h"

namespace kolvane {

struct WorkerSetup {
  std::uint32_t index = 0;
  std::uint32_t count = 1;
  // The run's words as a run of this worker alone would have them: its iterations, or its
  // range of the copy (count, skip and seek), and its seed.
  Settings words;
  RunShape shape;
  Calibration calibration;
  // A copy's stamps and checks carry the whole run's words and seed (these, which must outlive
  // the worker), so that the blocks are those a run of one worker writes; nullptr: iterations
  // carry the worker's own.
  const Settings* run_words = nullptr;
  const RunShape* run_shape = nullptr;
  // The copy's blocks, in blocks of the copy (for its records when it ends early). A worker of
  // a split copy positions both sides at its range, and takes the input up to the run's limit.
  BlockRange blocks;
  bool split_copy = false;
  // The number of the worker's first iteration as the run counts them; then every count-th.
  std::uint64_t first_number = 1;
};

class Worker {
 public:
  // `files`: the run's open files, borrowed for the worker's life; their flags are copied.
  Worker(const WorkerSetup& setup, const RunFiles& files);
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  ~Worker();

  // On the worker's thread: its check and its plan, then the transfer of its share, which lets
  // go of the worker's buffers and plan at its end. Each returns none, or the failure,
  // unprinted.
  Failure prepare(const PlatformProfile& profile);
  Failure transfer(const PlatformProfile& profile);

  const WorkerSetup& setup() const { return setup_; }
  RunContext& context() { return context_; }
  const RecordTotals& totals() const { return transfer_.totals; }
  // The blocks the worker got through, in order from its first: written, or read by a pass that
  // only checks.
  std::uint64_t blocks_done() const;

 private:
  Failure run_entries(const PlatformProfile& profile);

  WorkerSetup setup_;
  // Declared first, destroyed last: the borrowed handles are let go after everything that uses
  // them is gone.
  RunFiles files_;
  TransferState transfer_;
  RunContext context_;
  OutputCheck check_;
  Plan plan_;
  std::optional<RunOrderDraw> draw_;
};

}  // namespace kolvane

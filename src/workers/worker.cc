#include "workers/worker.h"

#include <utility>

#include "engine/engine.h"

namespace kolvane {

Worker::Worker(const WorkerSetup& setup, const RunFiles& files) : setup_(setup) {
  // The handles are the run's: the worker reads and writes them at offsets of its own (both
  // sides are positioned, or the zero source and the null sink), so no system-held position is
  // shared between threads.
  files_.input.reset(files.input.get());
  files_.output.reset(files.output.get());
  files_.output_preexists = files.output_preexists;
  files_.apply_skip = files.apply_skip;
  files_.apply_seek = files.apply_seek;
  files_.skip_by_reading = files.skip_by_reading;
  files_.seek_first_entry_only = files.seek_first_entry_only;
  files_.input_limit = files.input_limit;
  if (setup_.split_copy) {
    const Settings& s = setup_.words;
    files_.apply_skip = !setup_.shape.ends.zero_source();
    files_.apply_seek = !setup_.shape.ends.null_sink();
    files_.seek_first_entry_only = false;
    // The run's limit counts from its skip; this worker's from its own first block.
    const std::uint64_t before = setup_.blocks.first * s.input_blocksize;
    if (files.input_limit != kNoLimit)
      files_.input_limit = files.input_limit > before ? files.input_limit - before : 0;
  }
  context_.shape = setup_.shape;
  context_.random.seed(setup_.shape.seed);
  if (setup_.words.mix_given)
    context_.mix.emplace(setup_.shape.seed, setup_.words.mix_percent);
}

Worker::~Worker() {
  static_cast<void>(files_.input.release());
  static_cast<void>(files_.output.release());
}

std::uint64_t Worker::blocks_done() const {
  const RecordTotals& t = transfer_.totals;
  if (setup_.words.verify == kVerifyCheckOnly)
    return t.r_full_total + t.r_partial_total;
  return t.w_full_total + t.w_partial_total;
}

Failure Worker::prepare(const PlatformProfile& profile) {
  const Settings& s = setup_.words;
  if (s.stamped || s.verify != kVerifyOff) {
    const bool run_stamps = setup_.run_words != nullptr;
    Failure failure =
        check_.start(run_stamps ? *setup_.run_words : s,
                     run_stamps ? *setup_.run_shape : setup_.shape, files_.output.get(), profile);
    if (failure.failed())
      return failure;
    context_.check = &check_;
  }
  std::optional<Plan> plan =
      build_plan(files_, setup_.calibration, context_.shape, s, context_.random);
  if (!plan)
    return plan_memory_failure();
  plan_ = std::move(*plan);
  if (context_.shape.unlimited)
    draw_.emplace(files_, plan_.calibration, s, context_.shape.seed, context_.shape.run_seed,
                  context_.random);
  return {};
}

Failure Worker::run_entries(const PlatformProfile& profile) {
  const Settings& s = setup_.words;
  EntryFeed feed(plan_, draw_ ? &*draw_ : nullptr);
  const EntrySource next_entry = [&](PlanEntry& entry) {
    if (!feed.next(entry))
      return false;
    // Numbered as the run counts its iterations: this worker's are every count-th.
    report_entry(files_, context_.shape, s, entry,
                 setup_.first_number + (feed.taken() - 1) * setup_.count, profile);
    return true;
  };
  return run_transfer(files_, transfer_, context_, s, profile, next_entry);
}

Failure Worker::transfer(const PlatformProfile& profile) {
  Failure failure = run_entries(profile);
  // What the engine's buffers and the plan hold is the worker's alone: let go here, on the
  // worker's thread, rather than when the run's figures are read.
  plan_.release();
  transfer_.buffers.release();
  return failure;
}

}  // namespace kolvane

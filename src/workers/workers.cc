#include "workers/workers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "engine/positioned_sides.h"
#include "plan/digits.h"
#include "platform/signals.h"
#include "run/exit_status.h"
#include "workers/worker.h"

namespace kolvane {
namespace {

// How often the waiting thread looks for a status request while the workers run.
constexpr auto kStatusPoll = std::chrono::milliseconds(20);

// The blocks a single copy moves: count=, or as many as the measured input holds, the last one
// perhaps partial. Absent when neither is known (an empty input): one worker copies it all.
std::optional<std::uint64_t> copy_blocks(const RunFiles& files, const RunShape& shape,
                                         const Settings& s) {
  if (shape.count_given)
    return s.max_records == 0 ? std::nullopt : std::optional<std::uint64_t>(s.max_records);
  if (files.input_limit == kNoLimit || files.input_limit == 0)
    return std::nullopt;
  return (files.input_limit + s.input_blocksize - 1) / s.input_blocksize;
}

// What every worker thread and the waiting thread share, and why each is safe:
// - `failed`: set once by the first worker that fails, read by every worker after each I/O;
//   an atomic, and nothing else is published through it.
// - `wanted`: the number of the latest request for figures; an atomic each worker compares
//   with the last it answered, after each I/O.
// - everything else below (each worker's published figures, its phase, the first failure)
//   only under `mutex`, which the workers take once per request and once at their end.
class Shared;

enum class Phase : std::uint8_t { setting_up, transferring, done };

// A worker's answers, and its control's link to the run.
class Link final : public RunLink {
 public:
  explicit Link(Shared& shared) : shared_(shared) {}
  bool after_io(const RecordTotals& totals, const Meter& meter) override;
  bool stopping() const override;
  void publish(const RecordTotals& totals, const Meter& meter, Phase phase);

  // Under the shared mutex.
  Phase phase = Phase::setting_up;
  std::uint64_t answered = 0;
  RecordTotals totals;
  std::optional<Meter> meter;

 private:
  Shared& shared_;
  std::uint64_t seen_ = 0;  // the worker's own
};

class Shared {
 public:
  std::atomic<bool> failed{false};
  std::atomic<std::uint64_t> wanted{0};
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<Failure> first_failure;
  std::uint32_t running = 0;
  std::uint32_t preparing = 0;
  std::optional<std::uint64_t> start_ns;

  // Once every worker has its plan: one start for all, so that runtime= ends every worker at
  // the same time and their per-second counters count from the same second.
  std::uint64_t start_together(const Clock& clock) {
    std::unique_lock<std::mutex> lock(mutex);
    if (--preparing == 0) {
      start_ns = clock.now_ns();
      changed.notify_all();
    } else {
      changed.wait(lock, [&] { return start_ns.has_value(); });
    }
    return *start_ns;
  }
};

bool Link::after_io(const RecordTotals& t, const Meter& m) {
  const std::uint64_t wanted = shared_.wanted.load(std::memory_order_acquire);
  if (wanted != seen_)
    publish(t, m, Phase::transferring);
  return shared_.failed.load(std::memory_order_relaxed);
}

bool Link::stopping() const {
  return shared_.failed.load(std::memory_order_relaxed);
}

void Link::publish(const RecordTotals& t, const Meter& m, Phase now) {
  {
    const std::lock_guard<std::mutex> lock(shared_.mutex);
    seen_ = shared_.wanted.load(std::memory_order_relaxed);
    answered = seen_;
    phase = now;
    totals = t;
    meter.emplace();
    meter->add(m);
  }
  shared_.changed.notify_all();
}

struct Slot {
  std::unique_ptr<Worker> worker;
  std::unique_ptr<Link> link;
  std::thread thread;
};

// The whole so far, once every transferring worker has answered the latest request; a worker
// that has not begun its transfer has nothing to add yet.
void whole_so_far(Shared& shared, std::vector<Slot>& slots, RecordTotals& totals, Meter& meter) {
  std::unique_lock<std::mutex> lock(shared.mutex);
  const std::uint64_t wanted = shared.wanted.load(std::memory_order_relaxed) + 1;
  shared.wanted.store(wanted, std::memory_order_release);
  shared.changed.wait(lock, [&] {
    return std::all_of(slots.begin(), slots.end(), [&](const Slot& s) {
      return s.link == nullptr || s.link->phase != Phase::transferring ||
             s.link->answered == wanted;
    });
  });
  for (const Slot& s : slots) {
    if (s.link == nullptr || !s.link->meter)
      continue;
    totals.add(s.link->totals);
    meter.add(*s.link->meter);
  }
}

// The words and calibration of worker w.
std::optional<WorkerSetup> share_out(std::uint32_t w, const RunFiles& files,
                                     const Calibration& calibration, const RunShape& shape,
                                     const Settings& s, std::optional<std::uint64_t> blocks,
                                     Failure& refusal) {
  WorkerSetup setup;
  setup.index = w;
  setup.count = s.workers;
  setup.words = s;
  setup.words.workers = 1;
  setup.shape = shape;
  setup.calibration = calibration;
  setup.first_number = w + 1;
  // A target shared by several ranks is cut for every rank's workers at once: rank r's worker w
  // keeps to part r x workers + w, so that no two processes write the same block.
  const RunPart& part = shape.part;
  const std::uint32_t parts = part.shared ? part.ranks * s.workers : s.workers;
  const std::uint32_t own_part = part.shared ? part.rank * s.workers + w : w;
  if (!shape.repeats()) {
    setup.run_words = &s;
    setup.run_shape = &shape;
    if (!blocks)
      return w == 0 ? std::optional<WorkerSetup>(setup) : std::nullopt;
    setup.blocks = blocks_of(own_part, parts, *blocks);
    if (setup.blocks.size() == 0)
      return std::nullopt;
    setup.split_copy = true;
    setup.shape.count_given = true;
    setup.words.max_records = setup.blocks.size();
    setup.words.skip_records += setup.blocks.first;
    setup.words.seek_records += setup.blocks.first;
    setup.first_number = 1;
    return setup;
  }
  setup.shape.seed = worker_seed(shape.seed, 0, s.workers, w);
  setup.words.seed = setup.shape.seed;
  setup.words.seed_given = true;
  if (shape.iterations_given) {
    setup.words.num_iterations = iterations_of(w, s.workers, s.num_iterations);
    if (setup.words.num_iterations == 0)
      return std::nullopt;
  }
  // Workers that stamp or check keep to parts of the output of their own: no block is written
  // by two of them, and a check with the same words reads each where its writer put it.
  if ((s.stamped || s.verify != kVerifyOff) && files.apply_seek && !shape.ends.null_sink()) {
    const std::uint64_t span = s.max_records * std::max(s.input_blocksize, s.output_blocksize);
    const std::optional<StartRange> range = start_range_of(
        own_part, parts,
        {join_digits(calibration.output_fixed), join_digits(calibration.output_range)}, span,
        s.output_blocksize);
    if (!range) {
      refusal = too_small_for_workers(parts);
      return std::nullopt;
    }
    setup.calibration.output_fixed = split_digits(static_cast<std::int64_t>(range->fixed));
    setup.calibration.output_range = split_digits(static_cast<std::int64_t>(range->range));
  }
  return setup;
}

}  // namespace

bool runs_workers(const RunShape& shape, const Settings& s) {
  return s.workers > 1 || shape.part.shares_target();
}

Failure check_workers(const RunFiles& files, const RunShape& shape, const Settings& s) {
  if (!runs_workers(shape, s))
    return {};
  // The refusal names the word that asked for the sharing.
  const char* word = s.workers > 1 ? "workers" : "shared";
  const std::uint32_t value = s.workers > 1 ? s.workers : 1;
  Failure failure = check_positioned_sides(files, shape, s, word, value);
  if (failure.failed())
    return failure;
  return check_positioned_shape(shape, s, word, value);
}

Failure run_workers(const RunFiles& files, const Calibration& calibration, RunContext& run,
                    TransferState& transfer, const Settings& s, const PlatformProfile& profile,
                    const Clock& clock, WorkersOutcome& outcome) {
  Shared shared;
  std::vector<Slot> slots(s.workers);
  const std::optional<std::uint64_t> blocks = copy_blocks(files, run.shape, s);
  Failure refused;
  for (std::uint32_t w = 0; w < s.workers; ++w) {
    std::optional<WorkerSetup> setup =
        share_out(w, files, calibration, run.shape, s, blocks, refused);
    if (refused.failed())
      return refused;
    if (!setup)
      continue;
    Slot& slot = slots[w];
    slot.worker = std::make_unique<Worker>(*setup, files);
    slot.link = std::make_unique<Link>(shared);
    RunContext& context = slot.worker->context();
    context.use_clock(clock);
    context.meter.time_directions(run.meter.timed(IoDirection::read),
                                  run.meter.timed(IoDirection::write));
    // One schedule for the run: each I/O takes the next due time, whichever worker has room.
    if (run.meter.schedule() != nullptr)
      context.meter.pace(*run.meter.schedule(), context.control, run.meter.paced(IoDirection::read),
                         run.meter.paced(IoDirection::write));
    if (run.meter.series() != nullptr)
      context.meter.keep_series(run.meter.series()->interval_ms());
    context.control.arm(s);
    context.control.link_to(*slot.link);
    context.control.halt_on(run.control.halt_flag());
  }
  // Counted before any thread starts: the first to end may count itself out at once.
  shared.running = static_cast<std::uint32_t>(
      std::count_if(slots.begin(), slots.end(), [](const Slot& s) { return s.worker != nullptr; }));
  shared.preparing = shared.running;
  const std::uint64_t launched_ns = clock.now_ns();
  for (Slot& slot : slots) {
    if (slot.worker == nullptr)
      continue;
    slot.thread = std::thread([&shared, &slot, &profile, &clock] {
      Worker& worker = *slot.worker;
      Failure failure = worker.prepare(profile);
      const std::uint64_t start_ns = shared.start_together(clock);
      worker.context().control.start_at(start_ns);
      worker.context().meter.count_seconds_from(start_ns);
      // Until its transfer begins a worker answers no request: it has nothing to add yet.
      {
        const std::lock_guard<std::mutex> lock(shared.mutex);
        slot.link->phase = Phase::transferring;
      }
      if (!failure.failed())
        failure = worker.transfer(profile);
      slot.link->publish(worker.totals(), worker.context().meter, Phase::done);
      {
        const std::lock_guard<std::mutex> lock(shared.mutex);
        if (failure.failed() && !shared.first_failure) {
          shared.first_failure = std::move(failure);
          shared.failed.store(true, std::memory_order_relaxed);
        }
        --shared.running;
      }
      shared.changed.notify_all();
    });
  }

  // The waiting thread answers status requests and draws progress lines with the whole so far.
  MeterListener* const progress = run.meter.listener();
  const std::uint64_t interval = run.meter.listener_interval_ns();
  std::uint64_t next_tick = launched_ns + interval;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(shared.mutex);
      if (shared.changed.wait_for(lock, kStatusPoll, [&] { return shared.running == 0; }))
        break;
    }
    const bool status = take_status_request();
    const std::uint64_t now = clock.now_ns();
    const bool tick = progress != nullptr && now >= next_tick;
    if (!status && !tick)
      continue;
    RecordTotals totals;
    Meter meter;
    whole_so_far(shared, slots, totals, meter);
    if (status)
      run.control.answer_status(totals, meter);
    if (tick && meter.origin_ns() != 0) {
      progress->tick(meter, now);
      next_tick = now + interval;
    }
  }
  for (Slot& slot : slots) {
    if (slot.thread.joinable())
      slot.thread.join();
  }

  // The whole: every worker's meter; the records of every worker, or, for a split copy, those of
  // the blocks copied in order from its first.
  std::vector<BlockRange> ranges;
  std::vector<std::uint64_t> done;
  for (Slot& slot : slots) {
    if (slot.worker == nullptr)
      continue;
    Worker& worker = *slot.worker;
    run.meter.add(worker.context().meter);
    ranges.push_back(worker.setup().blocks);
    done.push_back(worker.blocks_done());
  }
  const bool split_copy = !run.shape.repeats() && blocks.has_value();
  const SplitCopyEnd end = split_copy ? split_copy_end(ranges, done) : SplitCopyEnd{};
  std::uint32_t counted = 0;
  for (std::uint32_t w = 0; w < s.workers; ++w) {
    WorkerFigures& figures = outcome.workers.emplace_back();
    figures.meter = std::make_unique<Meter>();
    figures.seed =
        run.shape.repeats() ? worker_seed(run.shape.seed, 0, s.workers, w) : run.shape.seed;
    // A worker left without a share has nothing to add.
    if (slots[w].worker == nullptr)
      continue;
    Worker& worker = *slots[w].worker;
    if (!split_copy || counted <= end.last_counted)
      transfer.totals.add(worker.totals());
    ++counted;
    figures.totals = worker.totals();
    figures.meter->add(worker.context().meter);
  }
  outcome.copied_beyond = end.beyond;
  return shared.first_failure ? std::move(*shared.first_failure) : Failure{};
}

}  // namespace kolvane

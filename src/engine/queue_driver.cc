#include "engine/queue_driver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "run/console.h"
#include "run/exit_status.h"
#include "run/failures.h"

namespace kolvane {
namespace {

std::uint64_t aligned_up(std::uint64_t n) {
  return (n + kBufferAlignment - 1) / kBufferAlignment * kBufferAlignment;
}

}  // namespace

QueueDriver::QueueDriver(const RunFiles& run_files, TransferState& transfer_state, RunContext& run,
                         const Settings& settings)
    : files(run_files),
      transfer(transfer_state),
      run_context(run),
      s(settings),
      depth(settings.io_depth),
      ibs(settings.input_blocksize),
      obs(settings.output_blocksize),
      input(run_files.input.get()),
      output(run_files.output.get()),
      ends(run.shape.ends),
      out_direct(settings.w_dio != 0),
      check(run.check),
      stamps(check != nullptr && check->stamps()),
      check_only(check != nullptr && check->check_only()),
      reads_back(check != nullptr && check->reads_back()) {}

Failure QueueDriver::obtain_buffers() {
  const std::uint64_t per_slot =
      aligned_up(ibs) + aligned_up(obs) + (reads_back ? aligned_up(obs) : 0);
  if (per_slot >= ibs && per_slot <= UINT64_MAX / depth)
    memory_.reset(alloc_aligned(per_slot * depth));
  if (memory_.get() == nullptr)
    return buffer_failure();
  memory_size_ = per_slot * depth;
  // The zero source's blocks are its slots' input buffers, zero-filled once.
  if (ends.zero_source())
    std::memset(memory_.get(), 0, per_slot * depth);
  slots_.resize(depth);
  for (std::uint32_t i = 0; i < depth; ++i) {
    slots_[i].in = memory_.get() + per_slot * i;
    slots_[i].out = slots_[i].in + aligned_up(ibs);
    slots_[i].back = slots_[i].out + aligned_up(obs);
  }
  return {};
}

Failure QueueDriver::open_queue(bool in_direct) {
  IoQueueSetup setup;
  setup.depth = depth;
  // mix=: the zero source leaves the input's place to the target's reader.
  if (!ends.zero_source() || s.mix_given)
    setup.files.push_back({input, IoDirection::read, in_direct});
  if (!ends.null_sink() && !check_only)
    setup.files.push_back({output, IoDirection::write, out_direct});
  if (check_only || reads_back)
    setup.files.push_back({check->reader(), IoDirection::read, check->direct()});
  setup.regions.push_back({memory_.get(), memory_size_});
  setup.spin = s.poll != 0;
  setup.kernel_thread = s.poll == 2;
  std::string error;
  queue_ = open_io_queue(setup, error);
  if (queue_ == nullptr)
    return failure_text(kExitOpenOrPosition, std::move(error));
  return {};
}

Failure QueueDriver::run(QueueJobs& jobs) {
  jobs_ = &jobs;
  make_progress(jobs);
  while (queue_ != nullptr && (in_flight_ != 0 || !parked_.empty())) {
    hand_over_due();
    if (parked_.empty())
      reap_batch(jobs, true);
    else
      wait_for_due(jobs);
    if (!failed())
      make_progress(jobs);
  }
  take_back_records();
  jobs_ = nullptr;
  return failure_;
}

void QueueDriver::hand_over_due() {
  RateSchedule* schedule = run_context.meter.schedule();
  while (!parked_.empty()) {
    const Parked p = parked_.front();
    Slot& t = slots_[p.slot];
    if (stopping_ || failed() || queue_ == nullptr) {
      // Never handed over: the job ends here, as one whose I/O was refused.
      parked_.pop_front();
      t.io.wait = Wait::nothing;
      release_if_idle(t);
      continue;
    }
    const std::uint64_t now = run_context.meter.clock().now_ns();
    std::uint64_t due = 0;
    if (!schedule->take_if_due(now, due))
      return;
    parked_.pop_front();
    t.io.began = run_context.meter.begin_due(due, p.ready_ns);
    submit_io(t, p.direction);
  }
}

void QueueDriver::wait_for_due(QueueJobs& jobs) {
  if (in_flight_ != 0) {
    reap_batch(jobs, false);
    return;
  }
  const std::uint64_t now = run_context.meter.clock().now_ns();
  const std::uint64_t due = run_context.meter.schedule()->next(now);
  if (due > now && !run_context.control.wait_until(due))
    stopping_ = true;
}

Failure QueueDriver::open() {
  Failure failure = obtain_buffers();
  if (failure.failed())
    return failure;
  return open_queue(s.r_dio != 0);
}

void QueueDriver::make_progress(QueueJobs& jobs) {
  for (bool changed = true; changed && !failed();) {
    changed = false;
    for (Slot& t : slots_) {
      if (t.busy)
        continue;
      if (stopping_ || failed() || !jobs.start(t))
        break;
      release_if_idle(t);
      changed = true;
    }
    if (jobs.settle())
      changed = true;
  }
}

void QueueDriver::reap_batch(QueueJobs& jobs, bool wait) {
  batch_timed_[0] = batch_timed_[1] = false;
  reaped_.clear();
  if (!queue_->reap(reaped_, wait)) {
    queue_lost();
    return;
  }
  // A failure reaped is seen before the rest of its batch, so that nothing the others would
  // start is handed over after it. What completes after a failure still counts, as what
  // landed; nothing new is queued then (queue_io refuses).
  std::stable_partition(reaped_.begin(), reaped_.end(),
                        [](const IoCompletion& c) { return c.result < 0; });
  for (const IoCompletion& c : reaped_) {
    --in_flight_;
    Slot& t = slots_[c.tag];
    complete(jobs, t, c);
    release_if_idle(t);
  }
  // Blocks read with or before a failure still count as records in, in block order; nothing
  // more is written, and every job without an I/O in flight ends.
  jobs.settle();
  if (failed())
    for (Slot& t : slots_)
      if (t.io.wait == Wait::nothing)
        t.busy = false;
}

void QueueDriver::count_record(const PlanOrder& at, std::uint64_t RecordTotals::*field) {
  // Only a run that checks can find a bad block (stamping alone writes and never reads).
  if (!reads_back && !check_only) {
    ++(transfer.totals.*field);
    return;
  }
  // Past the first bad block known so far, nothing counts; what counted before a bad block
  // was found earlier in plan order is taken back at the end.
  if (!check->counts(at))
    return;
  ++(transfer.totals.*field);
  ++(unit_records_[at.entry].*field);
  // What the units before every one still running counted stays: a bad block can only be
  // found in a unit still running.
  if (unit_records_.size() > 4 * std::size_t{depth}) {
    std::uint64_t oldest = at.entry;
    for (const Slot& other : slots_)
      if (other.busy)
        oldest = std::min(oldest, other.unit);
    unit_records_.erase(unit_records_.begin(), unit_records_.lower_bound(oldest));
  }
}

void QueueDriver::take_back_records() {
  if (check == nullptr || !check->found_bad())
    return;
  RecordTotals& totals = transfer.totals;
  for (auto it = unit_records_.upper_bound(check->first_bad().entry); it != unit_records_.end();
       ++it) {
    totals.r_full_total -= it->second.r_full_total;
    totals.r_partial_total -= it->second.r_partial_total;
    totals.w_full_total -= it->second.w_full_total;
    totals.w_partial_total -= it->second.w_partial_total;
  }
}

// Completions.

void QueueDriver::complete(QueueJobs& jobs, Slot& t, const IoCompletion& c) {
  const Wait was = t.io.wait;
  t.io.wait = Wait::nothing;
  if (c.result < 0) {
    io_failure(t.io.file, was == Wait::write ? IoDirection::write : IoDirection::read,
               c.text.c_str());
    return;
  }
  const auto moved = static_cast<std::uint64_t>(c.result);
  if (was == Wait::check) {
    // A bad block ends its unit (halted); what that means for the others is settled() 's.
    const WrittenBlock& w = t.written;
    check->judge_block(w.order, w.data, w.length, t.back, moved, w.offset);
    jobs.block_done(t);
    return;
  }
  if (was == Wait::read) {
    jobs.read_completed(t, moved);
    return;
  }
  if (moved == 0) {
    // A write that takes nothing has no error of its own: the device is full.
    io_failure(output, IoDirection::write, (std::string(std::strerror(ENOSPC)) + "\n").c_str());
    return;
  }
  if (moved < t.io.length) {
    // The rest of a short write goes out where it ended, as the synchronous copy goes on.
    t.io.offset += moved;
    t.io.data += moved;
    t.io.length -= moved;
    queue_io(t, IoDirection::write, Wait::nothing, false);
    return;
  }
  completed_write(jobs, t);
}

void QueueDriver::completed_write(QueueJobs& jobs, Slot& t) {
  // The whole block's bytes and time, however many pieces it went out in.
  run_context.meter.end(IoDirection::write, t.io.began, t.written.length);
  jobs.count_write(t, t.written.partial);
  if (reads_back && !failed()) {
    issue_io(t, IoDirection::read, check->reader(), t.back, check->read_length(t.written.length),
             t.written.offset, Wait::check);
    return;
  }
  jobs.block_done(t);
}

void QueueDriver::check_block(PlanOrder at, std::uint64_t got, const unsigned char* read,
                              std::uint64_t offset) {
  // Nothing read is a block never written: the file ends before it.
  if (got > 0)
    count_record(at, got < obs ? &RecordTotals::r_partial_total : &RecordTotals::r_full_total);
  check->judge_block(at, nullptr, obs, read, got, offset);
}

// The I/Os.

IoStart QueueDriver::batch_clock(IoDirection d) {
  const int i = d == IoDirection::read ? 0 : 1;
  if (!batch_timed_[i]) {
    batch_began_[i] = run_context.meter.begin(d);
    batch_timed_[i] = true;
  }
  return batch_began_[i];
}

bool QueueDriver::issue_io(Slot& t, IoDirection d, FileHandle file, unsigned char* buffer,
                           std::uint64_t length, std::uint64_t offset, Wait wait) {
  t.io.file = file;
  t.io.offset = offset;
  t.io.length = length;
  t.io.data = buffer;
  return queue_io(t, d, wait);
}

bool QueueDriver::issue_write(Slot& t, const unsigned char* data, std::uint64_t n,
                              std::uint64_t offset, PlanOrder at) {
  if (failed())
    return false;
  // The zero source writes whole input blocks, counted full whatever obs is.
  const bool partial = n < obs && !ends.zero_source();
  t.written = WrittenBlock{data, n, offset, partial, at};
  if (ends.null_sink()) {
    run_context.meter.end(IoDirection::write, run_context.meter.begin(IoDirection::write), n);
    jobs_->count_write(t, partial);
    return false;
  }
  t.io.file = output;
  t.io.offset = offset;
  t.io.length = n;
  t.io.data = data;
  if (partial && out_direct) {
    // Devices refuse direct transfers of odd lengths: the tail goes out past the queue, the
    // way the synchronous copy writes it.
    const IoStart began = run_context.meter.begin(IoDirection::write);
    if (!write_block_at(output, data, n, offset, true)) {
      fail(write_failure(output_name(s)));
      return false;
    }
    run_context.meter.end(IoDirection::write, began, n);
    jobs_->count_write(t, true);
    if (reads_back)
      read_back_now(t);
    return false;
  }
  return queue_io(t, IoDirection::write);
}

void QueueDriver::read_back_now(Slot& t) {
  const WrittenBlock& w = t.written;
  const std::int64_t got =
      read_block_at(check->reader(), t.back, check->read_length(w.length), w.offset);
  if (got < 0) {
    fail(read_failure(output_name(s)));
    return;
  }
  check->judge_block(w.order, w.data, w.length, t.back, static_cast<std::uint64_t>(got), w.offset);
}

bool QueueDriver::queue_io(Slot& t, IoDirection d, Wait wait, bool fresh) {
  if (failed())
    return false;
  t.io.wait = wait != Wait::nothing ? wait : d == IoDirection::read ? Wait::read : Wait::write;
  if (!fresh)
    return submit_io(t, d);
  // rate=: a scheduled I/O (not the read-back of a block written) waits for its due time
  // parked, so that the completions of the others are reaped meanwhile.
  if (run_context.meter.paced(d) && wait != Wait::check) {
    parked_.push_back({index(t), d, run_context.meter.clock().now_ns()});
    hand_over_due();
    return t.io.wait != Wait::nothing;
  }
  t.io.began = batch_clock(d);
  return submit_io(t, d);
}

bool QueueDriver::submit_io(Slot& t, IoDirection d) {
  const auto tag = static_cast<std::uint64_t>(index(t));
  const FileHandle file = t.io.file;
  // Each slot has at most one I/O queued or in flight, so the queue always has room.
  if (queue_->queue(d, file, const_cast<unsigned char*>(t.io.data),
                    static_cast<std::uint32_t>(t.io.length), t.io.offset, tag)) {
    // Handed over at once, in a call of its own: a call that hands over many lets the block
    // layer hold them and start them together, and the device's queue then drains and
    // refills in batches (at depth 32 on a virtual disk: 0.82 of the rate of one I/O per
    // call). A completion's refill goes out before the rest of its batch is looked at.
    if (!queue_->submit()) {
      t.io.wait = Wait::nothing;
      queue_lost();
      return false;
    }
    ++in_flight_;
    return true;
  }
  t.io.wait = Wait::nothing;
  io_failure(file, d, "the I/O queue took no more\n");
  return false;
}

void QueueDriver::io_failure(FileHandle file, IoDirection d, const char* text) {
  if (failed())
    return;
  // Reading on past a bad block only looks for what it means: a failure ends that search, and
  // the check tells what it found.
  if (check_only && check->found_bad()) {
    fail({kExitVerify, {}});
    return;
  }
  // A read of the output (a block read back or checked) names the output.
  if (d == IoDirection::write)
    fail(write_failure(output_name(s), text));
  else if (file == input && !ends.zero_source())
    fail(read_failure(input_name(s), text));
  else
    fail(read_failure(output_name(s), text));
}

void QueueDriver::queue_lost() {
  fail(failure_text(kExitReadWrite, queue_->failure_text()));
  queue_.reset();
}

bool QueueDriver::after_io() {
  if (!stopping_ && run_context.after_io(transfer.totals))
    stopping_ = true;
  return stopping_;
}

}  // namespace kolvane

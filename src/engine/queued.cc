#include "engine/queued.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/console.h"
#include "engine/copy_rules.h"
#include "engine/exit_status.h"
#include "engine/failures.h"
#include "engine/verify.h"
#include "platform/io_queue.h"

namespace kolvane {
namespace {

static_assert(kMaxIoDepth == kMaxQueueDepth, "iodepth= and the queue agree on the deepest");

int refuse_depth(const char* why, std::uint32_t depth) {
  say(Channel::err, why, static_cast<unsigned>(depth));
  return kExitBadArgument;
}

// A side the queue can serve: a named regular file or device (the standard streams may share
// their offset with the shell, and a pipe has none), or the zero source / null sink.
bool positioned_input(const RunFiles& files, const Settings& s) {
  if (is_zero_source(s))
    return true;
  return s.input_file != nullptr && file_kind(files.input.get()) != FileKind::stream;
}

bool positioned_output(const Settings& s) {
  return is_null_sink(s) || (s.output_file != nullptr && !name_is_stream(s.output_file));
}

bool same_file_both_sides(const Settings& s) {
  if (is_zero_source(s) || is_null_sink(s) || s.input_file == nullptr || s.output_file == nullptr)
    return false;
  FileIdentity in;
  FileIdentity out;
  return identity_of_name(s.input_file, in) && identity_of_name(s.output_file, out) &&
         same_file(in, out);
}

constexpr std::uint64_t kMaxQueuedBlock = std::uint64_t{1} << 30;

std::uint64_t aligned_up(std::uint64_t n) {
  return (n + kBufferAlignment - 1) / kBufferAlignment * kBufferAlignment;
}

// What a slot is waiting for.
enum class Wait : std::uint8_t { nothing, read, write, check };

// One chain of I/Os: an entry of a repeated run, or one block of a single copy.
struct Slot {
  unsigned char* in = nullptr;    // ibs bytes
  unsigned char* out = nullptr;   // obs bytes
  unsigned char* back = nullptr;  // obs bytes, for a block read back (verify=1)
  bool busy = false;
  Wait wait = Wait::nothing;
  // The I/O in flight: when it was queued, where, how long and from which memory (the rest of
  // a short write is queued again).
  std::uint64_t began = 0;
  std::uint64_t io_offset = 0;
  std::uint64_t io_length = 0;
  const unsigned char* io_data = nullptr;
  FileHandle io_file = kNoFile;
  std::uint64_t io_block = 0;  // the whole block: its length, offset and bytes
  std::uint64_t block_offset = 0;
  const unsigned char* block_data = nullptr;
  bool io_partial = false;
  PlanOrder block_order{};   // the block's place in plan order, for its records and its check
  std::uint64_t blocks = 0;  // output blocks the entry has started

  // A repeated run's entry.
  std::uint64_t entry = 0;  // numbered from 1, the stamped blocks' iteration
  std::uint64_t in_offset = 0;
  std::uint64_t out_offset = 0;
  std::uint64_t out_end = 0;        // where the entry's output range ends, at most
  std::uint64_t zeros_left = 0;     // the zero source's blocks still to write
  std::optional<EntryCopy> copy{};  // a copy's reads, re-blocked into its output blocks
  bool read_moved = false;          // a read's bytes are moving out: the end checks follow them
  bool ending = false;  // no more reads: what the output buffer holds goes out, then the end

  // A single copy's block.
  std::uint64_t block = 0;
  std::optional<ReadTaken> read{};  // what the read gave, once it completed
};

class QueuedTransfer {
 public:
  QueuedTransfer(const RunFiles& files, TransferState& transfer, RunContext& run, const Settings& s)
      : files_(files),
        transfer_(transfer),
        run_(run),
        s_(s),
        depth_(s.io_depth),
        ibs_(s.input_blocksize),
        obs_(s.output_blocksize),
        input_(files.input.get()),
        output_(files.output.get()),
        zero_source_(is_zero_source(s)),
        discard_(is_null_sink(s)),
        out_direct_(s.w_dio != 0),
        per_block_(!run.shape.repeats()),
        rules_(copy_rules(s, run.shape, files.input_limit)),
        check_(run.check),
        stamps_(check_ != nullptr && check_->stamps()),
        check_only_(check_ != nullptr && check_->check_only()),
        reads_back_(check_ != nullptr && check_->reads_back()) {}

  int run(const EntrySource& next_entry);

 private:
  int obtain_buffers();
  int open_queue(bool in_direct);
  void set_up_blocks(const EntrySource& next_entry);
  // Starts and counts what can be, until nothing changes.
  void make_progress(const EntrySource& next_entry);
  void reap_batch();

  // A repeated run: each slot runs one entry's chain until it has an I/O in flight or ends.
  bool start_entry(Slot& t, const EntrySource& next_entry);
  void advance_entry(Slot& t);
  bool entry_ends_after_read(Slot& t);
  // After each of the zero source's blocks, written or taken by the null sink.
  void zero_block_done(Slot& t);

  // A single copy: blocks start in order, complete in any order, count in order.
  bool start_block(Slot& t);
  bool commit_blocks();
  void commit_block(Slot& t);
  // A single copy's write that completed whole: the records out count the blocks landed
  // without a gap from the first one, as a copy one block at a time leaves them.
  void landed(std::uint64_t block, bool partial);

  // verify=1: an entry whose output range overlaps one still running would have its blocks
  // overwritten before they are read back; it waits for the other.
  bool overlaps_running(const PlanEntry& entry) const;
  // Past the last byte an entry whose output starts at `begin` may write: an entry writes
  // what it reads, count= input blocks at most (the zero source's blocks are input blocks).
  std::uint64_t entry_end(std::uint64_t begin) const {
    const std::uint64_t length =
        s_.max_records > UINT64_MAX / ibs_ ? UINT64_MAX : ibs_ * s_.max_records;
    return UINT64_MAX - begin < length ? UINT64_MAX : begin + length;
  }
  // Once a bad block's meaning is settled: the entries after it in plan order, and it, stop;
  // those before it go on, so every block before the bad one is written and checked.
  bool halted(const Slot& t) const;
  // The records of the units (entries, or a single copy's blocks) after the first bad block
  // are taken back: a run of one I/O at a time never got to them.
  void count_record(const PlanOrder& at, std::uint64_t RecordTotals::*field);
  void take_back_records();

  void complete(Slot& t, const IoCompletion& c);
  void completed_read(Slot& t, std::int64_t result);
  void completed_write(Slot& t);
  void completed_check(Slot& t, std::int64_t result);
  // After a block is written (and read back and found good): the chain goes on.
  void block_done(Slot& t);
  // verify=2: the block read at `offset` counts and is checked.
  void check_block(const Slot& t, std::uint64_t got, const unsigned char* read,
                   std::uint64_t offset);
  // verify=1 for a block written past the queue: read back the same way.
  void read_back_now(Slot& t, const unsigned char* data, std::uint64_t n, std::uint64_t offset);

  // Queue one I/O of the slot: true when it is in flight. The null sink takes nothing, its
  // block counting at once; nothing is queued once the run has failed.
  bool issue_io(Slot& t, IoDirection d, FileHandle file, unsigned char* buffer,
                std::uint64_t length, std::uint64_t offset, Wait wait = Wait::nothing);
  bool issue_write(Slot& t, const unsigned char* data, std::uint64_t n, std::uint64_t offset);
  // `wait`: what the slot waits for, when not the plain read or write.
  bool queue_io(Slot& t, IoDirection d, Wait wait = Wait::nothing);
  void count_write(const Slot& t, bool partial);
  std::uint64_t batch_clock(IoDirection d);

  bool failed() const { return status_ != kExitSuccess; }
  void fail(int status) {
    if (!failed())
      status_ = status;
  }
  void io_failure(FileHandle file, IoDirection d, const char* text);
  // The queue itself failed (a hand-over or a wait): nothing more can be learnt from it, and
  // its end waits for what is in flight.
  void queue_lost();
  bool after_io();

  // The driver's files, where the queue's reads and writes go; the records and run flags the
  // driver reads afterwards (the queue keeps its memory in memory_, not the transfer's buffers).
  const RunFiles& files_;
  TransferState& transfer_;
  RunContext& run_;
  const Settings& s_;
  const std::uint32_t depth_;
  const std::uint64_t ibs_;
  const std::uint64_t obs_;
  const FileHandle input_;
  const FileHandle output_;
  const bool zero_source_;
  const bool discard_;
  const bool out_direct_;
  const bool per_block_;
  const CopyRules rules_;
  // Stamping and checking (pattern=, verify=): nullptr in a run without them.
  OutputCheck* const check_;
  const bool stamps_;
  const bool check_only_;  // verify=2: the output's blocks are read and checked, nothing written
  const bool reads_back_;  // verify=1: each block written is read back and checked

  // Declared before the queue, so the queue is gone (every I/O reaped) before the memory is.
  AlignedBuffer memory_;
  std::uint64_t memory_size_ = 0;
  std::unique_ptr<IoQueue> queue_;
  std::vector<Slot> slots_;
  std::vector<IoCompletion> reaped_;
  // One clock read serves all the I/Os a batch queues in a direction.
  std::uint64_t batch_began_[2] = {0, 0};
  bool batch_timed_[2] = {false, false};

  // I/Os handed to the system and not yet reaped. Each is handed over as it is queued, so
  // nothing queued waits for a later call, and nothing is queued once the run has failed.
  std::uint32_t in_flight_ = 0;

  int status_ = kExitSuccess;
  bool stopping_ = false;    // a stop request or the time limit: nothing new starts
  bool no_entries_ = false;  // the source has given its last entry
  std::uint64_t entries_started_ = 0;
  std::optional<PlanEntry> held_;  // drawn, waiting for an overlapping entry to end
  // Checking runs: the records each unit still running, or ended after one still running,
  // added; see take_back_records.
  std::map<std::uint64_t, RecordTotals> unit_records_;

  // A single copy.
  std::uint64_t base_in_ = 0;
  std::uint64_t base_out_ = 0;
  std::uint64_t next_block_ = 0;
  std::uint64_t blocks_ = UINT64_MAX;  // count= blocks, or as many as the input's size holds
  std::uint64_t commit_ = 0;           // the next block to count
  bool input_ended_ = false;           // a short or empty read was counted: nothing further
  std::vector<Slot*> window_;          // block % depth -> its slot until it is counted
  // The blocks from write_prefix_ on whose writes have landed: 0 not yet, 1 whole, 2 partial.
  std::deque<std::uint8_t> landed_;
  std::uint64_t write_prefix_ = 0;
};

int QueuedTransfer::obtain_buffers() {
  const std::uint64_t per_slot =
      aligned_up(ibs_) + aligned_up(obs_) + (reads_back_ ? aligned_up(obs_) : 0);
  if (per_slot >= ibs_ && per_slot <= UINT64_MAX / depth_)
    memory_.reset(alloc_aligned(per_slot * depth_));
  if (memory_.get() == nullptr) {
    say(Channel::err, "Error allocating aligned memory\n");
    return kExitNoMemory;
  }
  memory_size_ = per_slot * depth_;
  // The zero source's blocks are its slots' input buffers, zero-filled once.
  if (zero_source_)
    std::memset(memory_.get(), 0, per_slot * depth_);
  slots_.resize(depth_);
  for (std::uint32_t i = 0; i < depth_; ++i) {
    slots_[i].in = memory_.get() + per_slot * i;
    slots_[i].out = slots_[i].in + aligned_up(ibs_);
    slots_[i].back = slots_[i].out + aligned_up(obs_);
  }
  return kExitSuccess;
}

int QueuedTransfer::open_queue(bool in_direct) {
  IoQueueSetup setup;
  setup.depth = depth_;
  if (!zero_source_)
    setup.files.push_back({input_, IoDirection::read, in_direct});
  if (!discard_ && !check_only_)
    setup.files.push_back({output_, IoDirection::write, out_direct_});
  if (check_only_ || reads_back_)
    setup.files.push_back({check_->reader(), IoDirection::read, check_->direct()});
  setup.regions.push_back({memory_.get(), memory_size_});
  setup.spin = s_.poll != 0;
  setup.kernel_thread = s_.poll == 2;
  std::string error;
  queue_ = open_io_queue(setup, error);
  if (queue_ == nullptr) {
    say(Channel::err, "%s", error.c_str());
    return kExitOpenOrPosition;
  }
  return kExitSuccess;
}

void QueuedTransfer::set_up_blocks(const EntrySource& next_entry) {
  window_.assign(depth_, nullptr);
  blocks_ = rules_.copy_reads();
  PlanEntry entry{};
  if (!next_entry(entry)) {
    blocks_ = 0;
    return;
  }
  base_in_ = files_.apply_skip ? entry.skip_offset : 0;
  base_out_ = files_.apply_seek ? entry.seek_offset : 0;
}

int QueuedTransfer::run(const EntrySource& next_entry) {
  int status = obtain_buffers();
  if (status == kExitSuccess)
    status = open_queue(s_.r_dio != 0);
  if (status != kExitSuccess)
    return status;
  if (per_block_)
    set_up_blocks(next_entry);
  make_progress(next_entry);
  while (queue_ != nullptr && in_flight_ != 0) {
    reap_batch();
    if (!failed())
      make_progress(next_entry);
  }
  take_back_records();
  return status_;
}

void QueuedTransfer::make_progress(const EntrySource& next_entry) {
  for (bool changed = true; changed && !failed();) {
    changed = false;
    for (Slot& t : slots_) {
      if (t.busy)
        continue;
      if (stopping_ || failed() || !(per_block_ ? start_block(t) : start_entry(t, next_entry)))
        break;
      changed = true;
    }
    if (per_block_ && commit_blocks())
      changed = true;
  }
}

void QueuedTransfer::reap_batch() {
  batch_timed_[0] = batch_timed_[1] = false;
  reaped_.clear();
  if (!queue_->reap(reaped_, true)) {
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
    complete(slots_[c.tag], c);
  }
  // Blocks read with or before a failure still count as records in, in block order; nothing
  // more is written.
  if (per_block_)
    commit_blocks();
  if (failed())
    for (Slot& t : slots_)
      if (t.wait == Wait::nothing)
        t.busy = false;
}

// A repeated run.

bool QueuedTransfer::overlaps_running(const PlanEntry& entry) const {
  const std::uint64_t begin = entry.seek_offset;
  const std::uint64_t end = entry_end(begin);
  return std::any_of(slots_.begin(), slots_.end(), [&](const Slot& t) {
    return t.busy && begin < t.out_end && t.block_offset < end;
  });
}

bool QueuedTransfer::start_entry(Slot& t, const EntrySource& next_entry) {
  if (check_ != nullptr && check_->settled())
    return false;
  PlanEntry entry{};
  if (held_) {
    entry = *held_;
  } else if (no_entries_ || !next_entry(entry)) {
    no_entries_ = true;
    return false;
  }
  // Entries start in plan order: one that must wait holds back those after it.
  held_.reset();
  if (reads_back_ && overlaps_running(entry)) {
    held_ = entry;
    return false;
  }
  t = Slot{t.in, t.out, t.back};
  t.busy = true;
  t.entry = ++entries_started_;
  t.in_offset = entry.skip_offset;
  t.out_offset = entry.seek_offset;
  // The range the entry may write, held until it ends: from its first block (block_offset,
  // which only grows) to past its last.
  t.block_offset = entry.seek_offset;
  t.out_end = entry_end(entry.seek_offset);
  t.zeros_left = s_.max_records;
  t.copy.emplace(rules_, t.out);
  t.ending = t.copy->copies_nothing();
  advance_entry(t);
  return true;
}

void QueuedTransfer::advance_entry(Slot& t) {
  while (!failed() && !halted(t)) {
    // Once the entry ends, the bytes its output buffer holds go out as a partial block.
    if (t.ending)
      t.copy->finish();
    if (const std::optional<OutputBlock> block = t.copy->next()) {
      const std::uint64_t offset = t.out_offset;
      t.out_offset += block->length;
      t.block_order = {t.entry, t.blocks++};
      if (issue_write(t, block->data, block->length, offset))
        return;
      continue;
    }
    if (t.read_moved) {
      t.read_moved = false;
      t.ending = entry_ends_after_read(t);
      continue;
    }
    if (t.ending || (zero_source_ && t.zeros_left == 0))
      break;
    if (check_only_) {
      t.block_order = {t.entry, t.blocks++};
      if (issue_io(t, IoDirection::read, check_->reader(), t.in, check_->read_length(obs_),
                   t.out_offset))
        return;
      continue;
    }
    if (zero_source_) {
      if (stamps_)
        check_->stamp(t.in, ibs_, t.out_offset, t.entry);
      t.block_order = {t.entry, t.blocks++};
      const std::uint64_t offset = t.out_offset;
      t.out_offset += ibs_;
      if (issue_write(t, t.in, ibs_, offset))
        return;
      zero_block_done(t);
      continue;
    }
    if (issue_io(t, IoDirection::read, input_, t.in, ibs_, t.in_offset))
      return;
  }
  t.busy = false;
}

void QueuedTransfer::zero_block_done(Slot& t) {
  count_record(t.block_order, &RecordTotals::r_full_total);
  --t.zeros_left;
  if (after_io())
    t.ending = true;
}

// The synchronous copy's checks after a read's bytes went out.
bool QueuedTransfer::entry_ends_after_read(Slot& t) {
  if (after_io())
    return true;
  return t.copy->ends_after_read(transfer_.end_of_input, transfer_.block_written);
}

// A single copy.

bool QueuedTransfer::start_block(Slot& t) {
  if (input_ended_ || next_block_ >= blocks_ || (check_ != nullptr && check_->settled()))
    return false;
  t = Slot{t.in, t.out, t.back};
  t.busy = true;
  t.block = next_block_++;
  // Each block of a single copy is a unit of its own, in block order.
  t.entry = t.block + 1;
  t.block_order = {t.entry, 0};
  window_[t.block % depth_] = &t;
  if (check_only_ || !zero_source_) {
    const bool issued =
        check_only_ ? issue_io(t, IoDirection::read, check_->reader(), t.in,
                               check_->read_length(obs_), base_out_ + t.block * obs_)
                    : issue_io(t, IoDirection::read, input_, t.in, ibs_, base_in_ + t.block * ibs_);
    if (!issued)
      t.busy = false;
    return true;
  }
  if (stamps_)
    check_->stamp(t.in, ibs_, base_out_ + t.block * obs_, 1);
  t.read = ReadTaken{ibs_, ReadRecord::full};
  return true;
}

bool QueuedTransfer::commit_blocks() {
  bool committed = false;
  while (commit_ < next_block_) {
    Slot& t = *window_[commit_ % depth_];
    if (!t.read)
      break;
    ++commit_;
    commit_block(t);
    committed = true;
  }
  return committed;
}

void QueuedTransfer::commit_block(Slot& t) {
  // Blocks read past the end of the input are not the copy's, nor those after a bad block
  // once what it means is settled.
  if (input_ended_ || halted(t)) {
    t.busy = false;
    return;
  }
  const std::uint64_t got = t.read->got;
  if (check_only_) {
    // In block order, as one at a time: the records stop at the first bad block, which counts.
    if (!failed())
      check_block(t, got, t.in, base_out_ + t.block * obs_);
    t.busy = false;
    after_io();
    return;
  }
  if (t.read->record == ReadRecord::past_eof || t.read->record == ReadRecord::end_of_input) {
    if (t.read->record == ReadRecord::past_eof)
      fail(past_eof(s_));
    input_ended_ = true;
    transfer_.end_of_input = true;
    t.busy = false;
    return;
  }
  const bool partial = t.read->record == ReadRecord::partial;
  count_record(t.block_order,
               partial ? &RecordTotals::r_partial_total : &RecordTotals::r_full_total);
  if (partial)
    input_ended_ = true;
  if (!issue_write(t, t.in, got, base_out_ + t.block * obs_))
    t.busy = false;
  after_io();
}

void QueuedTransfer::landed(std::uint64_t block, bool partial) {
  if (block < write_prefix_)
    return;
  const std::uint64_t at = block - write_prefix_;
  if (landed_.size() <= at)
    landed_.resize(at + 1, 0);
  landed_[at] = partial ? 2 : 1;
  while (!landed_.empty() && landed_.front() != 0) {
    count_record({write_prefix_ + 1, 0}, landed_.front() == 2 ? &RecordTotals::w_partial_total
                                                              : &RecordTotals::w_full_total);
    transfer_.block_written = true;
    landed_.pop_front();
    ++write_prefix_;
  }
}

bool QueuedTransfer::halted(const Slot& t) const {
  return check_ != nullptr && check_->settled() && t.entry >= check_->first_bad().entry;
}

void QueuedTransfer::count_record(const PlanOrder& at, std::uint64_t RecordTotals::*field) {
  // Only a run that checks can find a bad block (stamping alone writes and never reads).
  if (!reads_back_ && !check_only_) {
    ++(transfer_.totals.*field);
    return;
  }
  // Past the first bad block known so far, nothing counts; what counted before a bad block
  // was found earlier in plan order is taken back at the end.
  if (!check_->counts(at))
    return;
  ++(transfer_.totals.*field);
  ++(unit_records_[at.entry].*field);
  // What the units before every one still running counted stays: a bad block can only be
  // found in a unit still running.
  if (unit_records_.size() > 4 * std::size_t{depth_}) {
    std::uint64_t oldest = at.entry;
    for (const Slot& other : slots_)
      if (other.busy)
        oldest = std::min(oldest, other.entry);
    unit_records_.erase(unit_records_.begin(), unit_records_.lower_bound(oldest));
  }
}

void QueuedTransfer::take_back_records() {
  if (check_ == nullptr || !check_->found_bad())
    return;
  RecordTotals& totals = transfer_.totals;
  for (auto it = unit_records_.upper_bound(check_->first_bad().entry); it != unit_records_.end();
       ++it) {
    totals.r_full_total -= it->second.r_full_total;
    totals.r_partial_total -= it->second.r_partial_total;
    totals.w_full_total -= it->second.w_full_total;
    totals.w_partial_total -= it->second.w_partial_total;
  }
}

// Completions.

void QueuedTransfer::complete(Slot& t, const IoCompletion& c) {
  const Wait was = t.wait;
  t.wait = Wait::nothing;
  if (c.result < 0) {
    io_failure(t.io_file, was == Wait::write ? IoDirection::write : IoDirection::read,
               c.text.c_str());
    t.busy = false;
    return;
  }
  if (was == Wait::check) {
    completed_check(t, c.result);
    return;
  }
  if (was == Wait::read) {
    completed_read(t, c.result);
    return;
  }
  const auto moved = static_cast<std::uint64_t>(c.result);
  if (moved == 0) {
    // A write that takes nothing has no error of its own: the device is full.
    io_failure(output_, IoDirection::write, (std::string(std::strerror(ENOSPC)) + "\n").c_str());
    t.busy = false;
    return;
  }
  if (moved < t.io_length) {
    // The rest of a short write goes out where it ended, as the synchronous copy goes on.
    t.io_offset += moved;
    t.io_data += moved;
    t.io_length -= moved;
    if (!queue_io(t, IoDirection::write))
      t.busy = false;
    return;
  }
  completed_write(t);
}

void QueuedTransfer::check_block(const Slot& t, std::uint64_t got, const unsigned char* read,
                                 std::uint64_t offset) {
  // Nothing read is a block never written: the file ends before it.
  if (got > 0)
    count_record(t.block_order,
                 got < obs_ ? &RecordTotals::r_partial_total : &RecordTotals::r_full_total);
  check_->judge_block(t.block_order, nullptr, obs_, read, got, offset);
}

void QueuedTransfer::completed_check(Slot& t, std::int64_t result) {
  // A bad block ends its entry (halted); what that means for the others is settled() 's.
  check_->judge_block(t.block_order, t.block_data, t.io_block, t.back,
                      static_cast<std::uint64_t>(result), t.block_offset);
  block_done(t);
}

void QueuedTransfer::completed_read(Slot& t, std::int64_t result) {
  const auto got = static_cast<std::uint64_t>(result);
  if (check_only_ && !per_block_) {
    if (got > 0)
      run_.meter.end(IoDirection::read, t.began, got);
    const std::uint64_t offset = t.out_offset;
    t.out_offset += obs_;
    check_block(t, got, t.in, offset);
    if (--t.zeros_left == 0 || after_io())
      t.ending = true;
    advance_entry(t);
    return;
  }
  if (per_block_) {
    // A measured input is copied up to its size, however it grows meanwhile.
    t.read = take_read(got, ibs_, rules_.left_at(t.block), t.block == 0);
    if (t.read->got > 0)
      run_.meter.end(IoDirection::read, t.began, t.read->got);
    return;
  }
  const ReadTaken taken = t.copy->took(got, t.in);
  if (taken.record == ReadRecord::past_eof) {
    fail(past_eof(s_));
    t.busy = false;
    return;
  }
  if (taken.record == ReadRecord::end_of_input) {
    transfer_.end_of_input = true;
    t.ending = true;
    advance_entry(t);
    return;
  }
  run_.meter.end(IoDirection::read, t.began, taken.got);
  t.in_offset += taken.got;
  // A read counts with the output block it starts to fill.
  count_record({t.entry, t.blocks}, taken.record == ReadRecord::partial
                                        ? &RecordTotals::r_partial_total
                                        : &RecordTotals::r_full_total);
  t.read_moved = true;
  advance_entry(t);
}

void QueuedTransfer::completed_write(Slot& t) {
  // The whole block's bytes and time, however many pieces it went out in.
  run_.meter.end(IoDirection::write, t.began, t.io_block);
  count_write(t, t.io_partial);
  if (reads_back_ && !failed()) {
    if (!issue_io(t, IoDirection::read, check_->reader(), t.back, check_->read_length(t.io_block),
                  t.block_offset, Wait::check))
      t.busy = false;
    return;
  }
  block_done(t);
}

void QueuedTransfer::block_done(Slot& t) {
  if (per_block_) {
    t.busy = false;
    return;
  }
  if (zero_source_)
    zero_block_done(t);
  advance_entry(t);
}

// The I/Os.

std::uint64_t QueuedTransfer::batch_clock(IoDirection d) {
  const int i = d == IoDirection::read ? 0 : 1;
  if (!batch_timed_[i]) {
    batch_began_[i] = run_.meter.begin(d);
    batch_timed_[i] = true;
  }
  return batch_began_[i];
}

bool QueuedTransfer::issue_io(Slot& t, IoDirection d, FileHandle file, unsigned char* buffer,
                              std::uint64_t length, std::uint64_t offset, Wait wait) {
  t.io_file = file;
  t.io_offset = offset;
  t.io_length = length;
  t.io_data = buffer;
  return queue_io(t, d, wait);
}

bool QueuedTransfer::issue_write(Slot& t, const unsigned char* data, std::uint64_t n,
                                 std::uint64_t offset) {
  if (failed())
    return false;
  // The zero source writes whole input blocks, counted full whatever obs is.
  const bool partial = n < obs_ && !zero_source_;
  if (discard_) {
    run_.meter.end(IoDirection::write, run_.meter.begin(IoDirection::write), n);
    count_write(t, partial);
    return false;
  }
  t.io_file = output_;
  t.io_offset = offset;
  t.io_length = n;
  t.io_block = n;
  t.io_data = data;
  t.block_offset = offset;
  t.block_data = data;
  t.io_partial = partial;
  if (partial && out_direct_) {
    // Devices refuse direct transfers of odd lengths: the tail goes out past the queue, the
    // way the synchronous copy writes it.
    const std::uint64_t began = run_.meter.begin(IoDirection::write);
    if (!write_block_at(output_, data, n, offset, true)) {
      fail(write_failure(s_));
      return false;
    }
    run_.meter.end(IoDirection::write, began, n);
    count_write(t, true);
    if (reads_back_)
      read_back_now(t, data, n, offset);
    return false;
  }
  return queue_io(t, IoDirection::write);
}

void QueuedTransfer::read_back_now(Slot& t, const unsigned char* data, std::uint64_t n,
                                   std::uint64_t offset) {
  const FileHandle reader = check_->reader();
  const std::int64_t got = read_block_at(reader, t.back, check_->read_length(n), offset);
  if (got < 0) {
    say(Channel::err, "error reading '%s': ", output_name(s_));
    report_system_error();
    fail(kExitReadWrite);
    return;
  }
  check_->judge_block(t.block_order, data, n, t.back, static_cast<std::uint64_t>(got), offset);
}

bool QueuedTransfer::queue_io(Slot& t, IoDirection d, Wait wait) {
  if (failed())
    return false;
  t.wait = wait != Wait::nothing ? wait : d == IoDirection::read ? Wait::read : Wait::write;
  t.began = batch_clock(d);
  const auto tag = static_cast<std::uint64_t>(&t - slots_.data());
  const FileHandle file = t.io_file;
  // Each slot has at most one I/O queued or in flight, so the queue always has room.
  if (queue_->queue(d, file, const_cast<unsigned char*>(t.io_data),
                    static_cast<std::uint32_t>(t.io_length), t.io_offset, tag)) {
    // Handed over at once, in a call of its own: a call that hands over many lets the block
    // layer hold them and start them together, and the device's queue then drains and
    // refills in batches (at depth 32 on a virtual disk: 0.82 of the rate of one I/O per
    // call). A completion's refill goes out before the rest of its batch is looked at.
    if (!queue_->submit()) {
      queue_lost();
      return false;
    }
    ++in_flight_;
    return true;
  }
  t.wait = Wait::nothing;
  io_failure(file, d, "the I/O queue took no more\n");
  return false;
}

void QueuedTransfer::count_write(const Slot& t, bool partial) {
  if (per_block_) {
    landed(t.block, partial);
    return;
  }
  count_record(t.block_order,
               partial ? &RecordTotals::w_partial_total : &RecordTotals::w_full_total);
  transfer_.block_written = true;
}

void QueuedTransfer::io_failure(FileHandle file, IoDirection d, const char* text) {
  if (failed())
    return;
  // Reading on past a bad block only looks for what it means: a failure ends that search, and
  // the check tells what it found.
  if (check_only_ && check_->found_bad()) {
    fail(kExitVerify);
    return;
  }
  // A read of the output (a block read back or checked) names the output.
  if (d == IoDirection::write)
    say(Channel::err, "error writing to '%s': %s", output_name(s_), text);
  else if (file == input_ && !zero_source_)
    say(Channel::err, "error reading '%s': %s", input_name(s_), text);
  else
    say(Channel::err, "error reading '%s': %s", output_name(s_), text);
  fail(kExitReadWrite);
}

void QueuedTransfer::queue_lost() {
  say(Channel::err, "%s", queue_->failure_text().c_str());
  fail(kExitReadWrite);
  queue_.reset();
}

bool QueuedTransfer::after_io() {
  if (!stopping_ && run_.after_io(transfer_.totals))
    stopping_ = true;
  return stopping_;
}

}  // namespace

int check_io_depth(const RunFiles& files, const RunShape& shape, const Settings& s) {
  const std::uint32_t depth = s.io_depth;
  if (depth <= 1)
    return kExitSuccess;
  if (!positioned_input(files, s))
    return refuse_depth(
        "iodepth=%u needs an input the run can position: a file or device "
        "named by if=, or the zero source\n",
        depth);
  if (!positioned_output(s))
    return refuse_depth(
        "iodepth=%u needs an output the run can position: a file or device "
        "named by of=, or the null sink\n",
        depth);
  if (same_file_both_sides(s))
    return refuse_depth("iodepth=%u cannot read and write the same file\n", depth);
  // A queued transfer moves a block in one I/O, whose length the queue holds in 32 bits.
  if (s.input_blocksize > kMaxQueuedBlock || s.output_blocksize > kMaxQueuedBlock)
    return refuse_depth("iodepth=%u takes blocks of at most 1 GiB (ibs= and obs=)\n", depth);
  if (shape.repeats()) {
    // Entries that overlap must each position the output: one the run created or truncated
    // has its entries follow on from each other.
    if (!is_null_sink(s) && !is_notrunc(s))
      return refuse_depth(
          "iodepth=%u with iterations needs an existing output written in "
          "place (conv=notrunc) or the null sink\n",
          depth);
    return kExitSuccess;
  }
  if (s.input_blocksize != s.output_blocksize)
    return refuse_depth("iodepth=%u with a single copy needs ibs equal to obs\n", depth);
  return kExitSuccess;
}

int check_poll_words(const Settings& s, const PlatformProfile& profile) {
  if (s.poll == 0)
    return kExitSuccess;
  if (s.io_depth <= 1) {
    say(Channel::err, "poll=%u needs iodepth= above 1: one I/O at a time has no queue to poll\n",
        static_cast<unsigned>(s.poll));
    return kExitBadArgument;
  }
  if (s.poll == 2 && profile.no_kernel_submission != nullptr) {
    say(Channel::err, "%s", profile.no_kernel_submission);
    return kExitBadArgument;
  }
  return kExitSuccess;
}

int run_queued(const RunFiles& files, TransferState& transfer, RunContext& run, const Settings& s,
               const EntrySource& next_entry) {
  QueuedTransfer queued(files, transfer, run, s);
  return queued.run(next_entry);
}

}  // namespace kolvane

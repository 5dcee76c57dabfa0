// A repeated run at depth: each entry is one chain of I/Os in the order the synchronous copy
// makes them (read, then the output blocks its bytes fill; or the zero source's blocks; or,
// for verify=2, the blocks read and checked), and up to depth entries run at once.
#include <algorithm>
#include <optional>
#include <vector>

#include "engine/copy_rules.h"
#include "engine/queue_driver.h"
#include "run/failures.h"

namespace kolvane {
namespace {

// Where one entry's chain stands between its I/Os.
struct EntryChain {
  std::uint64_t in_offset = 0;
  std::uint64_t out_offset = 0;
  std::uint64_t out_end = 0;      // where the entry's output range ends, at most
  std::uint64_t blocks = 0;       // output blocks the entry has started
  PlanOrder at{};                 // the block in hand: its records and its check
  std::uint64_t zeros_left = 0;   // the zero source's blocks still to write
  std::optional<EntryCopy> copy;  // the entry's reads, re-blocked into its output blocks
  bool read_moved = false;        // a read's bytes are moving out: the end checks follow them
  bool mixed_read = false;        // mix=: the I/O in flight reads the target's block
  bool ending = false;  // no more reads: what the output buffer holds goes out, then the end
};

class QueuedEntries final : public QueueJobs {
 public:
  QueuedEntries(QueueDriver& driver, const EntrySource& next_entry)
      : d_(driver),
        next_entry_(next_entry),
        rules_(copy_rules(driver.s, driver.run_context.shape, driver.files.input_limit)),
        chains_(driver.depth) {}

  bool start(Slot& t) override;
  void read_completed(Slot& t, std::uint64_t got) override;
  void count_write(Slot& t, bool partial) override;
  void block_done(Slot& t) override;

 private:
  EntryChain& chain(const Slot& t) { return chains_[d_.index(t)]; }
  // Runs the entry's chain until it has an I/O in flight or ends (its slot is then free).
  void advance(Slot& t);
  // After each of the zero source's blocks, written or taken by the null sink.
  void zero_block_done(EntryChain& c);
  // mix=: after a read of the target's block.
  void mixed_read_done(Slot& t, std::uint64_t got);
  // verify=1: an entry whose output range overlaps one still running would have its blocks
  // overwritten before they are read back; it waits for the other.
  bool overlaps_running(const PlanEntry& entry) const;
  // Past the last byte an entry whose output starts at `begin` may write: an entry writes
  // what it reads, count= input blocks at most (the zero source's blocks are input blocks).
  std::uint64_t entry_end(std::uint64_t begin) const {
    const std::uint64_t max = d_.s.max_records;
    const std::uint64_t length = max > UINT64_MAX / d_.ibs ? UINT64_MAX : d_.ibs * max;
    return UINT64_MAX - begin < length ? UINT64_MAX : begin + length;
  }

  QueueDriver& d_;
  const EntrySource& next_entry_;
  const CopyRules rules_;
  std::vector<EntryChain> chains_;  // by slot
  bool no_entries_ = false;         // the source has given its last entry
  std::uint64_t entries_started_ = 0;
  std::optional<PlanEntry> held_;  // drawn, waiting for an overlapping entry to end
};

bool QueuedEntries::overlaps_running(const PlanEntry& entry) const {
  const std::uint64_t begin = entry.seek_offset;
  const std::uint64_t end = entry_end(begin);
  const std::vector<Slot>& slots = d_.slots();
  for (std::size_t i = 0; i < slots.size(); ++i)
    if (slots[i].busy && begin < chains_[i].out_end && slots[i].written.offset < end)
      return true;
  return false;
}

bool QueuedEntries::start(Slot& t) {
  if (d_.check != nullptr && d_.check->settled())
    return false;
  PlanEntry entry{};
  if (held_) {
    entry = *held_;
  } else if (no_entries_ || !next_entry_(entry)) {
    no_entries_ = true;
    return false;
  }
  // Entries start in plan order: one that must wait holds back those after it.
  held_.reset();
  // A read of a mixed run, as a block read back, must not meet a write still in flight.
  if ((d_.reads_back || d_.s.mix_given) && overlaps_running(entry)) {
    held_ = entry;
    return false;
  }
  // The entry's number, from 1, is the stamped blocks' iteration.
  t.take(++entries_started_);
  EntryChain& c = chain(t);
  c = EntryChain{};
  c.in_offset = entry.skip_offset;
  c.out_offset = entry.seek_offset;
  // The range the entry may write, held until it ends: from its first block (the written
  // block's offset, which only grows) to past its last.
  t.written.offset = entry.seek_offset;
  c.out_end = entry_end(entry.seek_offset);
  c.zeros_left = d_.s.max_records;
  c.copy.emplace(rules_, t.out);
  c.ending = c.copy->copies_nothing();
  advance(t);
  return true;
}

void QueuedEntries::advance(Slot& t) {
  EntryChain& c = chain(t);
  while (!d_.failed() && !d_.halted(t)) {
    // Once the entry ends, the bytes its output buffer holds go out as a partial block.
    if (c.ending)
      c.copy->finish();
    if (const std::optional<OutputBlock> block = c.copy->next()) {
      const std::uint64_t offset = c.out_offset;
      c.out_offset += block->length;
      c.at = {t.unit, c.blocks++};
      if (d_.issue_write(t, block->data, block->length, offset, c.at))
        return;
      continue;
    }
    if (c.read_moved) {
      // A read's bytes went out: a stop ends the entry there, and so do the copy's rules.
      c.read_moved = false;
      c.ending = d_.after_io() ||
                 c.copy->ends_after_read(d_.transfer.end_of_input, d_.transfer.block_written);
      continue;
    }
    if (c.ending || (d_.ends.zero_source() && c.zeros_left == 0))
      break;
    if (d_.check_only) {
      c.at = {t.unit, c.blocks++};
      if (d_.issue_io(t, IoDirection::read, d_.check->reader(), t.in, d_.check->read_length(d_.obs),
                      c.out_offset))
        return;
      continue;
    }
    if (d_.ends.zero_source() && d_.run_context.mix && d_.run_context.mix->reads()) {
      c.at = {t.unit, c.blocks++};
      c.mixed_read = true;
      if (d_.issue_io(t, IoDirection::read, d_.input, t.in, d_.ibs, c.out_offset))
        return;
      continue;
    }
    if (d_.ends.zero_source()) {
      if (d_.stamps)
        d_.check->stamp(t.in, d_.ibs, c.out_offset, t.unit);
      c.at = {t.unit, c.blocks++};
      const std::uint64_t offset = c.out_offset;
      c.out_offset += d_.ibs;
      if (d_.issue_write(t, t.in, d_.ibs, offset, c.at))
        return;
      zero_block_done(c);
      continue;
    }
    if (d_.issue_io(t, IoDirection::read, d_.input, t.in, d_.ibs, c.in_offset))
      return;
  }
}

void QueuedEntries::zero_block_done(EntryChain& c) {
  // A mixed run's records in are the target's blocks it read, not the zero source's.
  if (!d_.run_context.mix)
    d_.count_record(c.at, &RecordTotals::r_full_total);
  --c.zeros_left;
  if (d_.after_io())
    c.ending = true;
}

void QueuedEntries::mixed_read_done(Slot& t, std::uint64_t got) {
  EntryChain& c = chain(t);
  c.mixed_read = false;
  if (got > 0)
    d_.run_context.meter.end(IoDirection::read, t.io.began, got);
  d_.count_record(c.at,
                  got == d_.ibs ? &RecordTotals::r_full_total : &RecordTotals::r_partial_total);
  const std::uint64_t offset = c.out_offset;
  c.out_offset += d_.ibs;
  // A bad block halts its entry; the check tells it once the transfer has ended.
  if (d_.check != nullptr)
    static_cast<void>(d_.check->judge_mixed(c.at, t.in, got, d_.ibs, offset));
  if (--c.zeros_left == 0 || d_.after_io())
    c.ending = true;
  advance(t);
}

void QueuedEntries::read_completed(Slot& t, std::uint64_t got) {
  EntryChain& c = chain(t);
  if (c.mixed_read) {
    mixed_read_done(t, got);
    return;
  }
  Meter& meter = d_.run_context.meter;
  if (d_.check_only) {
    if (got > 0)
      meter.end(IoDirection::read, t.io.began, got);
    const std::uint64_t offset = c.out_offset;
    c.out_offset += d_.obs;
    d_.check_block(c.at, got, t.in, offset);
    if (--c.zeros_left == 0 || d_.after_io())
      c.ending = true;
    advance(t);
    return;
  }
  const ReadTaken taken = c.copy->took(got, t.in);
  if (taken.record == ReadRecord::past_eof) {
    d_.fail(past_eof(d_.s));
    return;
  }
  if (taken.record == ReadRecord::end_of_input) {
    d_.transfer.end_of_input = true;
    c.ending = true;
    advance(t);
    return;
  }
  meter.end(IoDirection::read, t.io.began, taken.got);
  c.in_offset += taken.got;
  // A read counts with the output block it starts to fill.
  d_.count_record({t.unit, c.blocks}, taken.record == ReadRecord::partial
                                          ? &RecordTotals::r_partial_total
                                          : &RecordTotals::r_full_total);
  c.read_moved = true;
  advance(t);
}

void QueuedEntries::count_write(Slot& t, bool partial) {
  d_.count_record(chain(t).at,
                  partial ? &RecordTotals::w_partial_total : &RecordTotals::w_full_total);
  d_.transfer.block_written = true;
}

void QueuedEntries::block_done(Slot& t) {
  if (d_.ends.zero_source())
    zero_block_done(chain(t));
  advance(t);
}

}  // namespace

Failure run_queued_entries(QueueDriver& driver, const EntrySource& next_entry) {
  QueuedEntries jobs(driver, next_entry);
  return driver.run(jobs);
}

}  // namespace kolvane

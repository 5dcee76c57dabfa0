// A single copy at depth (ibs = obs): the blocks are read ahead and written behind, each at
// its own offset; they start in order, complete in any order and count in order.
#include <deque>
#include <optional>
#include <vector>

#include "engine/copy_rules.h"
#include "engine/queue_driver.h"
#include "run/failures.h"

namespace kolvane {
namespace {

// One block of the copy: read (or stamped), then written once its turn to count comes.
struct CopyBlock {
  std::uint64_t block = 0;
  std::optional<ReadTaken> read;  // what the read gave, once it completed
  bool counted = false;           // its turn came: it is written, or it ends the copy
};

class QueuedCopy final : public QueueJobs {
 public:
  explicit QueuedCopy(QueueDriver& driver)
      : d_(driver),
        rules_(copy_rules(driver.s, driver.run_context.shape, driver.files.input_limit)),
        jobs_(driver.depth),
        window_(driver.depth, nullptr) {}

  // Where the copy starts, from the run's one entry, and how many blocks it reads at most.
  void set_up(const EntrySource& next_entry);

  bool start(Slot& t) override;
  void read_completed(Slot& t, std::uint64_t got) override;
  // A write that completed whole: the records out count the blocks landed without a gap from
  // the first one, as a copy one block at a time leaves them.
  void count_write(Slot& t, bool partial) override;
  void block_done(Slot& /*t*/) override {}
  bool settle() override;
  bool holds(const Slot& t) const override {
    const CopyBlock& b = jobs_[d_.index(t)];
    return b.read && !b.counted;
  }

 private:
  CopyBlock& job(const Slot& t) { return jobs_[d_.index(t)]; }
  // Each block of a single copy is a unit of its own, in block order.
  static PlanOrder order(const Slot& t) { return {t.unit, 0}; }
  void commit(Slot& t);

  QueueDriver& d_;
  const CopyRules rules_;
  std::vector<CopyBlock> jobs_;  // by slot
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

void QueuedCopy::set_up(const EntrySource& next_entry) {
  blocks_ = rules_.copy_reads();
  PlanEntry entry{};
  if (!next_entry(entry)) {
    blocks_ = 0;
    return;
  }
  base_in_ = d_.files.apply_skip ? entry.skip_offset : 0;
  base_out_ = d_.files.apply_seek ? entry.seek_offset : 0;
}

bool QueuedCopy::start(Slot& t) {
  if (input_ended_ || next_block_ >= blocks_ || (d_.check != nullptr && d_.check->settled()))
    return false;
  const std::uint64_t block = next_block_++;
  t.take(block + 1);
  job(t) = CopyBlock{block, std::nullopt};
  window_[block % d_.depth] = &t;
  if (d_.check_only) {
    d_.issue_io(t, IoDirection::read, d_.check->reader(), t.in, d_.check->read_length(d_.obs),
                base_out_ + block * d_.obs);
    return true;
  }
  if (!d_.ends.zero_source()) {
    d_.issue_io(t, IoDirection::read, d_.input, t.in, d_.ibs, base_in_ + block * d_.ibs);
    return true;
  }
  if (d_.stamps)
    d_.check->stamp(t.in, d_.ibs, base_out_ + block * d_.obs, 1);
  job(t).read = ReadTaken{d_.ibs, ReadRecord::full};
  return true;
}

void QueuedCopy::read_completed(Slot& t, std::uint64_t got) {
  CopyBlock& b = job(t);
  // A measured input is copied up to its size, however it grows meanwhile.
  b.read = take_read(got, d_.ibs, rules_.left_at(b.block), b.block == 0);
  if (b.read->got > 0)
    d_.run_context.meter.end(IoDirection::read, t.io.began, b.read->got);
}

bool QueuedCopy::settle() {
  bool committed = false;
  while (commit_ < next_block_) {
    Slot& t = *window_[commit_ % d_.depth];
    if (!job(t).read)
      break;
    ++commit_;
    job(t).counted = true;
    commit(t);
    d_.release_if_idle(t);
    committed = true;
  }
  return committed;
}

void QueuedCopy::commit(Slot& t) {
  // Blocks read past the end of the input are not the copy's, nor those after a bad block
  // once what it means is settled.
  if (input_ended_ || d_.halted(t))
    return;
  const CopyBlock& b = job(t);
  const ReadTaken read = *b.read;
  if (d_.check_only) {
    // In block order, as one at a time: the records stop at the first bad block, which counts.
    if (!d_.failed())
      d_.check_block(order(t), read.got, t.in, base_out_ + b.block * d_.obs);
    d_.after_io();
    return;
  }
  if (read.record == ReadRecord::past_eof || read.record == ReadRecord::end_of_input) {
    if (read.record == ReadRecord::past_eof)
      d_.fail(past_eof(d_.s));
    input_ended_ = true;
    d_.transfer.end_of_input = true;
    return;
  }
  const bool partial = read.record == ReadRecord::partial;
  d_.count_record(order(t), partial ? &RecordTotals::r_partial_total : &RecordTotals::r_full_total);
  if (partial)
    input_ended_ = true;
  d_.issue_write(t, t.in, read.got, base_out_ + b.block * d_.obs, order(t));
  d_.after_io();
}

void QueuedCopy::count_write(Slot& t, bool partial) {
  const std::uint64_t block = job(t).block;
  if (block < write_prefix_)
    return;
  const std::uint64_t at = block - write_prefix_;
  if (landed_.size() <= at)
    landed_.resize(at + 1, 0);
  landed_[at] = partial ? 2 : 1;
  while (!landed_.empty() && landed_.front() != 0) {
    d_.count_record({write_prefix_ + 1, 0}, landed_.front() == 2 ? &RecordTotals::w_partial_total
                                                                 : &RecordTotals::w_full_total);
    d_.transfer.block_written = true;
    landed_.pop_front();
    ++write_prefix_;
  }
}

}  // namespace

Failure run_queued_copy(QueueDriver& driver, const EntrySource& next_entry) {
  QueuedCopy jobs(driver);
  jobs.set_up(next_entry);
  return driver.run(jobs);
}

}  // namespace kolvane

#include "engine/transfer.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "engine/copy_rules.h"
#include "engine/verify.h"
#include "plan/position.h"
#include "platform/signals.h"
#include "run/console.h"
#include "run/exit_status.h"
#include "run/failures.h"

namespace kolvane {
namespace {

// Both buffers are asked for before either result is looked at.
Failure obtain_buffers(TransferBuffers& b, const Settings& s, bool zero_source) {
  b.input.reset(alloc_aligned(s.input_blocksize));
  b.output.reset(alloc_aligned(s.output_blocksize));
  if (b.input.get() == nullptr || b.output.get() == nullptr)
    return buffer_failure();
  b.obtained = true;
  if (zero_source)
    std::memset(b.input.get(), 0, s.input_blocksize);
  return {};
}

// The loops below copy what they need out of the run's parts and `s` first: the back end's calls
// are opaque to the compiler, which would otherwise reload every setting after each of them.

// mix=: one block of the target read at the output's place through `reader`, timed and counted
// in, the place moved on as a write would move it.
Failure read_mixed_block(FileCursor& out, FileHandle reader, TransferState& transfer,
                         RunContext& run, const Settings& s) {
  const std::uint64_t bs = s.input_blocksize;
  unsigned char* const block = transfer.buffers.output.get();
  const std::uint64_t at = out.offset();
  const IoStart began = run.meter.begin(IoDirection::read);
  const std::int64_t got = read_block_at(reader, block, bs, at);
  if (got < 0)
    return read_failure(output_name(s));
  if (got > 0)
    run.meter.end(IoDirection::read, began, static_cast<std::uint64_t>(got));
  ++(static_cast<std::uint64_t>(got) == bs ? transfer.totals.r_full_total
                                           : transfer.totals.r_partial_total);
  out.seek(at + bs);
  if (run.check != nullptr)
    return run.check->mixed_read(block, static_cast<std::uint64_t>(got), bs);
  return {};
}

Failure write_zero_blocks(FileCursor& out, FileHandle reader, TransferState& transfer,
                          RunContext& run, const Settings& s) {
  unsigned char* const block = transfer.buffers.input.get();
  const std::uint64_t bs = s.input_blocksize;
  RecordTotals& totals = transfer.totals;
  Meter& meter = run.meter;
  OutputCheck* const check = run.check;
  // A stamped run writes to the null device all the same: what it costs is what it measures.
  const bool discard = check == nullptr && run.shape.ends.null_sink();
  // A mixed run's records in are the target's blocks it read, not the zero source's.
  const bool mixed = run.mix.has_value();
  for (std::uint64_t left = s.max_records; left != 0; --left) {
    const bool mixed_read = mixed && run.mix->reads();
    if (!meter.await_due(mixed_read ? IoDirection::read : IoDirection::write))
      break;
    if (mixed_read) {
      Failure failure = read_mixed_block(out, reader, transfer, run, s);
      if (failure.failed())
        return failure;
      if (run.after_io(totals))
        break;
      continue;
    }
    if (check != nullptr)
      check->fill_zero_source_block(block, bs);
    const IoStart began = meter.begin(IoDirection::write);
    const Written written = discard ? Written{Written::End::all, bs} : out.write(block, bs, false);
    if (written.end == Written::End::stopped) {
      ++totals.r_full_total;
      count_stopped_write(transfer, meter, began, written);
      break;
    }
    if (!written)
      return write_failure(output_name(s));
    meter.end(IoDirection::write, began, bs);
    if (!mixed)
      ++totals.r_full_total;
    ++totals.w_full_total;
    if (check != nullptr) {
      Failure failure = check->written(block, bs);
      if (failure.failed())
        return failure;
    }
    if (run.after_io(totals))
      break;
  }
  return {};
}

// Writes the copy's output blocks, as the copy's rules give them, and counts them.
class BlockWriter {
 public:
  BlockWriter(FileCursor& file, TransferState& transfer, RunContext& run, const Settings& s)
      : transfer_(transfer),
        file_(file),
        direct_(s.w_dio != 0),
        ends_(run.shape.ends),
        check_(run.check),
        meter_(run.meter) {}

  // Writes every block the entry has ready; false when one failed or a stop cut it short.
  bool put_ready(EntryCopy& copy) {
    while (const std::optional<OutputBlock> block = copy.next())
      if (!put(*block))
        return false;
    return true;
  }

  // What a failed write ends with: the failed check's, or a write failure; none when a stop
  // cut the write short.
  Failure failure(const Settings& s) const {
    if (stopped_)
      return {};
    return check_failure_.failed() ? check_failure_ : write_failure(output_name(s));
  }

 private:
  // Writes one output block and counts it; a block shorter than obs is a partial record.
  bool put(const OutputBlock& block) {
    const IoStart began = meter_.begin(IoDirection::write);
    if (!ends_.null_sink()) {
      const Written written = file_.write(block.data, block.length, block.partial && direct_);
      if (written.end == Written::End::stopped) {
        // A stop cut a write short: the output takes nothing more, so the bytes still held
        // are not written, which would wait on the same reader.
        count_stopped_write(transfer_, meter_, began, written);
        stopped_ = true;
        return false;
      }
      if (!written)
        return false;
    }
    meter_.end(IoDirection::write, began, block.length);
    if (block.partial) {
      ++transfer_.totals.w_partial_total;
    } else {
      ++transfer_.totals.w_full_total;
    }
    transfer_.block_written = true;
    if (check_ != nullptr)
      check_failure_ = check_->written(block.data, block.length);
    return !check_failure_.failed();
  }

  TransferState& transfer_;
  FileCursor& file_;
  const bool direct_;
  // The null sink takes nothing: its blocks are counted as written without a call that would
  // only cost a system call per block in a random read test.
  const Endpoints& ends_;
  OutputCheck* const check_;
  Meter& meter_;
  Failure check_failure_;
  bool stopped_ = false;
};

Failure copy_blocks(RunFiles& files, TransferState& transfer, RunContext& run, const Settings& s) {
  const CopyRules rules = copy_rules(s, run.shape, files.input_limit);
  EntryCopy copy(rules, transfer.buffers.output.get());
  if (copy.copies_nothing())
    return {};
  FileCursor& input = files.cursors.input;
  const std::uint64_t ibs = s.input_blocksize;
  unsigned char* const in = transfer.buffers.input.get();
  RecordTotals& totals = transfer.totals;
  BlockWriter writer(files.cursors.output, transfer, run, s);
  Meter& meter = run.meter;
  for (;;) {
    if (!meter.await_due(IoDirection::read))
      break;
    const IoStart began = meter.begin(IoDirection::read);
    const std::int64_t read = input.read(in, ibs);
    if (read < 0) {
      // A read cut short by a request: a stop ends the entry as the end of the input would, a
      // status request is answered and the read made again.
      if (read == kReadInterrupted || stop_requested() != StopRequest::none) {
        if (run.after_io(totals))
          break;
        continue;
      }
      return read_failure(input_name(s));
    }
    const ReadTaken taken = copy.took(static_cast<std::uint64_t>(read), in);
    // The end of the input is not a block read, and bytes past a measured input's size are not
    // the input's: the meter counts what the records count.
    if (taken.got > 0)
      meter.end(IoDirection::read, began, taken.got);
    if (taken.record == ReadRecord::past_eof)
      return past_eof(s);
    if (taken.record == ReadRecord::end_of_input) {
      transfer.end_of_input = true;
      break;
    }
    if (taken.record == ReadRecord::partial) {
      ++totals.r_partial_total;
    } else {
      ++totals.r_full_total;
    }
    if (!writer.put_ready(copy))
      return writer.failure(s);
    if (run.after_io(totals))
      break;
    if (copy.ends_after_read(transfer.end_of_input, transfer.block_written))
      break;
  }
  // Whatever ended the entry, the bytes already read go out: the rest as a partial block.
  copy.finish();
  if (!writer.put_ready(copy))
    return writer.failure(s);
  return {};
}

}  // namespace

void count_stopped_write(TransferState& transfer, Meter& meter, IoStart began,
                         const Written& written) {
  if (written.moved == 0)
    return;
  meter.end(IoDirection::write, began, written.moved);
  ++transfer.totals.w_partial_total;
  transfer.block_written = true;
}

Failure run_entry(RunFiles& files, TransferState& transfer, RunContext& run, const Settings& s,
                  const PlanEntry& entry, const PlatformProfile& profile) {
  // Asked before positioning, which may leave the later entries to follow on.
  const bool seeks = files.apply_seek;
  Failure positioned = position_files(files, run, transfer.totals, s, entry, profile);
  // A stop while skipped bytes were read leaves the entry before its copy.
  if (positioned.failed() || run.control.stopping())
    return positioned;
  if (!transfer.buffers.obtained) {
    Failure failure = obtain_buffers(transfer.buffers, s, run.shape.ends.zero_source());
    if (failure.failed())
      return failure;
  }
  FileCursor& out = files.cursors.output;
  if (run.check != nullptr) {
    run.check->begin_entry(seeks, entry.seek_offset);
    if (run.check->check_only())
      return run.check->check_entry(out, transfer, run, s);
  }
  return run.shape.ends.zero_source() ? write_zero_blocks(out, files.input.get(), transfer, run, s)
                                      : copy_blocks(files, transfer, run, s);
}

}  // namespace kolvane

// Checking what the run writes: stamped blocks from the zero source (pattern=random), each
// block read back and checked once written (verify=1), and the check-only pass that reads the
// blocks an earlier run wrote (verify=2). A run without these words never reaches this module.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/settings.h"
#include "platform/profile.h"
#include "run/cursor.h"
#include "run/failures.h"
#include "run/owned.h"
#include "run/run_context.h"
#include "run/transfer_state.h"

namespace kolvane {

// Refuses, before any file is opened, the checking words the run cannot carry out: none, or the
// refusal (1).
Failure check_verify_words(const Endpoints& ends, const Settings& s);

// The seed stamped blocks carry: seed= when given, else the process id, as the offset draws.
std::uint32_t run_seed(const Settings& s);

// The fingerprint stamped blocks carry of the words that shape where a run writes (block sizes,
// count, iterations, skip, seek, conv=notrunc, the distribution, runtime): never 0, which
// stands for "unknown". A check with the same words plans the same offsets on the same file.
std::uint32_t plan_words(const Settings& s, const RunShape& shape);

// Where a block stands in the order a run of one I/O at a time makes them: its entry (numbered
// from 1) and its place among the entry's blocks.
struct PlanOrder {
  std::uint64_t entry = 0;
  std::uint64_t block = 0;
  auto operator<=>(const PlanOrder&) const = default;
};

// Opens the output as the checking words need it: for reading and writing with verify=1, for
// reading alone with verify=2 (never created or truncated). A check-only pass takes the output
// as pre-existing exactly when the writing run with the same words found it so, so that both
// runs plan the same offsets.
FileHandle open_run_output(const Settings& s, bool& output_preexists);

// Follows the output's offset from block to block, stamps the blocks and checks what it reads
// back. The driver owns it and hands it to the transfer through RunContext::check.
class OutputCheck {
 public:
  OutputCheck() = default;
  OutputCheck(const OutputCheck&) = delete;
  OutputCheck& operator=(const OutputCheck&) = delete;

  // After the output is opened: the read buffer and, where the platform needs one, a handle of
  // its own for direct reads. Returns none, or the failure: 2 (the read handle not opened) or
  // 6 (no buffer).
  Failure start(const Settings& s, const RunShape& shape, FileHandle output,
                const PlatformProfile& profile);

  // Before each plan entry: where its first block goes when the entry positions the output;
  // otherwise it follows on from the last entry.
  void begin_entry(bool positioned, std::uint64_t offset);

  // The zero source's next block, at the current offset, in `block` (n bytes): stamped, or left
  // as it is (zeros) when the run does not stamp. written() takes it once it went out.
  void fill_zero_source_block(unsigned char* block, std::uint64_t n) const;

  // verify=2: reads and checks one entry's blocks through `out`. Returns none, a failure (3), or
  // status 9 without a message once a bad block's meaning is settled (conclude() tells it).
  Failure check_entry(FileCursor& out, TransferState& transfer, RunContext& run, const Settings& s);

  // After `n` bytes from `data` went out at the current offset: with verify=1 reads them back
  // and checks them. Returns none, the read's failure (3), or status 9 without a message for a
  // bad block.
  Failure written(const unsigned char* data, std::uint64_t n);

  // mix=: `got` bytes read at the current offset for a block of `n`, which then moves on past
  // it. With verify=1 a block whose intact header names this run's seed is judged (header and
  // checksum, as verify=2 judges it); any other block predates the run and is not. Returns none, or
  // status 9 without a message for a bad block.
  Failure mixed_read(const unsigned char* data, std::uint64_t got, std::uint64_t n);
  // The same judgement of a block at `offset` and `at`, for a transfer that keeps its own
  // offsets (the queued one): true unless the block is bad.
  bool judge_mixed(PlanOrder at, const unsigned char* data, std::uint64_t got, std::uint64_t n,
                   std::uint64_t offset);

  // The verdicts. No verdict is printed when it is found: a queued run finds them in the order
  // its I/Os complete, and only the bad block that comes first in plan order is told, once
  // everything before it has been checked.
  //
  // Judges `got` bytes read into `read` for a block of `n` bytes at `offset` and notes the
  // verdict at `at`. `data`: the bytes written (nullptr: a stamped block). True when good.
  bool judge_block(PlanOrder at, const unsigned char* data, std::uint64_t n,
                   const unsigned char* read, std::uint64_t got, std::uint64_t offset);
  bool found_bad() const { return bad_.has_value(); }
  PlanOrder first_bad() const { return bad_ ? bad_->at : PlanOrder{}; }
  // A bad block was found and what it means is known: what comes after it in plan order stops.
  // A check-only pass whose bad block might only mean other words or another file reads on
  // until it meets a block of its own run (the block is bad) or of the same seed written with
  // other words (the words differ); a block read back after this run wrote it is bad at once.
  bool settled() const;
  // Whether a block at `at` counts in the records: up to the first bad block, as a run of one
  // I/O at a time stops there.
  bool counts(PlanOrder at) const { return !bad_ || at <= bad_->at; }
  // Once the transfer has ended: none when no block was bad; otherwise the verdict's line, status
  // 9 (a bad block among this run's) or 10 (the words or the file differ from the writing
  // run's).
  Failure conclude() const;

  bool check_only() const { return check_only_; }
  std::uint32_t words() const { return words_; }
  bool stamps() const { return stamps_; }
  bool reads_back() const { return reads_back_; }

  // For a transfer that reads the blocks itself (the queued one): the handle to read them
  // through, whether those reads are direct, and how much to ask for a block of `n` bytes
  // (a direct read moves the whole aligned block).
  FileHandle reader() const { return own_reader_.is_open() ? own_reader_.get() : output_; }
  bool direct() const { return direct_; }
  std::uint64_t read_length(std::uint64_t n) const { return direct_ ? block_ : n; }
  // Fills `block` (n bytes) with the stamped block for `offset` in iteration `iteration`, for
  // a transfer that keeps its own offsets (the queued one).
  void stamp(unsigned char* block, std::uint64_t n, std::uint64_t offset,
             std::uint64_t iteration) const;

 private:
  // Reads the block at `offset` into the read buffer, `n` bytes or, for a direct read, the
  // whole aligned block; the bytes read, or -1 when the read failed.
  std::int64_t read_back(FileHandle file, std::uint64_t offset, std::uint64_t n);
  // The next block's place in the entry a run of one I/O at a time is in.
  PlanOrder next_order() { return {iteration_, block_in_entry_++}; }

  struct BadBlock {
    PlanOrder at;
    std::uint64_t offset = 0;
    std::string verdict;
  };

  const Settings* settings_ = nullptr;
  FileHandle output_ = kNoFile;
  OwnedFile own_reader_;  // the direct read handle, when the output's own cannot read direct
  AlignedBuffer read_buffer_;
  std::uint64_t block_ = 0;
  std::uint64_t offset_ = 0;
  std::uint64_t iteration_ = 0;
  std::uint64_t block_in_entry_ = 0;
  std::uint32_t seed_ = 0;
  std::uint32_t words_ = 0;
  // The first bad block in plan order, and the first block found of this run's seed and words
  // and of this seed with other words: what a bad block means.
  std::optional<BadBlock> bad_;
  std::optional<PlanOrder> ours_;
  std::optional<PlanOrder> others_;
  bool stamps_ = false;
  bool reads_back_ = false;
  bool check_only_ = false;
  bool direct_ = false;
};

}  // namespace kolvane

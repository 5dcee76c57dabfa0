#include "engine/verify.h"

#include <algorithm>
#include <cinttypes>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/transfer.h"
#include "pattern/stamp.h"
#include "run/console.h"
#include "run/exit_status.h"
#include "run/failures.h"

namespace kolvane {
namespace {

Failure refuse(const char* message, std::uint32_t verify = 0) {
  return refusal(message, verify);
}

std::span<const std::byte> bytes(const unsigned char* data, std::uint64_t n) {
  return {reinterpret_cast<const std::byte*>(data), static_cast<std::size_t>(n)};
}

// A read of the output that failed: the same message as any failed read, naming the output.
Failure output_read_failure(const Settings& s) {
  return read_failure(output_name(s));
}

}  // namespace

Failure check_verify_words(const Endpoints& ends, const Settings& s) {
  if (s.stamped) {
    if (!ends.zero_source())
      return refuse("pattern=random needs the zero source as input (if=/dev/zero)\n");
    if (s.input_blocksize != s.output_blocksize)
      return refuse("pattern=random needs equal input and output block sizes\n");
    if (s.input_blocksize < kMinStampedBlock)
      return refuse("pattern=random needs blocks of at least 512 bytes\n");
  }
  if (s.verify == kVerifyOff)
    return {};
  // Standard output, the null sink, a pipe or a terminal keep nothing that can be read again.
  if (!ends.positioned_named_output())
    return refuse("verify=%u needs an output that can be read back: a file or a device (of=)\n",
                  s.verify);
  if (s.verify == kVerifyCheckOnly && (!s.stamped || !s.seed_given))
    return refuse("verify=2 needs pattern=random and the seed= of the run that wrote the blocks\n");
  if (s.verify == kVerifyCheckOnly && s.runtime_seconds != 0)
    return refuse(
        "verify=2 cannot be given with runtime=: check a time-limited run with iterations= set "
        "to the iterations it made (its records out divided by count=)\n");
  return {};
}

std::uint32_t run_seed(const Settings& s) {
  return s.seed_given ? s.seed : process_id();
}

std::uint32_t plan_words(const Settings& s, const RunShape& shape) {
  // Each word's value in a fixed width and byte order, so both programs and every host give
  // the same fingerprint; a word left out and the same word at its default are the same.
  std::vector<std::byte> words;
  const auto put = [&words](std::uint64_t v) {
    for (int i = 0; i < 8; ++i) words.push_back(static_cast<std::byte>(v >> (8 * i)));
  };
  put(s.input_blocksize);
  put(s.output_blocksize);
  put(s.skip_records);
  put(s.seek_records);
  put(s.max_records);
  put(shape.iterations_given ? s.num_iterations : 0);
  put(is_notrunc(s) ? 1 : 0);
  // 0 and 1 as stamped blocks of the digit-wise and uniform draws have always carried them.
  put(static_cast<std::uint32_t>(s.offset_law));
  if (s.offset_law != OffsetLaw::digitwise && s.offset_law != OffsetLaw::uniform) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &s.law_parameter, sizeof bits);
    put(bits);
  }
  if (s.span_bytes != 0)
    put(s.span_bytes);
  put(s.runtime_seconds);
  return words_fingerprint(words);
}

FileHandle open_run_output(const Settings& s, bool& output_preexists) {
  if (s.verify == kVerifyCheckOnly) {
    // A writing run finds the output pre-existing with conv=notrunc; without it the output was
    // created or truncated, and its offsets followed on from the start.
    output_preexists = is_notrunc(s);
    return open_input(s.output_file, s.r_dio != 0 || s.w_dio != 0);
  }
  const OutputAccess access =
      s.verify == kVerifyReadBack ? OutputAccess::read_write : OutputAccess::write;
  return open_output(s.output_file, s.w_dio != 0, is_notrunc(s), output_preexists, access);
}

Failure OutputCheck::start(const Settings& s, const RunShape& shape, FileHandle output,
                           const PlatformProfile& profile) {
  settings_ = &s;
  output_ = output;
  block_ = s.output_blocksize;
  seed_ = run_seed(s);
  words_ = plan_words(s, shape);
  stamps_ = s.stamped;
  reads_back_ = s.verify == kVerifyReadBack;
  check_only_ = s.verify == kVerifyCheckOnly;
  direct_ = check_only_ ? s.r_dio != 0 || s.w_dio != 0 : s.w_dio != 0;
  if (s.verify == kVerifyOff)
    return {};
  read_buffer_.reset(alloc_aligned(block_));
  if (read_buffer_.get() == nullptr)
    return buffer_failure();
  if (reads_back_ && direct_ && profile.direct_readback_own_handle) {
    own_reader_.reset(open_input(s.output_file, true));
    if (!own_reader_.is_open())
      return open_failure(output_name(s));
  }
  return {};
}

void OutputCheck::begin_entry(bool positioned, std::uint64_t offset) {
  if (positioned)
    offset_ = offset;
  ++iteration_;
  block_in_entry_ = 0;
}

std::int64_t OutputCheck::read_back(FileHandle file, std::uint64_t offset, std::uint64_t n) {
  // Direct reads move whole aligned blocks: a partial last block is read as a whole one and
  // only its own bytes are compared.
  const std::uint64_t ask = direct_ ? block_ : n;
  return read_block_at(file, read_buffer_.get(), ask, offset);
}

bool OutputCheck::judge_block(PlanOrder at, const unsigned char* data, std::uint64_t n,
                              const unsigned char* read_bytes, std::uint64_t got,
                              std::uint64_t offset) {
  const std::uint64_t have = std::min(got, n);
  const auto read = bytes(read_bytes, have);
  // A block cut short by the end of the file is told as such, a stamped one whatever its bytes
  // hold, a compared one when the bytes it has agree; a file that ends before the block has no
  // block there and keeps the verdict below.
  bool cut = have != 0 && have < n;
  std::string verdict;
  if (stamps_) {
    const StampCheck check = check_stamped_block(read, offset, seed_);
    // A block that names this seed and this offset was written by a run of this seed here: by
    // one of these words (or of unknown words), or by one of other words.
    if (check.header_intact && check.found.seed == seed_ && check.found.offset == offset) {
      std::optional<PlanOrder>& first =
          check.found.words == 0 || check.found.words == words_ ? ours_ : others_;
      if (!first || at < *first)
        first = at;
    }
    if (have == n && check.verdict == StampVerdict::good)
      return true;
    verdict = describe_stamp_check(check);
  } else {
    const auto differ = first_difference(bytes(data, n), read);
    if (!differ)
      return true;
    verdict = "data differ from offset " + std::to_string(offset + *differ);
    cut = cut && *differ == have;
  }
  if (cut)
    verdict = "file ends after " + std::to_string(have) + " of " + std::to_string(n) + " bytes";
  if (!bad_ || at < bad_->at)
    bad_ = BadBlock{at, offset, std::move(verdict)};
  return false;
}

bool OutputCheck::settled() const {
  return bad_ && (!check_only_ || ours_ || others_);
}

Failure OutputCheck::conclude() const {
  if (!bad_)
    return {};
  const PlanOrder bad = bad_->at;
  // What the blocks up to the bad one say comes first; past it, the first block found of this
  // seed. A block written with other words explains the bad one; a block of this run's words,
  // and none of other words, makes it damage.
  bool other_words = check_only_;
  if (others_ && *others_ <= bad)
    other_words = true;
  else if (ours_ && (*ours_ <= bad || !others_ || *ours_ < *others_))
    other_words = false;
  const std::string name = output_name(*settings_);
  const std::string at = "offset " + std::to_string(bad_->offset);
  if (!other_words || !check_only_)
    return failure_text(kExitVerify,
                        "verify error in '" + name + "' at " + at + ": " + bad_->verdict + "\n");
  return failure_text(kExitVerifyOtherWords,
                      "verify cannot judge '" + name +
                          "': its blocks were written with other words, or it is another file "
                          "(at " +
                          at + ": " + bad_->verdict +
                          "); repeat the writing run's words and seed= exactly, conv=notrunc "
                          "included\n");
}

Failure OutputCheck::written(const unsigned char* data, std::uint64_t n) {
  const std::uint64_t offset = offset_;
  offset_ += n;
  if (!reads_back_)
    return {};
  const FileHandle reader = own_reader_.is_open() ? own_reader_.get() : output_;
  // A positioned read: the writes, which keep their own offset, go on where this block ended.
  const std::int64_t got = read_back(reader, offset, n);
  if (got < 0)
    return output_read_failure(*settings_);
  if (judge_block(next_order(), data, n, read_buffer_.get(), static_cast<std::uint64_t>(got),
                  offset))
    return {};
  return {kExitVerify, {}};
}

void OutputCheck::stamp(unsigned char* block, std::uint64_t n, std::uint64_t offset,
                        std::uint64_t iteration) const {
  // Never short: blocks under the stamp's least length are refused before the run.
  static_cast<void>(
      fill_stamped_block({reinterpret_cast<std::byte*>(block), static_cast<std::size_t>(n)}, offset,
                         seed_, iteration, words_));
}

Failure OutputCheck::mixed_read(const unsigned char* data, std::uint64_t got, std::uint64_t n) {
  const std::uint64_t offset = offset_;
  offset_ += n;
  return judge_mixed(next_order(), data, got, n, offset) ? Failure{} : Failure{kExitVerify, {}};
}

bool OutputCheck::judge_mixed(PlanOrder at, const unsigned char* data, std::uint64_t got,
                              std::uint64_t n, std::uint64_t offset) {
  if (!reads_back_ || got != n)
    return true;
  // Judged by its stamp alone, whatever this run writes: a block of this run's seed was stamped
  // by it or by an earlier run of the same seed, and must check as verify=2 would check it.
  const StampCheck check = check_stamped_block(bytes(data, n), offset, seed_);
  if (!check.header_intact || check.found.seed != seed_ || check.verdict == StampVerdict::good)
    return true;
  if (!bad_ || at < bad_->at)
    bad_ = BadBlock{at, offset, describe_stamp_check(check)};
  return false;
}

void OutputCheck::fill_zero_source_block(unsigned char* block, std::uint64_t n) const {
  if (stamps_)
    stamp(block, n, offset_, iteration_);
}

Failure OutputCheck::check_entry(FileCursor& out, TransferState& transfer, RunContext& run,
                                 const Settings& s) {
  const std::uint64_t bs = s.output_blocksize;
  for (std::uint64_t i = 0; i < s.max_records; ++i) {
    if (!run.meter.await_due(IoDirection::read))
      break;
    const std::uint64_t offset = offset_;
    const IoStart began = run.meter.begin(IoDirection::read);
    const std::int64_t got = out.read(read_buffer_.get(), bs);
    if (got < 0) {
      // Reading on past a bad block only looks for what it means: a failure ends that search.
      if (bad_)
        return {kExitVerify, {}};
      return output_read_failure(s);
    }
    if (got > 0)
      run.meter.end(IoDirection::read, began, static_cast<std::uint64_t>(got));
    offset_ += bs;
    const PlanOrder at = next_order();
    // Nothing read is a block never written: the file ends before it.
    if (got > 0 && counts(at))
      ++(static_cast<std::uint64_t>(got) < bs ? transfer.totals.r_partial_total
                                              : transfer.totals.r_full_total);
    judge_block(at, nullptr, bs, read_buffer_.get(), static_cast<std::uint64_t>(got), offset);
    if (settled())
      return {kExitVerify, {}};
    if (run.after_io(transfer.totals))
      break;
  }
  return {};
}

}  // namespace kolvane

#include "engine/copy_rules.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "run/run_files.h"

namespace kolvane {

CopyRules copy_rules(const Settings& s, const RunShape& shape, std::uint64_t input_limit) {
  return {.ibs = s.input_blocksize,
          .obs = s.output_blocksize,
          .direct_writes = s.w_dio != 0,
          .counted = shape.count_given,
          .max_records = s.max_records,
          .input_limit = input_limit};
}

std::uint64_t CopyRules::copy_reads() const {
  if (counted)
    return max_records;
  if (input_limit == kNoLimit)
    return UINT64_MAX;
  return std::max<std::uint64_t>(1, input_limit / ibs + (input_limit % ibs != 0 ? 1 : 0));
}

std::uint64_t CopyRules::left_at(std::uint64_t block) const {
  if (input_limit == kNoLimit)
    return kNoLimit;
  const std::uint64_t start = block * ibs;
  return input_limit > start ? input_limit - start : 0;
}

ReadTaken take_read(std::uint64_t returned, std::uint64_t ibs, std::uint64_t left, bool first) {
  const std::uint64_t got = std::min(returned, left);
  if (got == 0)
    return {0, first ? ReadRecord::past_eof : ReadRecord::end_of_input};
  return {got, got < ibs ? ReadRecord::partial : ReadRecord::full};
}

ReadTaken EntryCopy::took(std::uint64_t returned, const unsigned char* data) {
  const ReadTaken taken = take_read(returned, rules_->ibs, left_, first_read_);
  left_ -= taken.got;
  first_read_ = false;
  if (taken.record == ReadRecord::full)
    ++full_reads_;
  data_ = data;
  pending_ = taken.got;
  return taken;
}

std::optional<OutputBlock> EntryCopy::next() {
  const std::uint64_t obs = rules_->obs;
  while (pending_ != 0) {
    if (fill_ == 0 && pending_ >= obs && (!rules_->direct_writes || is_direct_aligned(data_))) {
      const OutputBlock block{data_, obs, false};
      data_ += obs;
      pending_ -= obs;
      return block;
    }
    const std::uint64_t moved = std::min(pending_, obs - fill_);
    std::memcpy(buffer_ + fill_, data_, moved);
    fill_ += moved;
    data_ += moved;
    pending_ -= moved;
    if (fill_ == obs) {
      fill_ = 0;
      return OutputBlock{buffer_, obs, false};
    }
  }
  if (!finished_ || fill_ == 0)
    return std::nullopt;
  const std::uint64_t held = fill_;
  fill_ = 0;
  return OutputBlock{buffer_, held, true};
}

bool EntryCopy::ends_after_read(bool end_of_input, bool block_written) const {
  // Without a count the copy runs to the end of the input.
  if (rules_->counted && full_reads_ == rules_->max_records)
    return true;
  // A later entry of a run that met the end of the input stops after one read's blocks.
  if (end_of_input && block_written)
    return true;
  return left_ == 0;
}

}  // namespace kolvane

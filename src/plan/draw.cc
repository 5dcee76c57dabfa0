#include "plan/draw.h"

#include "plan/digits.h"

namespace kolvane {
namespace {

// Rounds offsets down to whole blocks; a power-of-two block (the usual case) needs only a mask
// instead of a 64-bit division per offset.
std::uint64_t round_down(std::uint64_t value, std::uint64_t block) {
  return (block & (block - 1)) == 0 ? value & ~(block - 1) : value - value % block;
}

}  // namespace

OffsetSide::OffsetSide(bool applied, const OffsetDigits& range, const OffsetDigits& fixed,
                       std::uint64_t block)
    : range_(range), fixed_(fixed), block_(block) {
  if (applied) {
    for (std::uint32_t i = 0; i < 4; ++i) {
      if (range[i] != 0)
        positions_[count_++] = i;
    }
  }
  if (count_ == 0) {
    constant_ = round_down(join_digits(applied ? fixed : OffsetDigits{}), block);
    return;
  }
  // The digit-wise draw gives fixed + r for some r below the range, rounded down: the same
  // block-aligned offsets are the uniform draw's, from the first to the last.
  const std::uint64_t first = join_digits(fixed);
  lowest_ = round_down(first, block);
  choices_ = (round_down(first + join_digits(range) - 1, block) - lowest_) / block + 1;
}

std::uint64_t OffsetSide::next(UniformSource* uniform, const SkewedDraw* skew,
                               RandomSource& random) const {
  if (count_ == 0)
    return constant_;
  if (skew != nullptr)
    return lowest_ + skew->next(*uniform) * block_;
  if (uniform != nullptr)
    return lowest_ + uniform->below(choices_) * block_;
  // A value strictly below the range: a pivot among its non-zero digits, free digits below
  // it, the pivot digit below the range's, and the digits above it at most the range's.
  const std::uint32_t pivot = positions_[random.next() % count_];
  OffsetDigits d{};
  for (std::uint32_t i = 0; i < 4; ++i) {
    if (i < pivot) {
      d[i] = generaterandomvalue(random, 65536);
    } else if (i == pivot) {
      d[i] = generaterandomvalue(random, range_[i]);
    } else {
      d[i] = generaterandomvalue(random, range_[i] + 1);
    }
  }
  addcomponents(d, fixed_);
  return round_down(join_digits(d), block_);
}

EntryDraw::EntryDraw(const RunFiles& files, const Calibration& calibration, const Settings& s,
                     std::uint64_t seed, std::uint64_t scatter, RandomSource& random)
    : random_(random),
      skip_(files.apply_skip, calibration.input_range, calibration.input_fixed, s.input_blocksize),
      seek_(files.apply_seek && !files.seek_first_entry_only, calibration.output_range,
            calibration.output_fixed, s.output_blocksize) {
  if (s.offset_law == OffsetLaw::digitwise)
    return;
  uniform_.emplace(seed);
  if (s.offset_law == OffsetLaw::uniform)
    return;
  // Each side scatters its ranks by a permutation of its own, keyed by the seed.
  if (skip_.choices() != 0)
    skip_skew_.emplace(s.offset_law, s.law_parameter, skip_.choices(), scatter * 2);
  if (seek_.choices() != 0)
    seek_skew_.emplace(s.offset_law, s.law_parameter, seek_.choices(), scatter * 2 + 1);
}

PlanEntry EntryDraw::next() {
  UniformSource* const uniform = uniform_ ? &*uniform_ : nullptr;
  PlanEntry e;
  // The input's draw before the output's.
  e.skip_offset = skip_.next(uniform, skip_skew_ ? &*skip_skew_ : nullptr, random_);
  e.seek_offset = seek_.next(uniform, seek_skew_ ? &*seek_skew_ : nullptr, random_);
  return e;
}

RunOrderDraw::RunOrderDraw(const RunFiles& files, const Calibration& calibration, const Settings& s,
                           std::uint64_t seed, std::uint64_t scatter, RandomSource& random)
    : draw_(files, calibration, s, seed, scatter, random),
      seek_first_only_(files.seek_first_entry_only),
      first_seek_(s.seek_records * s.output_blocksize) {}

PlanEntry RunOrderDraw::next() {
  PlanEntry e = draw_.next();
  if (first_ && seek_first_only_)
    e.seek_offset = first_seek_;
  first_ = false;
  return e;
}

}  // namespace kolvane

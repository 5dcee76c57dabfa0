// The offsets of a repeated run's entries, one entry at a time: the input's skip offset drawn
// first, then the output's seek offset, each rounded down to a whole block inside the range
// its file's calibration allows. The default draw goes digit by digit through the run's
// RandomSource (the C library's rand() sequence), and is not uniform; distribution=uniform draws
// every reachable block-aligned offset with the same chance, from the program's own generator, so
// a seed draws the same offsets in every build.
#pragma once

#include <cstdint>
#include <optional>

#include "cli/settings.h"
#include "plan/plan.h"
#include "plan/skew.h"
#include "run/uniform.h"
#include "run/run_files.h"

namespace kolvane {

// One side's offsets. Only a positioned side with a non-zero range draws; any other side
// consumes nothing from either generator and has the same offset in every entry.
class OffsetSide {
 public:
  OffsetSide(bool applied, const OffsetDigits& range, const OffsetDigits& fixed,
             std::uint64_t block);

  // `uniform`: the program's generator, or nullptr for the digit-wise draw from `random`;
  // `skew`: the law that picks among the choices, or nullptr for a uniform choice.
  std::uint64_t next(UniformSource* uniform, const SkewedDraw* skew, RandomSource& random) const;
  // How many block-aligned offsets the side draws among; 0 for a side that does not draw.
  std::uint64_t choices() const { return count_ == 0 ? 0 : choices_; }

 private:
  OffsetDigits range_;
  OffsetDigits fixed_;
  std::uint32_t positions_[4] = {};
  std::int32_t count_ = 0;  // non-zero digits of the range, their indices in positions_
  std::uint64_t block_;
  std::uint64_t constant_ = 0;
  // The uniform draw's reachable offsets: lowest_ + k × block_ for k below choices_.
  std::uint64_t lowest_ = 0;
  std::uint64_t choices_ = 0;
};

class EntryDraw {
 public:
  // After both calibrations. `seed` seeds the program's generator (distribution=), `scatter`
  // keys the permutation of the skewed laws' ranks; the digit-wise draw goes on from where
  // `random` is, which must outlive the draw.
  EntryDraw(const RunFiles& files, const Calibration& calibration, const Settings& settings,
            std::uint64_t seed, std::uint64_t scatter, RandomSource& random);

  // The next entry's offsets, in draw order.
  PlanEntry next();

 private:
  std::optional<UniformSource> uniform_;
  RandomSource& random_;
  OffsetSide skip_;
  OffsetSide seek_;
  std::optional<SkewedDraw> skip_skew_;
  std::optional<SkewedDraw> seek_skew_;
};

// Iterations without a plan (runtime= with count= and no iterations=): the entries drawn as
// the run goes, in run order, so memory stays the same however long the run lasts. The first
// entry's output starts at the fixed seek when only that entry is positioned.
class RunOrderDraw {
 public:
  RunOrderDraw(const RunFiles& files, const Calibration& calibration, const Settings& settings,
               std::uint64_t seed, std::uint64_t scatter, RandomSource& random);
  PlanEntry next();

 private:
  EntryDraw draw_;
  bool first_ = true;
  bool seek_first_only_;
  std::uint64_t first_seek_;
};

// The entries in run order: the plan's, or, for unlimited iterations, drawn one by one.
class EntryFeed {
 public:
  // `draw`: the run-order draw of unlimited iterations, or nullptr to take the plan's entries.
  // Both must outlive the feed.
  EntryFeed(const Plan& plan, RunOrderDraw* draw) : plan_(plan), draw_(draw) {}
  // False when none is left.
  bool next(PlanEntry& entry) {
    if (draw_ != nullptr) {
      entry = draw_->next();
    } else if (taken_ < plan_.size) {
      entry = plan_.entries[taken_];
    } else {
      return false;
    }
    ++taken_;
    return true;
  }
  // How many entries were given.
  std::uint64_t taken() const { return taken_; }

 private:
  const Plan& plan_;
  RunOrderDraw* draw_;
  std::uint64_t taken_ = 0;
};

}  // namespace kolvane

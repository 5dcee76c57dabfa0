// mix=R's choices: R % of reads over many I/Os, each an independent draw (no period, runs of
// reads as long as the geometric law makes them), and a stream apart from the offsets' own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "run/mix_choice.h"
#include "run/uniform.h"

namespace kolvane {
namespace {

TEST(MixChoice, ReadsTheirShareAsIndependentDraws) {
  constexpr int kChoices = 100000;
  for (const std::uint32_t percent : {0u, 1u, 30u, 70u, 100u}) {
    SCOPED_TRACE(percent);
    MixChoice mix(42, percent);
    int reads = 0;
    // Runs of reads: a run of length k ends after k reads and a write, with chance
    // p^k (1 - p) for p the share of reads.
    std::vector<int> runs(8);
    int run = 0;
    for (int i = 0; i < kChoices; ++i) {
      if (mix.reads()) {
        ++reads;
        ++run;
        continue;
      }
      if (run < 8)
        ++runs[run];
      run = 0;
    }
    const double p = percent / 100.0;
    EXPECT_NEAR(static_cast<double>(reads) / kChoices, p, 0.01);
    if (percent == 0 || percent == 100)
      continue;
    const double writes = kChoices * (1 - p);
    for (int k = 0; k < 4; ++k) {
      const double expected = writes * std::pow(p, k) * (1 - p);
      EXPECT_NEAR(runs[k], expected, 5 * std::sqrt(expected)) << "runs of " << k << " reads";
    }
  }
}

// The choices draw from a stream of their own, not from the values the offsets' generator
// gives for the same seed (which would tie each choice to the offset drawn beside it).
TEST(MixChoice, DrawsFromAStreamOfItsOwn) {
  MixChoice mix(7, 50);
  UniformSource offsets(7);
  int same = 0;
  for (int i = 0; i < 1000; ++i) same += mix.reads() == (offsets.below(100) < 50);
  EXPECT_LT(same, 600);
  EXPECT_GT(same, 400);
}

}  // namespace
}  // namespace kolvane

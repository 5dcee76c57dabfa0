// The offsets of repeated runs: the run-order draw of unlimited iterations against the plan's,
// and the uniform draw against the digit-wise one, inside the same calibrated bounds.
#include "plan/draw.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "fake_backend.h"
#include "plan/plan.h"
#include "run_owners_calls.h"

namespace kolvane {
namespace {

// A state whose input (and, with `output`, output) draws within `size` bytes for count=1:
// the calibration a file of that size gives.
void calibrated(RunOwners& st, std::uint64_t size, std::uint64_t block, bool output) {
  OffsetDigits range = split_digits(static_cast<std::int64_t>(size));
  subcomponents(range, split_digits(static_cast<std::int64_t>(block + 1)));
  const OffsetDigits fixed = split_digits(1);
  subcomponents(range, fixed);
  st.context.shape.count_given = true;
  st.files.apply_skip = true;
  st.plan.calibration.input_range = range;
  st.plan.calibration.input_fixed = fixed;
  st.files.apply_seek = output;
  st.plan.calibration.output_range = range;
  st.plan.calibration.output_fixed = fixed;
}

Settings blocks(std::uint64_t block, bool uniform) {
  Settings s;
  s.input_blocksize = s.output_blocksize = block;
  s.max_records = 1;
  s.offset_law = uniform ? OffsetLaw::uniform : OffsetLaw::digitwise;
  return s;
}

// Unlimited iterations draw entry k as the plan draws its k-th entry; the plan runs its draws
// last first. Both distributions, with the same seed.
TEST(DrawTest, RunOrderDrawsWhatThePlanDrawsInTheOtherOrder) {
  for (const bool uniform : {false, true}) {
    SCOPED_TRACE(uniform ? "uniform" : "digit-wise");
    fake::reset();
    RunOwners st;
    calibrated(st, 1 << 30, 4096, true);
    st.context.shape.iterations_given = true;
    st.context.shape.seed = 77;
    Settings s = blocks(4096, uniform);
    s.num_iterations = 50;
    st.context.random.seed(77);
    ASSERT_EQ(build_plan(st, s), 0);
    ASSERT_EQ(st.plan.size, 50u);
    st.context.random.seed(77);
    RunOrderDraw draw(st.files, st.plan.calibration, s, 77, 77, st.context.random);
    std::set<std::uint64_t> distinct;
    for (std::uint32_t k = 0; k < 50; ++k) {
      const PlanEntry e = draw.next();
      EXPECT_EQ(e.skip_offset, st.plan.entries[49 - k].skip_offset) << k;
      EXPECT_EQ(e.seek_offset, st.plan.entries[49 - k].seek_offset) << k;
      distinct.insert(e.skip_offset);
    }
    EXPECT_GT(distinct.size(), 40u);
  }
}

// Only the first entry of a new output is positioned, at the fixed seek; the others follow on.
TEST(DrawTest, RunOrderPositionsOnlyTheFirstEntryOfANewOutput) {
  RunOwners st;
  calibrated(st, 1 << 20, 512, false);
  st.files.apply_seek = true;
  st.files.seek_first_entry_only = true;
  Settings s = blocks(512, true);
  s.seek_records = 3;
  RunOrderDraw draw(st.files, st.plan.calibration, s, 1, 1, st.context.random);
  EXPECT_EQ(draw.next().seek_offset, 1536u);
  EXPECT_EQ(draw.next().seek_offset, 0u);
}

// Every drawn offset is block-aligned and one the digit-wise draw can reach; the uniform draw
// reaches both ends of the range, also for a block that is not a power of two.
TEST(DrawTest, UniformOffsetsStayInTheCalibratedBounds) {
  const struct {
    std::uint64_t size, block;
  } rows[] = {{8192, 512}, {5 * 4096 + 100, 4096}, {100000, 1000}, {3000000000, 512}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.size);
    RunOwners st;
    calibrated(st, row.size, row.block, false);
    // fixed = 1 and range = size - block - 2: drawn values are 1 .. size - block - 2.
    const std::uint64_t last = (row.size - row.block - 2) / row.block * row.block;
    const OffsetSide side(true, st.plan.calibration.input_range, st.plan.calibration.input_fixed,
                          row.block);
    UniformSource uniform(5);
    std::uint64_t low = UINT64_MAX, high = 0;
    for (int i = 0; i < 20000; ++i) {
      const std::uint64_t at = side.next(&uniform, nullptr, st.context.random);
      ASSERT_EQ(at % row.block, 0u);
      ASSERT_LE(at, last);
      low = std::min(low, at);
      high = std::max(high, at);
    }
    if (row.size < 1000000) {
      EXPECT_EQ(low, 0u);
      EXPECT_EQ(high, last);
    }
  }
}

// The shape of each draw over a 3 GB input: 200,000 offsets counted by tenths of the range.
// The digit-wise draw favours the middle; the uniform one does not.
TEST(DrawTest, TheDigitWiseDrawFavoursTheMiddleAndTheUniformOneDoesNot) {
  constexpr std::uint64_t kSize = 3000000000;
  constexpr int kDraws = 200000;
  RunOwners st;
  calibrated(st, kSize, 512, false);
  const OffsetSide side(true, st.plan.calibration.input_range, st.plan.calibration.input_fixed,
                        512);
  for (const bool uniform : {false, true}) {
    st.context.random.seed(1);
    UniformSource source(1);
    int tenths[10] = {};
    for (int i = 0; i < kDraws; ++i) {
      const std::uint64_t at = side.next(uniform ? &source : nullptr, nullptr, st.context.random);
      ++tenths[at / (kSize / 10)];
    }
    std::printf("%s:", uniform ? "uniform   " : "digit-wise");
    for (const int n : tenths) std::printf(" %5.1f%%", 100.0 * n / kDraws);
    const double ends = (tenths[0] + tenths[9]) / 2.0;
    const double middle = (tenths[4] + tenths[5]) / 2.0;
    std::printf("  middle/ends %.2f\n", middle / ends);
    if (uniform) {
      for (const int n : tenths) EXPECT_NEAR(n, kDraws / 10, kDraws / 100);
    } else {
      EXPECT_GT(middle / ends, 3.0);
    }
  }
}

// Unlimited iterations run past 2^31 and 2^32: their numbers are printed in full.
TEST(DrawTest, IterationNumbersArePrintedInFull) {
  RunOwners st;
  st.context.shape.unlimited = true;
  st.files.apply_skip = true;
  Settings s;
  s.verboseflag = 1;
  for (const std::uint64_t number : {std::uint64_t{2147483649}, std::uint64_t{6000000000}}) {
    testing::internal::CaptureStderr();
    report_entry(st.files, st.context.shape, s, PlanEntry{4096, 0}, number, posix_profile);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nRunning iteration " + std::to_string(number) +
                  " with skip (in bytes) as follows:\nskip: 4096\n");
  }
}

}  // namespace
}  // namespace kolvane

// rate=: the schedule's due times against their formulas, and the meter timing a paced run whose
// device stalls, on a clock the test moves.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "manual_clock.h"
#include "measure/meter.h"
#include "measure/schedule.h"
#include "run/run_control.h"

namespace kolvane {
namespace {

constexpr std::uint64_t t0 = ManualClock::kStart;

TEST(Schedule, EvenDueTimesAreIOverN) {
  const struct {
    std::uint64_t rate;
    std::uint64_t first_due[4];
  } table[] = {
      {3, {0, 333333333, 666666666, 1000000000}},
      {1, {0, 1000000000, 2000000000, 3000000000}},
      {1000000000, {0, 1, 2, 3}},
  };
  for (const auto& row : table) {
    RateSchedule schedule(row.rate, false, 7);
    for (std::uint64_t want : row.first_due) EXPECT_EQ(schedule.take(t0), t0 + want) << row.rate;
  }
  // Counting what a long run at the top rate left: 20 s at 10^9 per second is past what
  // t x N fits in 64 bits.
  RateSchedule fast(1000000000, false, 7);
  fast.take(t0);
  EXPECT_EQ(fast.untaken_by(t0 + 20000000000u), 20000000000u);
  EXPECT_EQ(fast.untaken_by(t0 - 1), 0u);
}

TEST(Schedule, PoissonGapsAreExponentialOfMeanOneOverN) {
  RateSchedule schedule(5000, true, 11);
  constexpr int n = 200000;
  std::uint64_t previous = schedule.take(t0);
  double sum = 0;
  int above_mean = 0;
  for (int i = 0; i < n; ++i) {
    const std::uint64_t due = schedule.take(t0);
    sum += static_cast<double>(due - previous);
    above_mean += due - previous > 200000 ? 1 : 0;
    previous = due;
  }
  // The mean's standard error is 0.22 % of it, and P(gap > mean) = 1/e with an error of 0.001.
  EXPECT_NEAR(sum / n, 200000.0, 2000.0);
  EXPECT_NEAR(static_cast<double>(above_mean) / n, std::exp(-1.0), 0.005);

  // The same seed gives the same schedule; what is left untaken counts the draws still to come.
  RateSchedule a(5000, true, 11);
  RateSchedule b(5000, true, 11);
  std::vector<std::uint64_t> due;
  for (int i = 0; i < 10; ++i) due.push_back(a.take(t0));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(b.take(t0), due[i]);
  EXPECT_EQ(b.untaken_by(due[7]), 3u);
  std::uint64_t ignored = 0;
  EXPECT_FALSE(b.take_if_due(due[5] - 1, ignored));
  EXPECT_TRUE(b.take_if_due(due[5], ignored));
  EXPECT_EQ(ignored, due[5]);
}

// A device that stalls 200 ms on one read at 5,000 reads a second: the reads due during the
// stall wait for it, and each is timed from its due time, so about a thousand show up late in
// the latency and none in the service time, which is the device's alone.
TEST(Pacing, AStallMakesTheReadsDueDuringItLateButNotSlow) {
  ManualClock clock;
  RunControl control;
  control.set_clock(clock);
  RateSchedule schedule(5000, false, 1);
  Meter meter;
  meter.set_clock(clock);
  meter.time_directions(true, false);
  meter.pace(schedule, control, true, false);
  for (int i = 0; i < 3000; ++i) {
    const IoStart start = meter.begin(IoDirection::read);
    if (i == 100)
      clock.advance(200000000);
    meter.end(IoDirection::read, start, 4096);
    // Right after the stall, a thousand more were due than had completed.
    if (i == 100) {
      EXPECT_TRUE(meter.behind_schedule(0.01));
    }
  }
  EXPECT_FALSE(meter.behind_schedule(0.01));
  const auto above = [](const LatencyHistogram& h, std::uint64_t ns) {
    std::uint64_t n = 0;
    h.for_each_bucket([&](const LatencyBucket& b) { n += b.low_ns > ns ? b.count : 0; });
    return n;
  };
  const DirectionMeter& reads = meter.direction(IoDirection::read);
  // Reads 100..1098 were due more than one gap (200 us) before they could go out.
  EXPECT_NEAR(static_cast<double>(above(reads.latency, 201000)), 999.0, 5.0);
  EXPECT_EQ(reads.latency.max_ns(), 200000000u);
  EXPECT_EQ(above(reads.service, 1000), 1u);
  EXPECT_EQ(reads.service.max_ns(), 200000000u);
  EXPECT_NEAR(static_cast<double>(meter.pace_figures().late), 998.0, 5.0);
  // The schedule was kept: 3,000 reads over 2,999 gaps.
  EXPECT_NEAR(*meter.achieved_rate(), 5000.0 * 3000 / 2999, 0.01);
}

}  // namespace
}  // namespace kolvane

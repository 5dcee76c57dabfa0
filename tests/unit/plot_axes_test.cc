#include "report/plot_axes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "report/plot_units.h"

namespace kolvane {
namespace {

TEST(PlotAxes, LinearTicksAreRoundAndCoverTheData) {
  const struct {
    double lo, hi;
    int max;
    std::vector<double> values;
    std::vector<std::string> labels;
  } cases[] = {
      {0, 1, 5, {0, 0.2, 0.4, 0.6, 0.8, 1}, {"0.0", "0.2", "0.4", "0.6", "0.8", "1.0"}},
      {0, 7, 5, {0, 2, 4, 6, 8}, {"0", "2", "4", "6", "8"}},
      {0, 0, 4, {0, 0.5, 1}, {"0.0", "0.5", "1.0"}},  // nothing to show: still an axis
      {0, 0.3, 3, {0, 0.1, 0.2, 0.3}, {"0.0", "0.1", "0.2", "0.3"}},
      {0, 12345, 4, {0, 5000, 10000, 15000}, {"0", "5k", "10k", "15k"}},
      {0, 3.6e6, 4, {0, 1e6, 2e6, 3e6, 4e6}, {"0", "1M", "2M", "3M", "4M"}},
      {0, 1.2e6, 4, {0, 5e5, 1e6, 1.5e6}, {"0.0", "0.5M", "1.0M", "1.5M"}},
      {0, 9000, 4, {0, 5000, 10000}, {"0", "5k", "10k"}},
      {0, 0.0042, 4, {0, 0.002, 0.004, 0.006}, {"0.000", "0.002", "0.004", "0.006"}},
      {3, 17, 5, {0, 5, 10, 15, 20}, {"0", "5", "10", "15", "20"}},
  };
  for (const auto& c : cases) {
    const LinearTicks t = linear_ticks(c.lo, c.hi, c.max);
    ASSERT_EQ(t.values.size(), c.values.size()) << c.lo << ".." << c.hi;
    for (std::size_t i = 0; i < c.values.size(); ++i)
      EXPECT_DOUBLE_EQ(t.values[i], c.values[i]) << c.lo << ".." << c.hi << " #" << i;
    EXPECT_EQ(tick_labels(t), c.labels) << c.lo << ".." << c.hi;
  }

  // Over many ranges: steps of 1, 2 or 5 times a power of ten, every value a whole number of
  // steps, the data inside, not more intervals than asked nor fewer than two.
  for (double hi = 1e-6; hi < 1e12; hi *= 1.37) {
    for (int max : {4, 5, 8}) {
      const LinearTicks t = linear_ticks(0, hi, max);
      const double mantissa = t.step / std::pow(10.0, std::floor(std::log10(t.step) + 1e-9));
      EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 ||
                  std::fabs(mantissa - 5) < 1e-9)
          << hi << ": step " << t.step;
      const auto intervals = static_cast<int>(t.values.size()) - 1;
      EXPECT_LE(intervals, max) << hi;
      EXPECT_GE(intervals, 2) << hi;
      EXPECT_LE(t.values.front(), 0) << hi;
      EXPECT_GE(t.values.back(), hi) << hi;
      EXPECT_LT(t.values.back() - t.step, hi) << hi;  // no tick wasted past the data
      for (double v : t.values) {
        const double steps = v / t.step;
        EXPECT_NEAR(steps, std::round(steps), 1e-9) << hi << ": " << v;
      }
    }
  }
}

TEST(PlotAxes, DecadesSpanTheDurationsAndReadInTheirUnits) {
  const struct {
    std::uint64_t lo, hi;
    std::vector<std::uint64_t> decades;
  } cases[] = {
      {150, 25000, {100, 1000, 10000, 100000}},
      {1000, 1000, {1000, 10000}},  // a single duration still gets a decade
      {1000, 1001, {1000, 10000}},
      {999, 1000, {100, 1000}},
      {0, 1, {1, 10}},
      {7,
       3600000000000,
       {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000, 10000000000,
        100000000000, 1000000000000, 10000000000000}},
      {UINT64_MAX, UINT64_MAX, {1000000000000000000, 10000000000000000000u}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(decade_ticks(c.lo, c.hi), c.decades) << c.lo << ".." << c.hi;

  const std::pair<std::uint64_t, const char*> labels[] = {
      {1, "1 ns"},         {100, "100 ns"},     {1000, "1 \xC2\xB5s"},    {100000, "100 \xC2\xB5s"},
      {10000000, "10 ms"}, {1000000000, "1 s"}, {1000000000000, "1000 s"}};
  for (const auto& [ns, label] : labels) EXPECT_EQ(decade_label(ns), label);

  const std::pair<double, const char*> durations[] = {{0, "0.00 ns"},
                                                      {999.4, "999 ns"},
                                                      {999.5, "1.00 \xC2\xB5s"},
                                                      {1, "1.00 ns"},
                                                      {850, "850 ns"},
                                                      {99.96, "100 ns"},
                                                      {999.7, "1.00 \xC2\xB5s"},
                                                      {12345, "12.3 \xC2\xB5s"},
                                                      {999999, "1.00 ms"},
                                                      {2000000, "2.00 ms"},
                                                      {3.6e9, "3.60 s"},
                                                      {3.6e12, "3600 s"}};
  for (const auto& [ns, text] : durations) EXPECT_EQ(duration_text(ns), text) << ns;
}

TEST(PlotAxes, CountsStandOnALogAxisWhereASingleIoShows) {
  const CountAxis a = count_axis(3000, 100, 310);
  EXPECT_EQ(a.decades, (std::vector<double>{1, 10, 100, 1000, 10000}));
  // Four decades and the half under 1: 210 px in steps of 46.7 px a decade.
  EXPECT_DOUBLE_EQ(a.y(10000), 100);
  EXPECT_NEAR(a.y(1000) - a.y(10000), 210 / 4.5, 1e-9);
  EXPECT_NEAR(a.y(1) - a.y(10), a.y(100) - a.y(1000), 1e-9);
  // A bin of one I/O among thousands stands as a bar at the bottom decade; nothing under the
  // floor does.
  EXPECT_NEAR(310 - a.y(1), 210 / 9.0, 1e-9);
  EXPECT_GT(310 - a.y(0.5), 0);
  EXPECT_DOUBLE_EQ(a.y(0.3), 310);
  EXPECT_DOUBLE_EQ(a.y(0), 310);
  // A top bin of one I/O still gets a decade.
  EXPECT_EQ(count_axis(1, 0, 1).decades, (std::vector<double>{1, 10}));
}

}  // namespace
}  // namespace kolvane

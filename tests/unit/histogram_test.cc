#include "measure/histogram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace kolvane {
namespace {

using H = LatencyHistogram;
constexpr std::uint64_t kHourNs = 3'600'000'000'000;

// Durations from 100 ns to an hour, spread evenly over the logarithm (the engine of the
// standard's mt19937_64 gives the same sequence everywhere), plus clusters of equal values.
std::vector<std::uint64_t> known_durations() {
  std::mt19937_64 engine(20261208);
  std::vector<std::uint64_t> d;
  const double span = std::log(static_cast<double>(kHourNs) / 100.0);
  for (int i = 0; i < 20000; ++i) {
    const double u = static_cast<double>(engine() >> 11) / 9007199254740992.0;
    d.push_back(static_cast<std::uint64_t>(100.0 * std::exp(u * span)));
  }
  d.insert(d.end(), 3000, 2000);
  d.insert(d.end(), 500, 3001);
  return d;
}

TEST(LatencyHistogram, PercentilesWithinOnePercentOfTheSortedDurations) {
  std::vector<std::uint64_t> d = known_durations();
  H h;
  for (std::uint64_t ns : d) {
    h.record(ns);
  }
  std::sort(d.begin(), d.end());
  const std::uint64_t n = d.size();
  // p in hundredths of a percent, so the exact rank is integer arithmetic.
  for (std::uint64_t p100 : {0, 1, 100, 1000, 2500, 5000, 7500, 9000, 9900, 9990, 9999, 10000}) {
    const std::uint64_t rank = std::max<std::uint64_t>(1, (p100 * n + 9999) / 10000);
    const double exact = static_cast<double>(d[rank - 1]);
    const double got = static_cast<double>(h.percentile_ns(static_cast<double>(p100) / 100.0));
    EXPECT_LE(std::fabs(got - exact), exact * 0.01) << "p" << p100 / 100.0 << " rank " << rank;
  }
  EXPECT_EQ(h.percentile_ns(0), d.front());
  EXPECT_EQ(h.percentile_ns(100), d.back());
  EXPECT_EQ(h.min_ns(), d.front());
  EXPECT_EQ(h.max_ns(), d.back());
  EXPECT_EQ(h.count(), n);
  long double sum = 0;
  for (std::uint64_t ns : d) {
    sum += ns;
  }
  EXPECT_DOUBLE_EQ(h.mean_ns(), static_cast<double>(sum / n));
}

TEST(LatencyHistogram, RankOfAWholeShareIsNotRoundedUp) {
  H h;
  for (std::uint64_t ns = 1; ns <= 1000; ++ns) {
    h.record(ns);
  }
  // 99.9 % of 1000 is the 999th duration, in [996, 1000); the 1000th is in the next bucket.
  EXPECT_EQ(h.percentile_ns(99.9), 998u);
  EXPECT_EQ(h.percentile_ns(99.99), 1000u);  // the middle, 1002, is past the maximum
  EXPECT_EQ(h.percentile_ns(10), 100u);      // 1 ns buckets: exact
  EXPECT_EQ(h.percentile_ns(0.1), 1u);

  // 99.9 * 41000 / 100 comes out a hair above 40959 in binary floating point.
  H rounding;
  for (int i = 0; i < 41000; ++i) {
    rounding.record(i < 40959 ? 100 : 1'000'000);
  }
  EXPECT_EQ(rounding.percentile_ns(99.9), 100u);
}

TEST(LatencyHistogram, BucketBoundsAreFixedContiguousAndNarrow) {
  // The layout is part of the JSON report: runs merge only if every build keeps these.
  const struct {
    std::uint64_t ns;
    std::size_t index;
    std::uint64_t low, high;
  } golden[] = {
      {0, 0, 0, 1},
      {255, 255, 255, 256},
      {256, 256, 256, 258},
      {1000, 506, 1000, 1004},
      {1'000'000, 1780, 999'424, 1'003'520},
      {kHourNs, 4561, 3'590'592'659'456, 3'607'772'528'640},
      {H::kMaxTracked, H::kBuckets - 1, 255ull << 34, 1ull << 42},
      {UINT64_MAX, H::kBuckets - 1, 255ull << 34, 1ull << 42},
  };
  for (const auto& g : golden) {
    EXPECT_EQ(H::bucket_index(g.ns), g.index) << g.ns;
    EXPECT_EQ(H::bucket_low_ns(g.index), g.low) << g.ns;
    EXPECT_EQ(H::bucket_high_ns(g.index), g.high) << g.ns;
  }
  EXPECT_EQ(H::kBuckets, 4608u);
  for (std::size_t i = 0; i < H::kBuckets; ++i) {
    const std::uint64_t low = H::bucket_low_ns(i);
    const std::uint64_t high = H::bucket_high_ns(i);
    ASSERT_EQ(H::bucket_index(low), i);
    ASSERT_EQ(H::bucket_index(high - 1), i);
    if (i + 1 < H::kBuckets) {
      ASSERT_EQ(H::bucket_low_ns(i + 1), high);
    }
    // Half a bucket, the most the middle can be off, is at most 1 % of any duration from 100 ns.
    if (low >= 100) {
      ASSERT_LE((high - low) * 100, 2 * low) << i;
    }
  }
}

TEST(LatencyHistogram, MergeIsExact) {
  const std::vector<std::uint64_t> d = known_durations();
  H a, b, all;
  for (std::size_t i = 0; i < d.size(); ++i) {
    (i % 3 == 0 ? a : b).record(d[i] + i % 7);
    all.record(d[i] + i % 7);
  }
  b.record(0);
  all.record(0);
  H merged = a;
  merged.merge(b);
  EXPECT_EQ(merged.count(), all.count());
  EXPECT_EQ(merged.min_ns(), 0u);
  EXPECT_EQ(merged.max_ns(), all.max_ns());
  EXPECT_EQ(merged.mean_ns(), all.mean_ns());
  for (std::size_t i = 0; i < H::kBuckets; ++i) {
    ASSERT_EQ(merged.bucket_count(i), all.bucket_count(i)) << i;
  }
  H empty;
  merged.merge(empty);  // an empty run changes nothing, its min included
  EXPECT_EQ(merged.min_ns(), 0u);
  empty.merge(a);
  EXPECT_EQ(empty.min_ns(), a.min_ns());
  EXPECT_EQ(empty.max_ns(), a.max_ns());
}

TEST(LatencyHistogram, Edges) {
  const struct {
    std::vector<std::uint64_t> recorded;
    std::uint64_t min, max, p50, p100;
    double mean;
  } cases[] = {
      {{}, 0, 0, 0, 0, 0.0},
      {{0}, 0, 0, 0, 0, 0.0},
      {{1234567}, 1234567, 1234567, 1234567, 1234567, 1234567.0},  // kept within min and max
      {{2 * kHourNs}, 2 * kHourNs, 2 * kHourNs, 2 * kHourNs, 2 * kHourNs, 2.0 * kHourNs},
      {{1000, 1000, 2 * kHourNs}, 1000, 2 * kHourNs, 1002, 2 * kHourNs, (2000.0 + 2 * kHourNs) / 3},
  };
  for (const auto& c : cases) {
    H h;
    for (std::uint64_t ns : c.recorded) {
      h.record(ns);
    }
    EXPECT_EQ(h.count(), c.recorded.size());
    EXPECT_EQ(h.min_ns(), c.min);
    EXPECT_EQ(h.max_ns(), c.max);
    EXPECT_EQ(h.percentile_ns(50), c.p50);
    EXPECT_EQ(h.percentile_ns(100), c.p100);
    EXPECT_EQ(h.percentile_ns(150), c.p100);
    EXPECT_EQ(h.percentile_ns(-1), c.min);
    EXPECT_DOUBLE_EQ(h.mean_ns(), c.mean);
  }
  H beyond;
  beyond.record(2 * kHourNs);
  EXPECT_EQ(beyond.bucket_count(H::kBuckets - 1), 1u);  // clamped into the last bucket
}

}  // namespace
}  // namespace kolvane

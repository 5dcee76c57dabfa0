#include "measure/series.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "manual_clock.h"
#include "measure/meter.h"

namespace kolvane {
namespace {

constexpr std::uint64_t kMs = 1000000;

struct Io {
  std::uint64_t ns;  // the completion, after the series' start
  IoDirection direction;
  std::uint64_t latency_ns;
  std::uint64_t bytes;
};

// `count` completions spread over [0, last_ns] (one at last_ns), of latencies from 100 ns to
// about 100 ms, shuffled: completions out of order.
std::vector<Io> random_ios(std::uint64_t seed, std::size_t count, std::uint64_t last_ns) {
  std::mt19937_64 gen(seed);
  std::vector<Io> ios;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t ns = i + 1 == count ? last_ns : gen() % (last_ns + 1);
    ios.push_back({ns, gen() % 3 == 0 ? IoDirection::write : IoDirection::read,
                   100 + (gen() % 1000) * (std::uint64_t{1} << (gen() % 17)), gen() % 65536 + 1});
  }
  std::shuffle(ios.begin(), ios.end(), gen);
  return ios;
}

// What a slot must hold, summed here the slow way: every I/O that completed inside it.
void expect_holds(const SeriesSlot& slot, const std::vector<Io>& ios) {
  for (const IoDirection d : {IoDirection::read, IoDirection::write}) {
    LatencyHistogram h;
    std::uint64_t bytes = 0;
    for (const Io& io : ios) {
      if (io.direction == d && io.ns >= slot.start_ns && io.ns < slot.start_ns + slot.length_ns) {
        h.record(io.latency_ns);
        bytes += io.bytes;
      }
    }
    const SeriesCounts& c = slot.of(d);
    EXPECT_EQ(c.ios, h.count());
    EXPECT_EQ(c.bytes, bytes);
    EXPECT_EQ(c.max_ns, h.max_ns());
    std::vector<LatencyBucket> want;
    h.for_each_bucket([&](const LatencyBucket& b) { want.push_back(b); });
    ASSERT_EQ(c.buckets.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(c.buckets[i].low_ns, want[i].low_ns);
      EXPECT_EQ(c.buckets[i].high_ns, want[i].high_ns);
      EXPECT_EQ(c.buckets[i].count, want[i].count);
    }
  }
}

// Contiguous slots from 0, each of `length_ns`, covering the last completion and no slot past
// it, each holding what completed in it.
void expect_series(const LatencySeries& series, const std::vector<Io>& ios,
                   std::uint64_t length_ns) {
  const std::uint64_t last = std::max_element(ios.begin(), ios.end(), [](const Io& a, const Io& b) {
                               return a.ns < b.ns;
                             })->ns;
  EXPECT_EQ(series.record_ns(), length_ns);
  const std::vector<SeriesSlot> slots = series.slots();
  ASSERT_EQ(slots.size(), last / length_ns + 1);
  std::uint64_t next = 0;
  for (const SeriesSlot& slot : slots) {
    SCOPED_TRACE(testing::Message() << "slot at " << slot.start_ns);
    EXPECT_EQ(slot.start_ns, next);
    EXPECT_EQ(slot.length_ns, length_ns);
    expect_holds(slot, ios);
    next += length_ns;
  }
}

TEST(LatencySeries, RecordsStartFineAndMergeToTheIntervalAndTheCap) {
  const struct {
    const char* name;
    std::uint32_t interval_ms;
    std::size_t max_records;
    std::uint64_t last_ns;  // the run's last completion
    std::uint64_t record_ns;
  } cases[] = {
      {"half an interval keeps sixteenths", 1000, 1024, 500 * kMs, 62500000},
      {"three intervals: quarters", 1000, 1024, 2999 * kMs, 250 * kMs},
      {"twenty halves are not too many", 1000, 1024, 9999 * kMs, 500 * kMs},
      {"just over ten intervals", 1000, 1024, 10500 * kMs, 1000 * kMs},
      {"fifteen intervals", 1000, 1024, 14999 * kMs, 1000 * kMs},
      {"a long run stays at the interval", 1000, 1024, 900 * 1000 * kMs, 1000 * kMs},
      {"past 1024 intervals", 10, 1024, 30000 * kMs, 40 * kMs},
      {"a small cap", 1000, 8, 15000 * kMs, 2000 * kMs},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Io> ios = random_ios(c.last_ns, 3000, c.last_ns);
    LatencySeries series(c.interval_ms, c.max_records);
    for (const Io& io : ios) series.record(io.ns, io.direction, io.latency_ns, io.bytes);
    expect_series(series, ios, c.record_ns);
    EXPECT_LE(series.records_held(), c.max_records);
  }
}

// Every fine record touches its own 64 buckets: past the cap on memory pairs merge (the
// buckets they share are held once), and nothing is lost.
TEST(LatencySeries, BucketsBeyondTheMemoryCapMergePairs) {
  std::vector<Io> ios;
  for (std::uint64_t r = 0; r < 16; ++r) {
    for (std::uint64_t k = 0; k < 64; ++k)
      ios.push_back({r * 62500000 + k, IoDirection::read, 1000 + 8 * k, 512});
  }
  const std::size_t cap = 8192;
  LatencySeries unbounded(1000);
  LatencySeries capped(1000, LatencySeries::kMaxRecords, cap);
  for (const Io& io : ios) {
    unbounded.record(io.ns, io.direction, io.latency_ns, io.bytes);
    capped.record(io.ns, io.direction, io.latency_ns, io.bytes);
  }
  EXPECT_EQ(unbounded.record_ns(), 62500000u);
  EXPECT_GT(unbounded.bytes_held(), cap);
  EXPECT_LE(capped.bytes_held(), cap);
  EXPECT_GT(capped.record_ns(), 62500000u);
  expect_series(capped, ios, capped.record_ns());
}

// Series of workers counted from one start add up to the series one meter fed every I/O would
// hold, bucket for bucket, whichever had merged further.
TEST(LatencySeries, AddingIsFeedingBoth) {
  const std::vector<Io> short_run = random_ios(1, 500, 2999 * kMs);   // 250 ms records
  const std::vector<Io> long_run = random_ios(2, 2000, 14999 * kMs);  // 1 s records
  std::vector<Io> both = short_run;
  both.insert(both.end(), long_run.begin(), long_run.end());
  const auto fed = [](const std::vector<Io>& ios) {
    LatencySeries s(1000);
    for (const Io& io : ios) s.record(io.ns, io.direction, io.latency_ns, io.bytes);
    return s;
  };
  LatencySeries fine = fed(short_run);
  LatencySeries coarse = fed(long_run);
  ASSERT_EQ(fine.record_ns(), 250 * kMs);
  const LatencySeries all = fed(both);
  const LatencySeries fine_first = fine;
  fine.add(coarse);
  coarse.add(fine_first);
  expect_series(all, both, 1000 * kMs);
  for (const LatencySeries* sum : {&fine, &coarse}) expect_series(*sum, both, 1000 * kMs);
}

// The meter records in the series each I/O's latency as its histogram has it, at the
// completion's time from its start; a meter asked for none holds none, and one that adds a
// meter with a series takes it.
TEST(LatencySeries, TheMeterKeepsItOnlyWhenAsked) {
  ManualClock clock;
  Meter plain, kept;
  for (Meter* m : {&plain, &kept}) {
    m->set_clock(clock);
    m->time_directions(true, true);
  }
  kept.keep_series(100);
  for (std::uint64_t i = 0; i < 40; ++i) {
    for (Meter* m : {&plain, &kept}) {
      const IoDirection d = i % 4 == 0 ? IoDirection::write : IoDirection::read;
      const IoStart began = m->begin(d);
      clock.advance((i % 7 + 1) * kMs);
      m->end(d, began, 4096);
    }
  }
  EXPECT_EQ(plain.series(), nullptr);
  ASSERT_NE(kept.series(), nullptr);
  Meter whole;
  whole.add(plain);
  EXPECT_EQ(whole.series(), nullptr);
  whole.add(kept);
  whole.add(kept);
  ASSERT_NE(whole.series(), nullptr);
  const std::vector<SeriesSlot> slots = kept.series()->slots();
  // The kept meter's I/Os took 1 to 7 ms of clock each, the plain one's as long in between:
  // some 310 ms from its first I/O's start to its last completion, in records of 25 ms.
  EXPECT_EQ(kept.series()->record_ns(), 25 * kMs);
  const std::vector<SeriesSlot> doubled = whole.series()->slots();
  ASSERT_EQ(doubled.size(), slots.size());
  for (const IoDirection d : {IoDirection::read, IoDirection::write}) {
    LatencyHistogram in_series;
    std::uint64_t ios = 0, twice = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
      for (const LatencyBucket& b : slots[i].of(d).buckets)
        for (std::uint64_t n = 0; n < b.count; ++n) in_series.record(b.low_ns);
      ios += slots[i].of(d).ios;
      twice += doubled[i].of(d).ios;
    }
    const LatencyHistogram& h = kept.direction(d).latency;
    EXPECT_EQ(ios, h.count());
    EXPECT_EQ(twice, 2 * h.count());
    for (std::size_t i = 0; i < LatencyHistogram::kBuckets; ++i)
      EXPECT_EQ(in_series.bucket_count(i), h.bucket_count(i)) << i;
  }
}

}  // namespace
}  // namespace kolvane

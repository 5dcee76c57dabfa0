// How a run is shared out among workers: every iteration and every block once, the parts of a
// writing run's output apart, and what an unfinished split copy counts; and the whole's figures
// as the exact sum of the workers'.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "manual_clock.h"
#include "measure/meter.h"
#include "measure/timeline.h"
#include "workers/share.h"

namespace kolvane {
namespace {

TEST(WorkerShare, EveryIterationAndBlockOnceWithTheRemainderSpread) {
  const struct {
    std::uint64_t total;
    std::uint32_t workers;
    std::vector<std::uint64_t> sizes;  // each worker's blocks
  } cases[] = {
      {10, 3, {3, 3, 4}},  {2, 3, {0, 1, 1}},
      {7, 1, {7}},         {255, 256, {}},  // checked by the sums alone
      {UINT64_MAX, 7, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.total << " among " << c.workers);
    std::uint64_t next = 0;
    std::uint64_t iterations = 0;
    for (std::uint32_t w = 0; w < c.workers; ++w) {
      const BlockRange r = blocks_of(w, c.workers, c.total);
      EXPECT_EQ(r.first, next);
      // Ranges differ by at most one block.
      EXPECT_LE(r.size(), c.total / c.workers + 1);
      EXPECT_GE(r.size(), c.total / c.workers);
      if (!c.sizes.empty()) {
        EXPECT_EQ(r.size(), c.sizes[w]);
      }
      next = r.end;
      if (c.total <= UINT32_MAX) {
        const auto total = static_cast<std::uint32_t>(c.total);
        const std::uint32_t n = iterations_of(w, c.workers, total);
        // Iterations w, w + N, ...: the last one is below the total, the next one is not.
        if (n != 0) {
          EXPECT_LT(w + std::uint64_t{n - 1} * c.workers, c.total);
        }
        EXPECT_GE(w + std::uint64_t{n} * c.workers, c.total);
        iterations += n;
      }
    }
    EXPECT_EQ(next, c.total);
    if (c.total <= UINT32_MAX) {
      EXPECT_EQ(iterations, c.total);
    }
  }
  EXPECT_EQ(worker_seed(UINT32_MAX, 0, 4, 1), 0u);
  EXPECT_EQ(worker_seed(10, 2, 4, 3), 21u);
}

TEST(WorkerShare, WritingWorkersKeepToPartsOfTheirOwn) {
  // Entries of 3 input blocks (of 512 or 700 bytes) written in output blocks of 512, starting at
  // fixed + r (fixed one past a seek of 2 blocks, as the planner gives it), rounded down.
  const std::uint64_t block = 512;
  const StartRange whole{2 * block + 1, 40 * block};
  for (const std::uint64_t span : {3 * block, std::uint64_t{3 * 700}}) {
    for (const std::uint32_t workers : {1u, 2u, 3u, 7u}) {
      SCOPED_TRACE(testing::Message() << "span " << span << ", " << workers << " workers");
      std::uint64_t previous_end = 0;
      for (std::uint32_t w = 0; w < workers; ++w) {
        const std::optional<StartRange> part = start_range_of(w, workers, whole, span, block);
        ASSERT_TRUE(part);
        const std::uint64_t lowest = part->fixed / block * block;
        const std::uint64_t highest = (part->fixed + part->range - 1) / block * block;
        EXPECT_GE(lowest, previous_end);
        EXPECT_GE(lowest, whole.fixed / block * block);
        EXPECT_LE(highest + span, whole.fixed + whole.range - 1 + span);
        previous_end = highest + span;
      }
    }
  }
  // 11 parts of 1536 bytes hold one entry each, but no choice of where it starts.
  EXPECT_FALSE(start_range_of(0, 11, whole, 3 * block, block));
  EXPECT_TRUE(start_range_of(0, 10, whole, 3 * block, block));
}

TEST(WorkerShare, AnUnfinishedSplitCopyCountsItsPrefix) {
  const std::vector<BlockRange> ranges{{0, 3}, {3, 6}, {6, 10}};
  const struct {
    std::vector<std::uint64_t> copied;
    std::uint32_t last_counted;
    std::vector<CopiedSpan> beyond;
  } cases[] = {
      {{3, 3, 4}, 2, {}},
      {{3, 1, 4}, 1, {{6, 4}}},
      {{0, 3, 2}, 0, {{3, 3}, {6, 2}}},
      {{3, 3, 0}, 2, {}},
  };
  for (const auto& c : cases) {
    const SplitCopyEnd end = split_copy_end(ranges, c.copied);
    EXPECT_EQ(end.last_counted, c.last_counted);
    ASSERT_EQ(end.beyond.size(), c.beyond.size());
    for (std::size_t i = 0; i < c.beyond.size(); ++i) {
      EXPECT_EQ(end.beyond[i].first, c.beyond[i].first);
      EXPECT_EQ(end.beyond[i].blocks, c.beyond[i].blocks);
    }
  }
}

// Two workers' meters: the whole holds every I/O of both, bucket by bucket, from the earlier
// first I/O to the later last completion.
TEST(WorkerShare, TheWholeIsTheExactSumOfTheWorkers) {
  ManualClock clock;
  Meter a, b;
  for (Meter* m : {&a, &b}) {
    m->set_clock(clock);
    m->time_directions(true, false);
  }
  const auto io = [&](Meter& m, std::uint64_t took_ns) {
    const IoStart began = m.begin(IoDirection::read);
    clock.advance(took_ns);
    m.end(IoDirection::read, began, 4096);
  };
  for (const std::uint64_t ns : {100, 5000, 5001, 90000}) io(a, ns);
  for (const std::uint64_t ns : {5000, 7000000}) io(b, ns);
  Meter whole;
  whole.add(a);
  whole.add(b);
  const DirectionMeter& sum = whole.direction(IoDirection::read);
  EXPECT_EQ(sum.ios, 6u);
  EXPECT_EQ(sum.bytes, 6u * 4096);
  for (std::size_t i = 0; i < LatencyHistogram::kBuckets; ++i)
    ASSERT_EQ(sum.latency.bucket_count(i),
              a.direction(IoDirection::read).latency.bucket_count(i) +
                  b.direction(IoDirection::read).latency.bucket_count(i));
  EXPECT_EQ(whole.origin_ns(), a.origin_ns());
  EXPECT_EQ(whole.elapsed_ns(), b.direction(IoDirection::read).last_end_ns - a.origin_ns());
}

// Timelines counted from one start add second by second, whatever resolution each came to.
TEST(WorkerShare, TimelinesAddAtTheCoarserResolution) {
  Timeline fine(16), coarse(4);
  for (std::uint64_t s = 0; s < 9; ++s) coarse.record(s * 1000000000 + 5, IoDirection::read, 1);
  fine.record(1000000000, IoDirection::write, 1);
  fine.record(2500000000, IoDirection::write, 1);
  ASSERT_EQ(coarse.seconds_per_record(), 4u);
  fine.add(coarse);
  EXPECT_EQ(fine.seconds_per_record(), 4u);
  const std::vector<TimelineSlot> slots = fine.slots();
  ASSERT_EQ(slots.size(), 3u);
  EXPECT_EQ(slots[0].counts, (IoCounts{4, 4, 2, 2}));
  EXPECT_EQ(slots[1].counts, (IoCounts{4, 4, 0, 0}));
  EXPECT_EQ(slots[2].counts, (IoCounts{1, 1, 0, 0}));
}

}  // namespace
}  // namespace kolvane

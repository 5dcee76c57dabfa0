#include "measure/timeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace kolvane {
namespace {

constexpr std::uint64_t kSecond = 1000000000;

struct Io {
  std::uint64_t ns;
  IoDirection direction;
  std::uint64_t bytes;
};

// What a slot must hold: every I/O whose second lies inside it, summed here the slow way.
IoCounts expected_in(const std::vector<Io>& ios, const TimelineSlot& slot) {
  IoCounts c;
  for (const Io& io : ios) {
    const std::uint64_t s = io.ns / kSecond;
    if (s < slot.start_s || s >= slot.start_s + slot.length_s)
      continue;
    (io.direction == IoDirection::read ? c.read_ios : c.write_ios) += 1;
    (io.direction == IoDirection::read ? c.read_bytes : c.write_bytes) += io.bytes;
  }
  return c;
}

TEST(Timeline, SlotsHoldWhatCompletedInThemAtEveryResolution) {
  const struct {
    const char* name;
    std::size_t cap;
    std::uint64_t last_second;  // the run's last I/O completes in this second
    std::uint64_t per_record;   // seconds per record at the end
  } cases[] = {
      {"one second", 8, 0, 1},
      {"exactly the cap", 8, 7, 1},
      {"one past the cap", 8, 8, 2},
      {"three halvings", 8, 63, 8},
      {"one past three halvings", 8, 64, 16},
      {"odd cap", 5, 12, 4},
      {"smallest cap", 2, 100, 64},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937_64 gen(c.last_second * 31 + c.cap);
    std::vector<Io> ios;
    for (std::uint64_t s = 0; s <= c.last_second; ++s) {
      if (s != c.last_second && gen() % 4 == 0)
        continue;  // some seconds see no I/O at all
      for (int k = gen() % 3 + 1; k > 0; --k)
        ios.push_back({s * kSecond + gen() % kSecond,
                       gen() % 2 ? IoDirection::read : IoDirection::write, gen() % 1048576 + 1});
    }
    std::shuffle(ios.begin(), ios.end(), gen);  // completions out of order
    Timeline t(c.cap);
    for (const Io& io : ios) t.record(io.ns, io.direction, io.bytes);

    EXPECT_EQ(t.seconds_per_record(), c.per_record);
    EXPECT_LE(t.records_held(), c.cap);
    const std::vector<TimelineSlot> slots = t.slots();
    ASSERT_FALSE(slots.empty());
    std::uint64_t next = 0;
    IoCounts total;
    for (const TimelineSlot& slot : slots) {
      EXPECT_EQ(slot.start_s, next);  // contiguous, from second 0
      EXPECT_EQ(slot.length_s, c.per_record);
      EXPECT_EQ(slot.counts, expected_in(ios, slot)) << "slot at " << slot.start_s;
      next = slot.start_s + slot.length_s;
      total += slot.counts;
    }
    EXPECT_GT(next, c.last_second);                 // the last second is covered
    EXPECT_LE(next - c.per_record, c.last_second);  // and no slot lies wholly after it
    EXPECT_EQ(total, expected_in(ios, {0, next, {}}));
  }
}

TEST(Timeline, ARunOfTwoDaysStaysWithinADayOfRecordsAndLosesNothing) {
  Timeline t;
  constexpr std::uint64_t kDays = 2;
  constexpr std::uint64_t kSeconds = kDays * Timeline::kDayOfSeconds + 1;
  for (std::uint64_t s = 0; s < kSeconds; ++s) {
    t.record(s * kSecond + 500, IoDirection::read, 4096);
    if (s % 3 == 0)
      t.record(s * kSecond + 999999999, IoDirection::write, 65536);
  }
  EXPECT_EQ(t.max_records(), Timeline::kDayOfSeconds);
  EXPECT_LE(t.records_held(), Timeline::kDayOfSeconds);
  EXPECT_EQ(t.seconds_per_record(), 4u);  // 2 days + 1 s does not fit in 2-second records
  IoCounts total;
  for (const TimelineSlot& slot : t.slots()) total += slot.counts;
  const std::uint64_t writes = (kSeconds + 2) / 3;
  EXPECT_EQ(total, (IoCounts{kSeconds, kSeconds * 4096, writes, writes * 65536}));
}

TEST(Timeline, NothingRecordedGivesNoSlots) {
  const Timeline t;
  EXPECT_TRUE(t.slots().empty());
  EXPECT_EQ(t.records_held(), 0u);
}

}  // namespace
}  // namespace kolvane

// The run's meter around the block transfer, against the in-memory back end: every block read
// or written is one I/O with its bytes, failed calls and the end of the input are not, and the
// clock is read only for the directions a measuring word times.
#include "measure/meter.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "driver/progress_report.h"
#include "engine/transfer.h"
#include "fake_backend.h"
#include "manual_clock.h"
#include "run_owners_calls.h"

namespace kolvane {
namespace {

struct Counted {
  std::uint64_t bytes, ios;
};

struct Ticks final : MeterListener {
  void tick(const Meter& meter, std::uint64_t now_ns) override {
    EXPECT_GE(now_ns, meter.origin_ns());
    ++count;
  }
  int count = 0;
};

class MeterTest : public testing::Test {
 protected:
  // "in" of `size` pattern bytes (handle 3), an empty "out" (handle 4).
  void fresh(std::size_t size, std::uint64_t ibs, std::uint64_t obs, std::uint64_t count) {
    state.emplace();
    fake::reset();
    s = Settings{.input_file = "in", .output_file = "out"};
    s.input_blocksize = ibs;
    s.output_blocksize = obs;
    state->context.shape.count_given = count != kNoCount;
    s.max_records = state->context.shape.count_given ? count : size / ibs;
    state->files.input.reset(fake::add_file("in", fake::pattern(size)));
    state->files.output.reset(fake::add_file("out", {}));
  }
  int run() { return run_entry(*state, s, PlanEntry{}, posix_profile); }
  Counted counted(IoDirection d) {
    const DirectionMeter& m = state->context.meter.direction(d);
    return {m.bytes, m.ios};
  }

  std::optional<RunOwners> state;
  Settings s;
};

TEST_F(MeterTest, EveryBlockIsOneIoWithItsBytes) {
  // clang-format off
  const struct { std::size_t size; std::uint64_t ibs, obs, count; std::uint64_t read_limit;
                 int fail_write; int status; Counted reads, writes; } rows[] = {
      {4096, 1024, 512, 2, UINT64_MAX, 0, 0, {2048, 2}, {2048, 4}},
      {4096, 512, 1024, 3, UINT64_MAX, 0, 0, {1536, 3}, {1536, 2}},
      // The read that meets the end of the input moves nothing: it is no I/O.
      {1500, 512, 512, kNoCount, UINT64_MAX, 0, 0, {1500, 3}, {1500, 3}},
      // Short reads of a pipe are blocks of their own.
      {1000, 512, 512, 2, 300, 0, 0, {1000, 4}, {1000, 2}},
      // A failed write is not counted.
      {4096, 512, 512, 4, UINT64_MAX, 3, 3, {1536, 3}, {1024, 2}},
  };
  // clang-format on
  for (const auto& r : rows) {
    for (const bool timed : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << r.size << " " << r.ibs << " " << r.obs << " timed " << timed);
      fresh(r.size, r.ibs, r.obs, r.count);
      fake::file(3).read_limit = r.read_limit;
      fake::file(4).fail_write_call = r.fail_write;
      state->context.meter.time_directions(timed, timed);
      EXPECT_EQ(run(), r.status);
      EXPECT_EQ(counted(IoDirection::read).bytes, r.reads.bytes);
      EXPECT_EQ(counted(IoDirection::read).ios, r.reads.ios);
      EXPECT_EQ(counted(IoDirection::write).bytes, r.writes.bytes);
      EXPECT_EQ(counted(IoDirection::write).ios, r.writes.ios);
      const Meter& m = state->context.meter;
      // Untimed, the clock was never read: no origin, no latency, no timeline.
      EXPECT_EQ(m.origin_ns() != 0, timed);
      EXPECT_EQ(m.direction(IoDirection::read).latency.count(), timed ? r.reads.ios : 0);
      EXPECT_EQ(m.direction(IoDirection::write).latency.count(), timed ? r.writes.ios : 0);
      IoCounts in_timeline;
      for (const TimelineSlot& slot : m.timeline().slots()) in_timeline += slot.counts;
      const IoCounts want =
          timed ? IoCounts{r.reads.ios, r.reads.bytes, r.writes.ios, r.writes.bytes} : IoCounts{};
      EXPECT_EQ(in_timeline, want);
      EXPECT_EQ(m.wall_ns(IoDirection::read) > 0, timed);
      EXPECT_LE(m.wall_ns(IoDirection::read), m.elapsed_ns());
    }
  }
}

// A random-read run to the null sink times the reads only.
TEST_F(MeterTest, OnlyTheTimedDirectionReadsTheClock) {
  fresh(4096, 512, 512, 4);
  state->context.meter.time_directions(true, false);
  ASSERT_EQ(run(), 0);
  EXPECT_EQ(state->context.meter.direction(IoDirection::read).latency.count(), 4u);
  EXPECT_EQ(state->context.meter.direction(IoDirection::write).latency.count(), 0u);
  EXPECT_EQ(state->context.meter.direction(IoDirection::write).ios, 4u);
  EXPECT_EQ(state->context.meter.wall_ns(IoDirection::write), 0u);
}

TEST_F(MeterTest, ZeroSourceBlocksAreWrites) {
  fresh(0, 4096, 512, 3);
  state->files.input.reset(kNoFile);
  s.input_file = kZeroSource;
  state->context.meter.time_directions(false, true);
  ASSERT_EQ(run(), 0);
  EXPECT_EQ(counted(IoDirection::read).ios, 0u);
  EXPECT_EQ(counted(IoDirection::write).ios, 3u);
  EXPECT_EQ(counted(IoDirection::write).bytes, 3u * 4096);
  EXPECT_EQ(state->context.meter.direction(IoDirection::write).latency.count(), 3u);
}

// The listener hears at most one tick per interval, and only from timed completions.
TEST_F(MeterTest, TicksFollowTheInterval) {
  const struct {
    bool timed;
    std::uint64_t interval_ns;
    int ticks;
  } rows[] = {{true, 0, 8}, {true, 3600'000'000'000, 0}, {false, 0, 0}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.interval_ns);
    fresh(4096, 512, 512, 4);
    Ticks ticks;
    state->context.meter.set_listener(&ticks, r.interval_ns);
    state->context.meter.time_directions(r.timed, r.timed);
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(ticks.count, r.ticks);
  }
}

// Who reads the run's clock during a copy of 8 blocks: nobody in a plain copy; the meter once
// before and once after each I/O of a timed direction; the time limit once at the start and
// once after each I/O, ending the copy at the I/O after which the clock has reached it.
TEST_F(MeterTest, TheClockIsReadOnlyWhereTheRunAsks) {
  constexpr std::uint64_t kSecond = 1000000000;
  const struct {
    std::uint32_t runtime;
    bool timed;
    std::uint64_t step_ns;
    std::uint64_t blocks;
    int reads;
  } rows[] = {
      {0, false, 0, 8, 0},
      {0, true, 0, 8, 2 * 16},
      {1, false, kSecond / 4, 4, 1 + 4},
      {1, false, kSecond - 1, 2, 1 + 2},
      {1, false, 2 * kSecond, 1, 1 + 1},
      {3600, false, kSecond, 8, 1 + 8},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message()
                 << "runtime " << r.runtime << " timed " << r.timed << " step " << r.step_ns);
    fresh(4096, 512, 512, 8);
    ManualClock clock(r.step_ns);
    state->context.use_clock(clock);
    state->context.meter.time_directions(r.timed, r.timed);
    s.runtime_seconds = r.runtime;
    state->context.control.arm(s);
    state->context.control.start();
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(counted(IoDirection::read).ios, r.blocks);
    EXPECT_EQ(counted(IoDirection::write).ios, r.blocks);
    EXPECT_EQ(state->context.control.timed_out(), r.blocks < 8);
    EXPECT_EQ(clock.reads(), r.reads);
  }
}

// progress=1 against a clock the test moves: a line at the first completion at or past each
// second since the first I/O began, none between; an I/O longer than the interval gives one
// line, and the next falls due an interval after it.
TEST_F(MeterTest, AProgressLineFollowsTheClockPastEachInterval) {
  constexpr std::uint64_t kMs = 1000000;
  constexpr std::uint64_t kMiB = 1048576;
  fresh(0, 512, 512, kNoCount);
  ManualClock clock;
  Meter& meter = state->context.meter;
  meter.set_clock(clock);
  meter.time_directions(true, false);
  ProgressReporter progress(s, state->context.shape, state->files, state->plan);
  meter.set_listener(&progress, 1000 * kMs);
  testing::internal::CaptureStderr();
  for (const std::uint64_t ms :
       {300, 300, 300, 300, 300, 300, 300, 300, 300, 300, 2500, 500, 600}) {
    const IoStart began = meter.begin(IoDirection::read);
    clock.advance(ms * kMs);
    meter.end(IoDirection::read, began, kMiB);
  }
  // At 1.2, 2.1, 3.0, 5.5 and 6.6 s: not at 6.0, where an interval after 5.0 would have put one.
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "4194304 bytes (4.0 MiB), 0:00:01, 3.5 MB/s now, 3.5 MB/s average\n"
            "7340032 bytes (7.0 MiB), 0:00:02, 3.5 MB/s now, 3.5 MB/s average\n"
            "10485760 bytes (10.0 MiB), 0:00:03, 3.5 MB/s now, 3.5 MB/s average\n"
            "11534336 bytes (11.0 MiB), 0:00:05, 0.4 MB/s now, 2.1 MB/s average\n"
            "13631488 bytes (13.0 MiB), 0:00:06, 1.9 MB/s now, 2.1 MB/s average\n");
}

}  // namespace
}  // namespace kolvane

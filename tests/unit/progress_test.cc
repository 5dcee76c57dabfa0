#include "report/progress.h"

#include <gtest/gtest.h>

#include "run/console.h"

namespace kolvane {
namespace {

constexpr std::uint64_t kMiB = 1048576;
constexpr ProgressDetail kFull = ProgressDetail::full;
constexpr ProgressDetail kBrief = ProgressDetail::brief;

TEST(Progress, Text) {
  const struct {
    ProgressSample sample;
    ProgressDetail detail;
    const char* text;
  } cases[] = {
      {{0, 0, 0, 0, {}, {}}, kFull, "0 bytes (0 B), 0:00:00, - MB/s now, - MB/s average"},
      {{10 * kMiB, 5000000, 3 * kMiB, 1000000, {}, {}},
       kFull,
       "10485760 bytes (10.0 MiB), 0:00:05, 3.1 MB/s now, 2.1 MB/s average"},
      {{10 * kMiB, 5000000, 3 * kMiB, 1000000, {}, {}},
       kBrief,
       "10.0 MiB, 0:00:05, 3.1 MB/s now, 2.1 MB/s average"},
      // Half of a known size at 2.1 MB/s: as long again.
      {{10 * kMiB, 5000000, 3 * kMiB, 1000000, 20 * kMiB, {}},
       kFull,
       "10485760 bytes (10.0 MiB), 0:00:05, 3.1 MB/s now, 2.1 MB/s average, 50.0%, 0:00:05 left"},
      {{10 * kMiB, 5000000, 3 * kMiB, 1000000, {}, 60000000},
       kBrief,
       "10.0 MiB, 0:00:05, 3.1 MB/s now, 2.1 MB/s average, 8.3%, 0:00:55 left"},
      // Both ends known: the size is reached first.
      {{10 * kMiB, 5000000, 3 * kMiB, 1000000, 20 * kMiB, 60000000},
       kBrief,
       "10.0 MiB, 0:00:05, 3.1 MB/s now, 2.1 MB/s average, 50.0%, 0:00:05 left"},
      // ... and here the time limit is.
      {{kMiB, 5000000, 0, 1000000, 20 * kMiB, 10000000},
       kBrief,
       "1.0 MiB, 0:00:05, 0.0 MB/s now, 0.2 MB/s average, 50.0%, 0:00:05 left"},
      // Nothing moved yet: no rate to tell the time left by.
      {{0, 3723000000, 0, 1000000, 100, {}},
       kBrief,
       "0 B, 1:02:03, 0.0 MB/s now, 0.0 MB/s average, 0.0%, - left"},
      // An input that grew past its measured size, a time limit already passed.
      {{300, 1000000, 100, 500000, 200, {}},
       kBrief,
       "300 B, 0:00:01, 0.0 MB/s now, 0.0 MB/s average, 100.0%, 0:00:00 left"},
      {{300, 2000000, 100, 500000, {}, 1000000},
       kBrief,
       "300 B, 0:00:02, 0.0 MB/s now, 0.0 MB/s average, 100.0%, 0:00:00 left"},
      // A part of a second left shows as a whole one.
      {{0, 1, 0, 0, {}, 1500000},
       kBrief,
       "0 B, 0:00:00, - MB/s now, 0.0 MB/s average, 0.0%, 0:00:02 left"},
      // Sizes in the largest binary unit they reach.
      {{1023, 0, 0, 0, {}, {}}, kBrief, "1023 B, 0:00:00, - MB/s now, - MB/s average"},
      {{1536, 0, 0, 0, {}, {}}, kBrief, "1.5 KiB, 0:00:00, - MB/s now, - MB/s average"},
      {{3ull << 40, 0, 0, 0, {}, {}}, kBrief, "3.0 TiB, 0:00:00, - MB/s now, - MB/s average"},
      {{UINT64_MAX, 0, 0, 0, {}, {}},
       kFull,
       "18446744073709551615 bytes (16.0 EiB), 0:00:00, - MB/s now, - MB/s average"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(progress_text(c.sample, c.detail), c.text);
  }
}

TEST(Progress, TerminalRewritesOneLineElsewhereOneLinePerReport) {
  const ProgressSample longer{123456789, 2000000, 0, 1000000, {}, {}};
  const ProgressSample shorter{0, 3000000, 0, 1000000, {}, {}};
  const std::string a = progress_text(longer, kFull);
  const std::string b = progress_text(shorter, kFull);
  ASSERT_GT(a.size(), b.size());

  ProgressLine terminal(true, 200);
  EXPECT_EQ(terminal.finish(), "");  // nothing written yet: nothing to end
  EXPECT_EQ(terminal.next(longer), a + "\r");
  EXPECT_EQ(terminal.next(shorter), b + std::string(a.size() - b.size(), ' ') + "\r");
  EXPECT_EQ(terminal.next(longer), a + "\r");
  EXPECT_EQ(terminal.finish(), "\n");
  EXPECT_EQ(terminal.finish(), "");

  // A line as wide as the terminal would wrap (the cursor then sits on the next row): brief.
  ProgressLine narrow(true, a.size());
  EXPECT_EQ(narrow.next(longer), progress_text(longer, kBrief) + "\r");
  ProgressLine wide_enough(true, a.size() + 1);
  EXPECT_EQ(wide_enough.next(longer), a + "\r");

  ProgressLine pipe(false, 10);  // whatever the width, a pipe gets the full line
  EXPECT_EQ(pipe.next(longer), a + "\n");
  EXPECT_EQ(pipe.next(shorter), b + "\n");
  EXPECT_EQ(pipe.finish(), "");
}

// Text said while a terminal's progress line stands (an error, a status request's records)
// starts on a line of its own, never over the progress line's start; a later progress line
// starts afresh, and the run's last lines end only a line still standing.
TEST(Progress, OtherLinesNeverLandOnAStandingLine) {
  testing::internal::CaptureStderr();
  say_progress("10.0%, 0:00:09 left\r");
  say(Channel::err, "error reading 'in': ");
  say(Channel::err, "Input/output error\n");
  say_progress("20.0%\r");
  end_progress_line();
  end_progress_line();
  say_progress("on a pipe\n");
  say(Channel::err, "1+0 records in\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "10.0%, 0:00:09 left\r\nerror reading 'in': Input/output error\n20.0%\r\n"
            "on a pipe\n1+0 records in\n");
}

}  // namespace
}  // namespace kolvane

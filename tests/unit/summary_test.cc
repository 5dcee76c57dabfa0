#include "report/summary.h"

#include <gtest/gtest.h>

#include <vector>

namespace kolvane {
namespace {

TEST(Summary, GoldenLayout) {
  LatencyHistogram reads;
  for (int i = 0; i < 98; ++i) {
    reads.record(2000);
  }
  reads.record(3000);
  reads.record(1'500'000);
  const LatencyHistogram writes;  // nothing measured
  const std::vector<DirectionFigures> directions{
      {IoDirection::read, 500000, 100, 250000, reads, {}},
      {IoDirection::write, 4096, 1, 0, writes, {}},  // no time passed: no rates, no nan or inf
  };
  // p50 and p90 are the middle of the 2000..2007 ns bucket; 3000 is the middle of its own.
  const char* expected =
      "transfer       bytes     MB    MiB  I/Os  time (s)   MB/s   IOPS\n"
      "read          500000  0.500  0.477   100  0.250000  2.000  400.0\n"
      "write           4096  0.004  0.004     1  0.000000      -      -\n"
      "latency (us)    min    mean    p50    p90    p99     p99.9    p99.99       max\n"
      "read          2.000  16.990  2.004  2.004  3.000  1500.000  1500.000  1500.000\n"
      "write             -       -      -      -      -         -         -         -\n";
  EXPECT_EQ(format_summary(directions), expected);
}

TEST(Summary, NoLatenciesAndNoDirections) {
  const std::vector<DirectionFigures> unmeasured{{IoDirection::write, 0, 0, 0, std::nullopt, {}}};
  EXPECT_EQ(format_summary(unmeasured),
            "transfer      bytes     MB    MiB  I/Os  time (s)  MB/s  IOPS\n"
            "write             0  0.000  0.000     0  0.000000     -     -\n"
            "latency (us)  min  mean  p50  p90  p99  p99.9  p99.99  max\n"
            "write           -     -    -    -    -      -       -    -\n");
  EXPECT_EQ(format_summary({}), "");
  // rate=: the service row's label is the widest, and the columns make room for it.
  const std::vector<DirectionFigures> paced{
      {IoDirection::write, 0, 0, 0, LatencyHistogram{}, LatencyHistogram{}}};
  EXPECT_EQ(format_summary(paced),
            "transfer       bytes     MB    MiB  I/Os  time (s)  MB/s  IOPS\n"
            "write              0  0.000  0.000     0  0.000000     -     -\n"
            "latency (us)   min  mean  p50  p90  p99  p99.9  p99.99  max\n"
            "write            -     -    -    -    -      -       -    -\n"
            "write service    -     -    -    -    -      -       -    -\n");
}

}  // namespace
}  // namespace kolvane

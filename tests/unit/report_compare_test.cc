#include <gtest/gtest.h>

#include <string>

#include "report/compare.h"

namespace kolvane {
namespace {

// 1000 reads of 4 KiB over `wall_us` (a second unless said), every one taking `ns`.
RunReport run_of(std::uint64_t ns, std::uint64_t wall_us = 1000000) {
  RunReport r;
  DirectionFigures& d = r.directions.emplace_back();
  d.direction = IoDirection::read;
  d.ios = 1000;
  d.bytes = 4096 * 1000;
  d.wall_us = wall_us;
  LatencyHistogram& h = d.latency.emplace();
  for (int i = 0; i < 1000; ++i) h.record(ns);
  return r;
}

std::string verdicts(const std::vector<CompareRow>& rows) {
  std::string text;
  for (const CompareRow& r : rows)
    text += std::string(r.figure) + "=" +
            (r.verdict == Verdict::worse    ? "worse"
             : r.verdict == Verdict::better ? "better"
                                            : "same") +
            " ";
  return text;
}

// Rates are worse when lower, latencies when higher, each only beyond the tolerance.
TEST(ReportCompare, EachFigureIsJudgedAgainstTheBaseBeyondTheTolerance) {
  const struct {
    const char* what;
    std::uint64_t ns, wall_us;  // the new run's latency and span; the base's: 100 us over 1 s
    double tolerance;
    const char* want;
  } cases[] = {
      {"the same", 100000, 1000000, 10, "IOPS=same MB/s=same p50=same p99=same p99.9=same "},
      {"rates 20 % lower", 100000, 1250000, 10,
       "IOPS=worse MB/s=worse p50=same p99=same p99.9=same "},
      {"rates 20 % lower, within 30 %", 100000, 1250000, 30,
       "IOPS=same MB/s=same p50=same p99=same p99.9=same "},
      {"rates 25 % higher", 100000, 800000, 10,
       "IOPS=better MB/s=better p50=same p99=same p99.9=same "},
      {"latencies 20 % higher", 120000, 1000000, 10,
       "IOPS=same MB/s=same p50=worse p99=worse p99.9=worse "},
      {"latencies 20 % lower", 80000, 1000000, 10,
       "IOPS=same MB/s=same p50=better p99=better p99.9=better "},
      {"latencies 5 % higher", 105000, 1000000, 10,
       "IOPS=same MB/s=same p50=same p99=same p99.9=same "},
  };
  const RunReport base = run_of(100000);
  for (const auto& c : cases) {
    const CompareResult result = compare_reports(base, run_of(c.ns, c.wall_us), c.tolerance);
    ASSERT_EQ(result.error, "") << c.what;
    EXPECT_EQ(verdicts(result.rows), c.want) << c.what;
    EXPECT_EQ(any_worse(result.rows), std::string(c.want).find("worse") != std::string::npos)
        << c.what;
  }
  // The ratio is the new figure over the base's.
  const CompareResult result = compare_reports(base, run_of(100000, 1250000), 10);
  ASSERT_FALSE(result.rows.empty());
  ASSERT_TRUE(result.rows[0].ratio);
  EXPECT_DOUBLE_EQ(*result.rows[0].ratio, 0.8);
  // Documents of different directions have nothing to set side by side.
  RunReport writes = run_of(100000);
  writes.directions[0].direction = IoDirection::write;
  EXPECT_EQ(compare_reports(base, writes, 10).error,
            "only the base document has the read direction");
}

}  // namespace
}  // namespace kolvane

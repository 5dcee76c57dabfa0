#include "report/plot_svg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "report/utf8.h"

#if KOLVANE_RENDER_CHECKS
#include <png.h>
#endif

namespace kolvane {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

// ---- Models ----

DirectionFigures direction(IoDirection d, std::uint64_t ios, std::uint64_t bytes,
                           std::optional<LatencyHistogram> latency, std::uint64_t wall_us = 0) {
  return {d, bytes, ios, wall_us, std::move(latency), {}};
}

// Each duration taken as many times as it says.
LatencyHistogram latencies(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& durations) {
  LatencyHistogram h;
  for (const auto& [ns, times] : durations)
    for (std::uint64_t i = 0; i < times; ++i) h.record(ns);
  return h;
}

PlotModel base_model() {
  PlotModel m;
  m.words = {"kolvane",           "if=/dev/sdb", "of=/dev/null", "bs=4k",    "count=1",
             "iterations=100000", "dio=r",       "seed=7",       "runtime=5"};
  m.input_name = "/dev/sdb";
  m.output_name = "/dev/null";
  m.date = "Tue Dec  8 01:20:00 2026\n";
  m.seed = 7;
  return m;
}

// total latencies spread around a centre, with a slow tail.
LatencyHistogram spread(std::uint64_t centre_ns, std::uint64_t total) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> durations;
  double sum = 0;
  for (int i = -20; i <= 40; ++i) sum += std::exp(-0.02 * i * i) + (i > 25 ? 0.003 : 0);
  for (int i = -20; i <= 40; ++i) {
    const auto ns = static_cast<std::uint64_t>(centre_ns * std::pow(1.05, i + 0.5));
    const double w = (std::exp(-0.02 * i * i) + (i > 25 ? 0.003 : 0)) / sum;
    durations.emplace_back(ns, static_cast<std::uint64_t>(w * static_cast<double>(total)));
  }
  return latencies(durations);
}

// Seconds of a run that lasted elapsed_ns at about the given I/Os per second, the last second
// holding only what fits in the part of it the run had.
std::vector<TimelineSlot> seconds_of(std::uint64_t elapsed_ns, std::uint64_t read_iops,
                                     std::uint64_t write_iops) {
  std::vector<TimelineSlot> slots;
  for (std::uint64_t s = 0; s * 1000000000 < elapsed_ns; ++s) {
    const double part = std::min(1.0, static_cast<double>(elapsed_ns - s * 1000000000) / 1e9);
    const auto scaled = [&](std::uint64_t iops) {
      return static_cast<std::uint64_t>(static_cast<double>(iops + (s * 37) % 11 * iops / 50) *
                                        part);
    };
    const std::uint64_t r = scaled(read_iops), w = scaled(write_iops);
    slots.push_back({s, 1, {r, r * 4096, w, w * 65536}});
  }
  return slots;
}

// One direction's figures in an interval of the series: ios 0 is an interval without I/O.
SeriesFigures in_interval(std::uint64_t ios, std::uint64_t p50_ns, std::uint64_t p99_ns,
                          std::uint64_t max_ns) {
  SeriesFigures f{ios, ios * 4096, max_ns, {}, {}, {}};
  if (ios > 0) {
    f.p50_ns = p50_ns;
    f.p99_ns = p99_ns;
  }
  return f;
}

// Intervals of interval_ms from the start, each with the read figures given (and the write ones,
// when there are as many).
SeriesReport series_of(std::uint32_t interval_ms, const std::vector<SeriesFigures>& reads,
                       const std::vector<SeriesFigures>& writes = {}) {
  SeriesReport r{interval_ms, {}};
  for (std::size_t i = 0; i < reads.size(); ++i) {
    SeriesInterval in{static_cast<double>(i * interval_ms), static_cast<double>(interval_ms),
                      reads[i], std::nullopt};
    if (i < writes.size())
      in.write = writes[i];
    r.intervals.push_back(in);
  }
  return r;
}

TEST(PlotModel, AHistogramGivesItsNonEmptyBucketsAndPercentiles) {
  LatencyHistogram h;
  const std::vector<std::pair<std::uint64_t, int>> durations = {
      {0, 1},        {150, 2},      {1000, 500},  {1003, 1},
      {123456, 400}, {5000000, 90}, {7000000, 6}, {UINT64_MAX, 1}};
  for (const auto& [ns, times] : durations)
    for (int i = 0; i < times; ++i) h.record(ns);
  PlotModel m = base_model();
  m.read = direction(IoDirection::read, 1001, 1001 * 4096, h, 2500000);
  // The title shows the direction's own I/Os and bytes, whatever its histogram counted.
  EXPECT_NE(render_plot_svg(m).find("read  1\xE2\x80\x89"
                                    "001 I/Os, 4.10 MB (3.91 MiB), 400 IOPS"),
            std::string::npos);
  const LatencyMarks d = latency_marks(*m.read);
  EXPECT_EQ(d.p50_ns, h.percentile_ns(50));
  EXPECT_EQ(d.p99_ns, h.percentile_ns(99));
  EXPECT_EQ(d.p999_ns, h.percentile_ns(99.9));
  EXPECT_NE(d.p99_ns, d.p999_ns);
  // Every duration lands in exactly one bucket, with its count; no empty bucket is listed.
  std::vector<LatencyBucket> buckets;
  h.for_each_bucket([&](const LatencyBucket& b) { buckets.push_back(b); });
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < buckets.size(); ++i) {
    EXPECT_GT(buckets[i].count, 0u);
    EXPECT_LT(buckets[i].low_ns, buckets[i].high_ns);
    if (i > 0) {
      EXPECT_LE(buckets[i - 1].high_ns, buckets[i].low_ns);
    }
    total += buckets[i].count;
  }
  EXPECT_EQ(total, h.count());
  for (const auto& [ns, times] : durations) {
    if (ns > LatencyHistogram::kMaxTracked)
      continue;  // counted in the last bucket
    std::uint64_t holding = 0;
    for (const LatencyBucket& b : buckets)
      if (b.low_ns <= ns && ns < b.high_ns)
        holding += b.count;
    EXPECT_GE(holding, static_cast<std::uint64_t>(times)) << ns;
  }
  EXPECT_EQ(buckets.size(), 7u);  // 1000 and 1003 share a bucket of 8 ns
  // The marks span the buckets.
  EXPECT_EQ(d.lo_ns, buckets.front().low_ns);
  EXPECT_EQ(d.hi_ns, buckets.back().high_ns);

  const LatencyMarks none = latency_marks(DirectionFigures{IoDirection::write, 0, 0, 0, {}, {}});
  EXPECT_EQ(none.hi_ns, 0u);  // no buckets
  EXPECT_EQ(none.p50_ns, 0u);
}

TEST(PlotLayout, PercentileMarksSitAtTheirDurationsOnTheSharedAxis) {
  // Buckets from 1 us to 1 ms.
  std::vector<LatencyMarks> shown{{1000, 1000000, 10000, 100000, 1000000, 1000000, 1000000}};
  LogAxis axis = latency_axis(shown, 100, 400);
  EXPECT_EQ(axis.lo_ns, 100u);  // 1 us less a third, and 1 ms and a half: a decade further out
  EXPECT_EQ(axis.hi_ns, 10000000u);
  auto marks = percentile_marks(shown[0], axis);
  EXPECT_STREQ(marks[0].name, "p50");
  EXPECT_STREQ(marks[1].name, "p99");
  EXPECT_STREQ(marks[2].name, "p99.9");
  EXPECT_STREQ(marks[3].name, "p99.99");
  EXPECT_STREQ(marks[4].name, "max");
  EXPECT_NEAR(marks[0].x, 220, 1e-9);  // five decades of 60 px
  EXPECT_NEAR(marks[1].x, 280, 1e-9);
  EXPECT_NEAR(marks[2].x, 340, 1e-9);

  // Slower writes widen the axis both directions share: the read marks move left.
  shown.push_back({50000000, 51000000, 50000000, 50000000, 50000000, 50000000, 50000000});
  axis = latency_axis(shown, 100, 400);
  EXPECT_EQ(axis.hi_ns, 100000000u);
  marks = percentile_marks(shown[0], axis);
  EXPECT_NEAR(marks[0].x, 200, 1e-9);  // six decades of 50 px
  EXPECT_NEAR(marks[2].x, 300, 1e-9);
  EXPECT_NEAR(percentile_marks(shown[1], axis)[1].x, 100 + 50 * (5 + std::log10(5.0)), 1e-9);

  // A percentile outside every bucket still lies on the axis.
  shown.pop_back();
  shown[0].p999_ns = 70000000;
  axis = latency_axis(shown, 100, 400);
  EXPECT_EQ(axis.hi_ns, 1000000000u);
  // Durations just over a power of ten get the decade below as well.
  shown[0] = {1000, 1001, 1000, 1000, 1000, 1000, 1000};
  EXPECT_EQ(latency_axis(shown, 100, 400).lo_ns, 100u);
  EXPECT_EQ(latency_axis(shown, 100, 400).hi_ns, 10000u);

  // And the document draws each mark where the layout puts it, labelled with its duration: a
  // p99 among 10 I/Os of 123 us, a p99.9 at the slowest, 1 ms.
  PlotModel m = base_model();
  m.read = direction(IoDirection::read, 1000, 4096000,
                     latencies({{1050, 1}, {10000, 988}, {123000, 9}, {1000000, 2}}));
  m.timeline = seconds_of(1000000000, 3, 0);
  m.elapsed_ns = 1000000000;
  const std::string svg = render_plot_svg(m);
  shown = {latency_marks(*m.read)};
  axis = latency_axis(shown, kPlotLeft, kPlotRight);
  for (const PercentileMark& mark : percentile_marks(shown[0], axis)) {
    const std::size_t id = svg.find(std::string("id=\"read-") + mark.name + "\"");
    ASSERT_NE(id, std::string::npos) << mark.name;
    const std::size_t start = svg.rfind('<', id);
    const std::string element = svg.substr(start, svg.find('>', id) - start);
    char x[32];
    std::snprintf(x, sizeof x, "%.1f\"", mark.x);
    EXPECT_NE(element.find(std::string("<line x1=\"") + x), std::string::npos) << element;
    EXPECT_NE(element.find(std::string(" x2=\"") + x), std::string::npos) << element;
  }
  EXPECT_NE(svg.find(">p99 123 \xC2\xB5s<"), std::string::npos);
  EXPECT_NE(svg.find(">p99.9 1.00 ms<"), std::string::npos);
  // The slowest of a long tail is marked on its own, beyond the p99.99.
  for (int i = 0; i < 20000; ++i) m.read->latency->record(10000);
  m.read->latency->record(40000000);
  const std::string tail = render_plot_svg(m);
  EXPECT_NE(tail.find(">p99.99 1.00 ms<"), std::string::npos);
  EXPECT_NE(tail.find(">max 40.0 ms<"), std::string::npos);
}

TEST(PlotLayout, LatencyOverTimeSitsAtEachIntervalsMiddleAndBreaksWhereNoIoCompleted) {
  PlotModel m;
  // Four seconds; the second has no I/O.
  m.series = series_of(
      1000, {in_interval(10, 10000, 100000, 1000000), in_interval(0, 0, 0, 0),
             in_interval(10, 20000, 1000000, 5000000), in_interval(10, 20000, 300000, 400000)});
  const LatencyOverTime lt = latency_over_time(m, 100, 300);
  // Time from 0 to 4 s across the plot; latency from 1 us (10 us less a third) to 10 ms (5 ms
  // and a half): four decades of 50 px, upwards.
  EXPECT_EQ(lt.latency.lo_ns, 1000u);
  EXPECT_EQ(lt.latency.hi_ns, 10000000u);
  const auto x_at = [](double t_s) { return kPlotLeft + t_s / 4 * (kPlotRight - kPlotLeft); };
  ASSERT_EQ(lt.lines.size(), 3u);  // read's p50, p99 and max; no write lines
  const LatencyLine& p99 = lt.lines[1];
  EXPECT_EQ(p99.direction, IoDirection::read);
  EXPECT_STREQ(p99.statistic, "p99");
  ASSERT_EQ(p99.pieces.size(), 2u);  // broken at the second without I/O
  ASSERT_EQ(p99.pieces[0].size(), 1u);
  ASSERT_EQ(p99.pieces[1].size(), 2u);
  const std::pair<double, double> expected[] = {
      {x_at(0.5), 200}, {x_at(2.5), 150}, {x_at(3.5), 300 - 50 * std::log10(300.0)}};
  const LatencyLine::Point got[] = {p99.pieces[0][0], p99.pieces[1][0], p99.pieces[1][1]};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(got[i].x, expected[i].first, 1e-9) << i;
    EXPECT_NEAR(got[i].y, expected[i].second, 1e-9) << i;
  }
  EXPECT_NEAR(lt.lines[2].pieces[1][0].y, 300 - 50 * std::log10(5000.0), 1e-9);  // the max

  // The rates below share the time axis: a longer timeline widens both.
  m.timeline = seconds_of(9000000000, 100, 0);
  m.elapsed_ns = 9000000000;
  EXPECT_NEAR(latency_over_time(m, 100, 300).lines[1].pieces[0][0].x,
              kPlotLeft + 0.5 / 10 * (kPlotRight - kPlotLeft), 1e-9);
}

TEST(PlotLayout, RatesAreOverTheTimeEachStretchHad) {
  const struct {
    const char* name;
    std::vector<TimelineSlot> slots;
    std::uint64_t elapsed_ns;
    std::vector<RatePoint> points;
    double end_s;
  } cases[] = {
      {"a run shorter than a second",
       {{0, 1, {400, 400 * 4096, 0, 0}}},
       400000000,
       {{0.2, 1000, 0, 4.096, 0}},
       0.4},
      {"whole seconds",
       {{0, 1, {10, 10000000, 5, 0}}, {1, 1, {20, 20000000, 0, 0}}},
       2000000000,
       {{0.5, 10, 5, 10, 0}, {1.5, 20, 0, 20, 0}},
       2},
      {"a last second cut at 0.75 s",
       {{0, 1, {10, 0, 0, 0}}, {1, 1, {30, 0, 0, 0}}},
       1750000000,
       {{0.5, 10, 0, 0, 0}, {1.375, 40, 0, 0, 0}},
       1.75},
      {"a sliver of a last second joins the one before",
       {{0, 1, {100, 0, 0, 0}}, {1, 1, {100, 0, 0, 0}}, {2, 1, {1, 0, 0, 0}}},
       2001000000,
       {{0.5, 100, 0, 0, 0}, {1.5005, 101 / 1.001, 0, 0, 0}},
       2.001},
      {"merged records of four seconds",
       {{0, 4, {400, 0, 0, 0}}, {4, 4, {300, 0, 0, 0}}},
       7000000000,
       {{2, 100, 0, 0, 0}, {5.5, 100, 0, 0, 0}},
       7},
      {"no elapsed time known: whole slots", {{0, 2, {8, 0, 0, 0}}}, 0, {{1, 4, 0, 0, 0}}, 2},
      {"nothing completed", {}, 0, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PlotModel m;
    m.timeline = c.slots;
    m.elapsed_ns = c.elapsed_ns;
    const RateSeries r = rate_points(m);
    EXPECT_DOUBLE_EQ(r.end_s, c.end_s);
    ASSERT_EQ(r.points.size(), c.points.size());
    for (std::size_t i = 0; i < c.points.size(); ++i) {
      EXPECT_NEAR(r.points[i].t_s, c.points[i].t_s, 1e-9) << i;
      EXPECT_NEAR(r.points[i].read_iops, c.points[i].read_iops, 1e-6) << i;
      EXPECT_NEAR(r.points[i].write_iops, c.points[i].write_iops, 1e-6) << i;
      EXPECT_NEAR(r.points[i].read_mbs, c.points[i].read_mbs, 1e-9) << i;
      EXPECT_NEAR(r.points[i].write_mbs, c.points[i].write_mbs, 1e-9) << i;
    }
  }
}

// ---- Whole documents ----

struct Rendered {
  const char* name;
  PlotModel model;
  bool reads, writes;
};

std::vector<Rendered> documents() {
  // Each model is filled where it is kept: a Windows main thread's stack does not hold a copy of
  // every histogram.
  std::vector<Rendered> out;
  out.reserve(6);
  // Reads through a real histogram: log-normal durations around 180 us with a slow tail.
  static LatencyHistogram h;
  if (h.count() == 0) {
    std::mt19937_64 gen(11);
    std::lognormal_distribution<double> typical(std::log(180000.0), 0.25);
    std::lognormal_distribution<double> slow(std::log(2000000.0), 0.5);
    for (int i = 0; i < 500000; ++i)
      h.record(static_cast<std::uint64_t>(i % 500 == 0 ? slow(gen) : typical(gen)));
  }
  out.push_back({"reads", base_model(), true, false});
  PlotModel& reads = out.back().model;
  reads.read = direction(IoDirection::read, 500000, 500000 * 4096, h, 59600000);
  reads.elapsed_ns = 59600000000;
  reads.timeline = seconds_of(reads.elapsed_ns, 8000, 0);

  out.push_back({"writes", base_model(), false, true});
  PlotModel& writes = out.back().model;
  writes.words = {"kolvane", "if=/dev/zero", "of=out.img", "bs=64k", "count=16", "dio=w"};
  writes.input_name = "/dev/zero";
  writes.output_name = "out.img";
  writes.write = direction(IoDirection::write, 90000, 90000ull * 65536, spread(900000, 90000));
  writes.elapsed_ns = 600000000000;
  writes.timeline = seconds_of(writes.elapsed_ns, 0, 150);

  out.push_back({"both", base_model(), true, true});
  PlotModel& both = out.back().model;
  both.words = {"kolvane", "if=in.img", "of=out.img", "bs=1m", "conv=notrunc", "dio=rw"};
  both.read = direction(IoDirection::read, 7000, 7000ull << 20, spread(2000000, 7000), 6200000);
  both.write = direction(IoDirection::write, 7000, 7000ull << 20, spread(5000000, 7000), 6300000);
  both.elapsed_ns = 6300000000;
  both.timeline = seconds_of(both.elapsed_ns, 1000, 1000);
  std::vector<SeriesFigures> read_intervals, write_intervals;
  for (int i = 0; i < 25; ++i) {
    read_intervals.push_back(in_interval(250, 2000000, 2600000 + 100000 * (i % 3), 3000000));
    write_intervals.push_back(in_interval(250, 5000000, 2600000 + 100000 * (i % 3), 9000000));
  }
  both.series = series_of(250, read_intervals, write_intervals);

  out.push_back({"one second", base_model(), true, false});
  PlotModel& second = out.back().model;
  second.read =
      direction(IoDirection::read, 300, 300 * 4096, latencies({{80500, 200}, {90500, 100}}));
  second.timeline = {{0, 1, {300, 300 * 4096, 0, 0}}};
  second.elapsed_ns = 310000000;

  // At a set rate, with a stall: the latencies from the due times grow a tail the service
  // times do not have, and a quarter of a second passes with no I/O at all.
  out.push_back({"rate", base_model(), true, false});
  PlotModel& paced = out.back().model;
  paced.words = {"kolvane", "if=in.img", "of=/dev/null", "bs=4k", "rate=3000", "interval=250"};
  paced.read = direction(IoDirection::read, 60000, 60000 * 4096, spread(150000, 60000), 20000000);
  for (std::uint64_t ns = 1000000; ns < 900000000; ns = ns * 11 / 10)
    paced.read->latency->record(ns);
  paced.read->service = spread(120000, 60000);
  paced.elapsed_ns = 20000000000;
  paced.timeline = seconds_of(paced.elapsed_ns, 3000, 0);
  std::vector<SeriesFigures> intervals;
  for (int i = 0; i < 80; ++i)
    intervals.push_back(i == 33 ? in_interval(0, 0, 0, 0)
                        : i > 33 && i < 37
                            ? in_interval(750, 80000000, 700000000, 900000000)
                            : in_interval(750, 150000, 300000 + 10000 * (i % 5), 2000000));
  paced.series = series_of(250, intervals);

  // A failure before any I/O completed, with every kind of bad byte in the names.
  out.push_back({"failure", base_model(), true, false});
  PlotModel& failed = out.back().model;
  failed.words = {"kolvane", "if=\xFF\xFE<&>\"'\x01\x1B[2J", "of=o\xC3(ut", "",
                  "a b",     std::string(300, 'x')};
  failed.input_name = "\xFF\xFE<&>\"'\x01\x1B[2J\xEF\xBF\xBF";
  failed.output_name = "o\xC3(ut" + std::string(500, '/');
  failed.read = DirectionFigures{};
  failed.outcome = "error reading '\xFF\xFE<&>': Input/output error\n";
  return out;
}

TEST(PlotDocument, OneSelfContainedSvgWithWhatTheRunHad) {
  for (const Rendered& r : documents()) {
    SCOPED_TRACE(r.name);
    const std::string svg = render_plot_svg(r.model);
    EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
    EXPECT_NE(svg.find("width=\"800.0\""), std::string::npos);
    EXPECT_EQ(svg.find("</svg>"), svg.size() - 7);
    // Nothing that runs or that fetches: no script, no link, no URL, no font but the system's.
    for (const char* banned :
         {"<script", "href", "url(", "@import", "@font-face", "<image", "<foreignObject",
          "on"
          "load"})
      EXPECT_EQ(svg.find(banned), std::string::npos) << banned;
    EXPECT_EQ(svg.find("read latency") != std::string::npos, r.reads);
    EXPECT_EQ(svg.find("write latency") != std::string::npos, r.writes);
    EXPECT_EQ(svg.find("id=\"read-p50\"") != std::string::npos, r.reads && r.model.read->ios > 0);
    EXPECT_EQ(svg.find("id=\"write-p99.9\"") != std::string::npos, r.writes);
    EXPECT_EQ(svg.find("ended early") != std::string::npos, !r.model.outcome.empty());
  }
  // The title's rates are the other reports' rates: over each direction's own wall time.
  const std::string both = render_plot_svg(documents()[2].model);
  EXPECT_NE(both.find(", 1129 IOPS, 1183.9 MB/s"), std::string::npos);  // 7000 MiB in 6.2 s
  EXPECT_NE(both.find(", 1111 IOPS, 1165.1 MB/s"), std::string::npos);  // and in 6.3 s
  for (const Rendered& r : documents()) {
    const std::string svg = render_plot_svg(r.model);
    EXPECT_EQ(svg.find("IOPS,") != std::string::npos,
              (r.model.read && r.model.read->wall_us > 0) ||
                  (r.model.write && r.model.write->wall_us > 0))
        << r.name;
  }
}

TEST(PlotDocument, TheTitleGivesTheTotalsInUnitsThatRoundRight) {
  const struct {
    std::uint64_t bytes;
    bool latencies;
    const char* shown;
    bool percentiles;
  } cases[] = {
      {512, true,
       "read  1\xE2\x80\x89"
       "000 I/Os, 512 B;",
       true},
      {999700, true, ", 1.00 MB (976 KiB);", true},  // 999.7 kB rounds up into the next unit
      {1048152, true, ", 1.05 MB (1.00 MiB);", true},
      {5ull << 40, true, ", 5.50 TB (5.00 TiB);", true},
      {4096000, false, ", 4.10 MB (3.91 MiB)<", false},  // I/Os without latencies: no 0 ns
  };
  for (const auto& c : cases) {
    PlotModel m = base_model();
    m.read = direction(IoDirection::read, 1000, c.bytes, std::nullopt);
    if (c.latencies)
      m.read = direction(IoDirection::read, 1000, c.bytes, latencies({{1050, 1000}}));
    const std::string svg = render_plot_svg(m);
    EXPECT_NE(svg.find(c.shown), std::string::npos) << c.shown;
    EXPECT_EQ(svg.find("; p50 ") != std::string::npos, c.percentiles) << c.shown;
    EXPECT_EQ(svg.find("no latencies were taken") != std::string::npos, !c.latencies);
  }
}

// The names' bytes reach the document only cleaned and escaped.
TEST(PlotDocument, BadBytesInNamesDoNotReachTheDocument) {
  const std::string svg = render_plot_svg(documents().back().model);
  for (std::size_t i = 0; i < svg.size(); ++i) {
    const auto c = static_cast<unsigned char>(svg[i]);
    ASSERT_TRUE(c >= 0x20 || c == '\n') << "control byte at " << i;
  }
  // Valid UTF-8 throughout: cleaning removes only the line ends.
  std::string without_newlines = svg;
  std::erase(without_newlines, '\n');
  EXPECT_EQ(clean_text(svg), without_newlines);
  EXPECT_NE(svg.find("if=" + kFffd + kFffd + "&lt;&amp;&gt;&quot;&apos;[2J"), std::string::npos);
  EXPECT_NE(svg.find("&apos;a b&apos;"), std::string::npos);  // a word with a space, quoted
  EXPECT_NE(svg.find("&apos;&apos;"), std::string::npos);     // the empty word
  EXPECT_NE(svg.find("\xE2\x80\xA6"), std::string::npos);     // the long words shortened
  EXPECT_NE(svg.find("ended early: error reading &apos;" + kFffd + kFffd + "&lt;&amp;&gt;&apos;"),
            std::string::npos);
}

TEST(PlotDocument, TheServiceOutlineIsDrawnOnlyUnderRate) {
  std::vector<Rendered> all = documents();
  PlotModel& m = all[4].model;
  ASSERT_TRUE(m.read->service);
  // The same run with its service times and without them (one model: a Windows main thread's
  // stack does not hold two).
  for (const bool service : {true, false}) {
    if (!service)
      m.read->service.reset();
    const std::string svg = render_plot_svg(m);
    EXPECT_EQ(svg.find("<polyline id=\"read-service\"") != std::string::npos, service);
    EXPECT_EQ(svg.find(">service (from hand-over)<") != std::string::npos, service);
    EXPECT_EQ(svg.find("id=\"read-service-p99\"") != std::string::npos, service);
  }
}

// Every line of a direction in the panels: its stroke width, and the panel it is in (counted by
// the panels' titles before it).
struct DrawnLine {
  bool read;
  double width;
  int panel;
};

std::vector<DrawnLine> drawn_lines(const std::string& svg) {
  std::vector<DrawnLine> lines;
  int panel = 0;
  for (std::size_t at = 0; (at = svg.find('<', at + 1)) != std::string::npos;) {
    const std::string element = svg.substr(at, svg.find('>', at) - at);
    if (element.find("font-weight=\"bold\"") != std::string::npos)
      ++panel;
    if (element.rfind("<polyline", 0) != 0)
      continue;
    const bool read = element.find("stroke=\"#0072b2\"") != std::string::npos;
    if (!read && element.find("stroke=\"#d55e00\"") == std::string::npos)
      continue;
    const std::size_t width = element.find("stroke-width=\"");
    if (width == std::string::npos)
      continue;
    lines.push_back({read, std::atof(element.c_str() + width + 14), panel});
  }
  return lines;
}

TEST(PlotDocument, ReadLinesLieUnderWiderThanWriteLines) {
  const std::vector<DrawnLine> lines = drawn_lines(render_plot_svg(documents()[2].model));
  // Three lines of each direction over time, one each for IOPS and MB/s.
  ASSERT_EQ(std::count_if(lines.begin(), lines.end(), [](const DrawnLine& l) { return l.read; }),
            5);
  ASSERT_EQ(lines.size(), 10u);
  for (std::size_t i = 0; i < lines.size(); ++i)
    for (std::size_t j = i + 1; j < lines.size(); ++j) {
      if (lines[i].panel != lines[j].panel || lines[i].read == lines[j].read)
        continue;
      EXPECT_TRUE(lines[i].read) << "a read line over a write line in panel " << lines[i].panel;
      EXPECT_GT(lines[i].width, lines[j].width) << i << " " << j;
    }
}

// A document's file name: the case's name, spaces as underscores.
std::string file_stem(const Rendered& r) {
  std::string stem = std::string("kolvane_plot_") + r.name;
  std::replace(stem.begin(), stem.end(), ' ', '_');
  return stem;
}

// The Windows build's test program has no xmllint under wine: with KOLVANE_PLOT_DIR set it
// writes the documents there, and a test of the build checks them with the build machine's.
TEST(PlotDocument, WritesTheDocumentsWhereAsked) {
  const char* dir = std::getenv("KOLVANE_PLOT_DIR");
  if (dir == nullptr)
    GTEST_SKIP() << "KOLVANE_PLOT_DIR not set";
  for (const Rendered& r : documents()) {
    std::ofstream out(std::string(dir) + "/" + file_stem(r) + ".svg", std::ios::binary);
    out << render_plot_svg(r.model);
    out.close();
    EXPECT_TRUE(out) << r.name;
  }
}

#if KOLVANE_RENDER_CHECKS
bool have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The distinct colours of a PNG and whether it has pixels of each direction's hue.
struct Pixels {
  unsigned width = 0;
  std::size_t colours = 0;
  bool blue = false, orange = false;
};

Pixels read_png(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Pixels p;
  if (!png_image_begin_read_from_file(&image, path.c_str()))
    return p;
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
    return p;
  p.width = image.width;
  std::vector<bool> seen(1 << 24);
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
    const int r = rgb[i], g = rgb[i + 1], b = rgb[i + 2];
    const std::size_t key = (static_cast<std::size_t>(r) << 16) | (g << 8) | b;
    if (!seen[key]) {
      seen[key] = true;
      ++p.colours;
    }
    // The two hues, also where they are blended with the white page; the dark red of an
    // error line (green and blue alike) is neither.
    p.blue = p.blue || (b > r + 80 && g > r + 40);
    p.orange = p.orange || (r > g + 40 && g > b + 30);
  }
  return p;
}

TEST(PlotDocument, ParsesAsXmlAndRendersAtEightHundredPixels) {
  if (!have("xmllint") || !have("rsvg-convert"))
    GTEST_SKIP() << "xmllint (libxml2-utils) or rsvg-convert (librsvg2-bin) not installed";
  for (const Rendered& r : documents()) {
    SCOPED_TRACE(r.name);
    const std::string stem = ::testing::TempDir() + file_stem(r);
    {
      std::ofstream out(stem + ".svg", std::ios::binary);
      out << render_plot_svg(r.model);
    }
    EXPECT_EQ(std::system(("xmllint --noout " + stem + ".svg").c_str()), 0);
    ASSERT_EQ(std::system(("rsvg-convert -o " + stem + ".png " + stem + ".svg").c_str()), 0);
    const Pixels p = read_png(stem + ".png");
    EXPECT_EQ(p.width, 800u);
    EXPECT_GT(p.colours, 1u);
    EXPECT_EQ(p.blue, r.reads);
    EXPECT_EQ(p.orange, r.writes);
  }
}
#endif

}  // namespace
}  // namespace kolvane

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
  std::vector<LatencyMarks> shown{{1000, 1000000, 10000, 100000, 1000000}};
  LogAxis axis = latency_axis(shown, 100, 400);
  EXPECT_EQ(axis.lo_ns, 100u);  // 1 us less a third, and 1 ms and a half: a decade further out
  EXPECT_EQ(axis.hi_ns, 10000000u);
  auto marks = percentile_marks(shown[0], axis);
  EXPECT_STREQ(marks[0].name, "p50");
  EXPECT_STREQ(marks[1].name, "p99");
  EXPECT_STREQ(marks[2].name, "p99.9");
  EXPECT_NEAR(marks[0].x, 220, 1e-9);  // five decades of 60 px
  EXPECT_NEAR(marks[1].x, 280, 1e-9);
  EXPECT_NEAR(marks[2].x, 340, 1e-9);

  // Slower writes widen the axis both directions share: the read marks move left.
  shown.push_back({50000000, 51000000, 50000000, 50000000, 50000000});
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
  shown[0] = {1000, 1001, 1000, 1000, 1000};
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
  std::vector<Rendered> out;
  // Reads through a real histogram: log-normal durations around 180 us with a slow tail.
  static LatencyHistogram h;
  if (h.count() == 0) {
    std::mt19937_64 gen(11);
    std::lognormal_distribution<double> typical(std::log(180000.0), 0.25);
    std::lognormal_distribution<double> slow(std::log(2000000.0), 0.5);
    for (int i = 0; i < 500000; ++i)
      h.record(static_cast<std::uint64_t>(i % 500 == 0 ? slow(gen) : typical(gen)));
  }
  PlotModel reads = base_model();
  reads.read = direction(IoDirection::read, 500000, 500000 * 4096, h, 59600000);
  reads.elapsed_ns = 59600000000;
  reads.timeline = seconds_of(reads.elapsed_ns, 8000, 0);
  out.push_back({"reads", reads, true, false});

  PlotModel writes = base_model();
  writes.words = {"kolvane", "if=/dev/zero", "of=out.img", "bs=64k", "count=16", "dio=w"};
  writes.input_name = "/dev/zero";
  writes.output_name = "out.img";
  writes.write = direction(IoDirection::write, 90000, 90000ull * 65536, spread(900000, 90000));
  writes.elapsed_ns = 600000000000;
  writes.timeline = seconds_of(writes.elapsed_ns, 0, 150);
  out.push_back({"writes", writes, false, true});

  PlotModel both = base_model();
  both.words = {"kolvane", "if=in.img", "of=out.img", "bs=1m", "conv=notrunc", "dio=rw"};
  both.read = direction(IoDirection::read, 7000, 7000ull << 20, spread(2000000, 7000), 6200000);
  both.write = direction(IoDirection::write, 7000, 7000ull << 20, spread(5000000, 7000), 6300000);
  both.elapsed_ns = 6300000000;
  both.timeline = seconds_of(both.elapsed_ns, 1000, 1000);
  out.push_back({"both", both, true, true});

  PlotModel second = base_model();
  second.read =
      direction(IoDirection::read, 300, 300 * 4096, latencies({{80500, 200}, {90500, 100}}));
  second.timeline = {{0, 1, {300, 300 * 4096, 0, 0}}};
  second.elapsed_ns = 310000000;
  out.push_back({"one second", second, true, false});

  // A failure before any I/O completed, with every kind of bad byte in the names.
  PlotModel failed = base_model();
  failed.words = {"kolvane", "if=\xFF\xFE<&>\"'\x01\x1B[2J", "of=o\xC3(ut", "",
                  "a b",     std::string(300, 'x')};
  failed.input_name = "\xFF\xFE<&>\"'\x01\x1B[2J\xEF\xBF\xBF";
  failed.output_name = "o\xC3(ut" + std::string(500, '/');
  failed.read = DirectionFigures{};
  failed.outcome = "error reading '\xFF\xFE<&>': Input/output error\n";
  out.push_back({"failure", failed, true, false});
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

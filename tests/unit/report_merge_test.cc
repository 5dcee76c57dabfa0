#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "report/json_read.h"
#include "report/merge.h"

namespace kolvane {
namespace {

using Json = nlohmann::ordered_json;

// A document the program wrote (both directions, a few I/Os in several buckets), with a latency
// series added: three intervals, the read histogram's buckets in each.
RunReport real_document() {
  std::ifstream in(std::string(KOLVANE_JSON_DOCUMENTS) + "/copy.json", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  JsonReadResult read = read_json(text.str());
  EXPECT_TRUE(read.report) << read.error;
  RunReport r = read.report.value_or(RunReport{});
  SeriesReport& s = r.series.emplace();
  s.interval_ms = 100;
  for (int i = 0; i < 3; ++i) {
    SeriesInterval& interval = s.intervals.emplace_back();
    interval.start_ms = 100.0 * i;
    interval.length_ms = 100;
    for (const DirectionFigures& d : r.directions) {
      SeriesFigures& f = interval.of(d.direction).emplace();
      f.ios = d.latency->count();
      f.bytes = d.bytes * (i + 1);
      f.max_ns = d.latency->max_ns();
      f.buckets.emplace();
      d.latency->for_each_bucket([&](const LatencyBucket& b) { f.buckets->push_back(b); });
      derive_percentiles(f);
    }
  }
  return r;
}

// Half of each bucket's count, an odd one's last I/O going to the two parts in turn (so that
// both hold I/Os even where every bucket holds one); the summed durations shared as the counts.
LatencyHistogram part_of(const LatencyHistogram& h, bool first) {
  std::array<std::uint64_t, LatencyHistogram::kBuckets> counts{};
  std::uint64_t firsts_total = 0;
  bool odd_to_first = true;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    const std::uint64_t c = h.bucket_count(i);
    std::uint64_t firsts = c / 2;
    if (c % 2 != 0) {
      firsts += odd_to_first ? 1 : 0;
      odd_to_first = !odd_to_first;
    }
    counts[i] = first ? firsts : c - firsts;
    firsts_total += firsts;
  }
  const auto sum =
      static_cast<std::uint64_t>(std::llround(h.mean_ns() * static_cast<double>(h.count())));
  const std::uint64_t first_sum = h.count() == 0 ? 0 : sum * firsts_total / h.count();
  // Both parts claim the run's fastest and slowest I/O: the whole's min and max are the same.
  return LatencyHistogram::from_counts(counts, first ? first_sum : sum - first_sum, h.min_ns(),
                                       h.max_ns());
}

std::uint64_t part(std::uint64_t n, bool first) {
  return first ? n / 2 : n - n / 2;
}

std::vector<LatencyBucket> part_of(const std::vector<LatencyBucket>& list, bool first) {
  std::vector<LatencyBucket> out;
  for (LatencyBucket b : list) {
    b.count = part(b.count, first);
    if (b.count != 0)
      out.push_back(b);
  }
  return out;
}

// One run's work as two runs': every count halved (the odd one to the second), each over the
// same span, so that the whole is the document it came from.
RunReport split(const RunReport& whole, bool first) {
  RunReport r = whole;
  r.records = {part(whole.records.in_full, first), part(whole.records.in_partial, first),
               part(whole.records.out_full, first), part(whole.records.out_partial, first)};
  for (DirectionFigures& d : r.directions) {
    d.bytes = part(d.bytes, first);
    d.ios = part(d.ios, first);
    d.latency = part_of(*d.latency, first);
  }
  for (SeriesInterval& i : r.series->intervals) {
    for (const IoDirection d : {IoDirection::read, IoDirection::write}) {
      if (!i.of(d))
        continue;
      SeriesFigures& f = *i.of(d);
      f.ios = part(f.ios, first);
      f.bytes = part(f.bytes, first);
      f.buckets = part_of(*f.buckets, first);
      derive_percentiles(f);
    }
  }
  return r;
}

TEST(ReportMerge, ADocumentSplitInTwoMergesBackToItsFigures) {
  const RunReport whole = real_document();
  const MergeResult merged =
      merge_reports({{"a.json", split(whole, true)}, {"b.json", split(whole, false)}});
  ASSERT_TRUE(merged.report) << merged.error;
  const Json got = Json::parse(render_json(*merged.report));
  const Json want = Json::parse(render_json(whole));
  // Every count, every bucket and the percentiles, min, max and mean derived from them.
  EXPECT_EQ(got["records"], want["records"]);
  EXPECT_EQ(got["directions"], want["directions"]);
  EXPECT_EQ(got["series"], want["series"]);
  ASSERT_EQ(got["runs"].size(), 2u);
  EXPECT_EQ(got["runs"][1]["file"], "b.json");
  EXPECT_EQ(got["runs"][1]["directions"],
            Json::parse(render_json(split(whole, false)))["directions"]);
  // Two halves over the same span: their rates add up to the whole's.
  for (const char* d : {"read", "write"}) {
    EXPECT_DOUBLE_EQ(got["merged"]["summed_rates"][d]["mb_per_s"].get<double>(),
                     want["directions"][d]["mb_per_s"].get<double>());
    EXPECT_DOUBLE_EQ(got["merged"]["summed_rates"][d]["iops"].get<double>(),
                     want["directions"][d]["iops"].get<double>());
  }
}

// The whole's span is the longest run's; a series interval past a shorter run's end is the
// longer run's alone.
TEST(ReportMerge, RunsOfOtherLengthsAddFromEachOnesStart) {
  const RunReport whole = real_document();
  RunReport longer = whole;
  longer.directions[0].wall_us *= 3;
  longer.series->intervals.push_back(longer.series->intervals.back());
  longer.series->intervals.back().start_ms = 300;
  const MergeResult merged = merge_reports({{"s.json", whole}, {"l.json", longer}});
  ASSERT_TRUE(merged.report) << merged.error;
  EXPECT_EQ(merged.report->directions[0].wall_us, longer.directions[0].wall_us);
  ASSERT_EQ(merged.report->series->intervals.size(), 4u);
  EXPECT_EQ(merged.report->series->intervals[3].read->ios, longer.series->intervals[3].read->ios);
  EXPECT_EQ(merged.report->series->intervals[0].read->ios,
            2 * whole.series->intervals[0].read->ios);
}

TEST(ReportMerge, RunsOfAnotherShapeAreRefusedWithTheReason) {
  const struct {
    const char* what;
    std::function<void(RunReport&)> change;
    const char* reason;
  } cases[] = {
      {"ibs", [](RunReport& r) { r.settings.ibs *= 2; },
       "ibs is 4096 in a.json but 8192 in b.json"},
      {"obs", [](RunReport& r) { r.settings.obs = 512; },
       "obs is 4096 in a.json but 512 in b.json"},
      {"direction", [](RunReport& r) { r.directions.pop_back(); },
       "the direction is read+write in a.json but read in b.json"},
      {"dio read", [](RunReport& r) { r.settings.read_direct = true; },
       "direct reading (dio) is no in a.json but yes in b.json"},
      {"dio write", [](RunReport& r) { r.settings.write_direct = true; },
       "direct writing (dio) is no in a.json but yes in b.json"},
      {"no series", [](RunReport& r) { r.series.reset(); },
       "a latency series is yes in a.json but no in b.json"},
      {"interval", [](RunReport& r) { r.series->interval_ms = 50; },
       "the series interval (ms) is 100 in a.json but 50 in b.json"},
      {"coarsened series", [](RunReport& r) { r.series->intervals[1].length_ms = 200; },
       "series.intervals[1] is 200.000000 ms long in b.json but 100.000000 ms"},
  };
  const RunReport a = real_document();
  for (const auto& c : cases) {
    RunReport b = a;
    c.change(b);
    const MergeResult merged = merge_reports({{"a.json", a}, {"b.json", b}});
    EXPECT_FALSE(merged.report) << c.what;
    EXPECT_NE(merged.error.find(c.reason), std::string::npos) << c.what << ": " << merged.error;
  }
}

}  // namespace
}  // namespace kolvane

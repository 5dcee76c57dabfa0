#include "report/json_report.h"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <utility>

#include "report/utf8.h"

namespace kolvane {
namespace {

using nlohmann::json;

LatencyHistogram histogram_of(std::initializer_list<std::pair<std::uint64_t, int>> durations) {
  LatencyHistogram h;
  for (const auto& [ns, times] : durations) {
    for (int i = 0; i < times; ++i) {
      h.record(ns);
    }
  }
  return h;
}

TEST(JsonReport, EveryFieldReadsBack) {
  const LatencyHistogram reads = histogram_of({{2000, 3}, {3000, 1}});
  const LatencyHistogram writes;
  RunReport r;
  r.program_version = "1.2";
  r.command = {"if=in.img", "of=out.img", "bs=4k", "count=1", "iterations=8", "report=1"};
  ReportSettings& s = r.settings;
  s.input = "in.img";
  s.output = "out.img";
  s.ibs = 4096;
  s.obs = 8192;
  s.count = 1;
  s.skip = 2;
  s.seek = 3;
  s.iterations = 8;
  s.write_direct = true;
  s.conv = {"notrunc", "fsync"};
  s.verbose = 1;
  s.report = true;
  s.progress_s = 5;
  s.runtime_s = 60;
  s.seed = 4294967295u;
  s.distribution = "uniform";
  s.iodepth = 4;
  s.pattern = "random";
  s.verify = 1;
  r.seed = 4294967295u;
  r.records = {8, 1, 4, 2};
  r.interrupted = true;
  r.exit_status = 130;
  r.directions = {{IoDirection::read, 32768, 4, 1000, reads, {}},
                  {IoDirection::write, 0, 0, 0, writes, {}}};

  const std::string text = render_json(r);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  const json j = json::parse(text);  // one document and nothing after it, or this throws

  EXPECT_EQ(j["format_version"], 2);
  EXPECT_EQ(j["program_version"], "1.2");
  EXPECT_EQ(j["command"], json(r.command));
  EXPECT_FALSE(j.contains("command_hex"));
  const json expected_settings = {{"input", "in.img"},
                                  {"output", "out.img"},
                                  {"ibs", 4096},
                                  {"obs", 8192},
                                  {"count", 1},
                                  {"skip", 2},
                                  {"seek", 3},
                                  {"iterations", 8},
                                  {"dio", {{"read", false}, {"write", true}}},
                                  {"conv", {"notrunc", "fsync"}},
                                  {"verbose", 1},
                                  {"report", true},
                                  {"progress", 5},
                                  {"runtime", 60},
                                  {"seed", 4294967295u},
                                  {"distribution", "uniform"},
                                  {"iodepth", 4},
                                  {"pattern", "random"},
                                  {"verify", 1}};
  EXPECT_EQ(j["settings"], expected_settings);
  EXPECT_EQ(j["seed"], 4294967295u);
  EXPECT_EQ(j["records"], json::parse(R"({"in": {"full": 8, "partial": 1},
                                            "out": {"full": 4, "partial": 2}})"));
  EXPECT_EQ(j["exit_status"], 130);
  EXPECT_FALSE(j.contains("error"));
  EXPECT_EQ(j["interrupted"], true);

  const json& read = j["directions"]["read"];
  EXPECT_EQ(read["bytes"], 32768);
  EXPECT_EQ(read["ios"], 4);
  EXPECT_EQ(read["wall_us"], 1000);
  EXPECT_DOUBLE_EQ(read["mb_per_s"].get<double>(), 32.768);
  EXPECT_DOUBLE_EQ(read["iops"].get<double>(), 4000.0);
  const json expected_latency = {{"count", 4},     {"min", 2000},
                                 {"mean", 2250.0}, {"p50", 2004},
                                 {"p90", 3000},    {"p99", 3000},
                                 {"p99_9", 3000},  {"p99_99", 3000},
                                 {"max", 3000},    {"buckets", {{2000, 2008, 3}, {2992, 3008, 1}}}};
  EXPECT_EQ(read["latency_ns"], expected_latency);

  // Nothing written: counts of zero, no rates, no latency figures.
  const json& write = j["directions"]["write"];
  EXPECT_EQ(write["bytes"], 0);
  EXPECT_TRUE(write["mb_per_s"].is_null());
  EXPECT_TRUE(write["iops"].is_null());
  EXPECT_EQ(write["latency_ns"]["count"], 0);
  EXPECT_TRUE(write["latency_ns"]["p50"].is_null());
  EXPECT_EQ(write["latency_ns"]["buckets"], json::array());
}

TEST(JsonReport, FailedRunWithWordsNotGiven) {
  RunReport r;
  r.program_version = "1.2";
  r.command = {"of=out.img", "ibs=512"};
  r.settings.output = "out.img";
  r.settings.ibs = r.settings.obs = 512;
  r.seed = 77;
  r.exit_status = 3;
  r.error = "error reading 'standard input': Input/output error";
  const json j = json::parse(render_json(r));
  EXPECT_EQ(j["exit_status"], 3);
  EXPECT_EQ(j["error"], "error reading 'standard input': Input/output error");
  EXPECT_EQ(j["interrupted"], false);
  EXPECT_EQ(j["seed"], 77);
  EXPECT_EQ(j["directions"], json::object());
  for (const char* absent : {"input", "count", "iterations", "progress", "runtime", "seed",
                             "distribution", "iodepth", "pattern", "verify"}) {
    EXPECT_FALSE(j["settings"].contains(absent)) << absent;
  }
  EXPECT_EQ(j["settings"]["conv"], json::array());
}

TEST(JsonReport, BucketsOfTwoRunsAddUpToTheMergedHistogram) {
  const LatencyHistogram a = histogram_of({{150, 2}, {2000, 5}, {1'000'000, 1}});
  const LatencyHistogram b = histogram_of({{151, 1}, {2001, 4}, {7'200'000'000'000, 1}});
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::uint64_t> summed;
  for (const LatencyHistogram* h : {&a, &b}) {
    RunReport r;
    r.directions = {{IoDirection::read, 1, 1, 1, *h, {}}};
    const json j = json::parse(render_json(r));
    for (const json& bucket : j["directions"]["read"]["latency_ns"]["buckets"]) {
      summed[{bucket[0].get<std::uint64_t>(), bucket[1].get<std::uint64_t>()}] +=
          bucket[2].get<std::uint64_t>();
    }
  }
  LatencyHistogram merged = a;
  merged.merge(b);
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::uint64_t> expected;
  for (std::size_t i = 0; i < LatencyHistogram::kBuckets; ++i) {
    if (merged.bucket_count(i) != 0) {
      expected[{LatencyHistogram::bucket_low_ns(i), LatencyHistogram::bucket_high_ns(i)}] =
          merged.bucket_count(i);
    }
  }
  EXPECT_EQ(summed, expected);
  EXPECT_EQ(summed.size(), 5u);  // 2000 and 2001 share a bucket, 150 and 151 do not
}

// Every interval from the first to the last with an I/O, empty ones included, with the run's
// directions only; the buckets only when asked for.
TEST(JsonReport, SeriesIntervalsAsWritten) {
  LatencySeries series(1000);  // records of 62.5 ms
  for (const std::uint64_t ns : {2000, 2001, 2002, 3000})
    series.record(10'000'000, IoDirection::read, ns, 4096);
  series.record(140'000'000, IoDirection::read, 7, 512);
  series.record(140'000'001, IoDirection::write, 9, 512);  // a direction the run does not report
  for (const bool buckets : {false, true}) {
    SCOPED_TRACE(buckets);
    RunReport r;
    r.series = series_report(series, {IoDirection::read}, buckets);
    json expected = json::parse(R"({"interval_ms": 1000, "intervals": [
      {"start_ms": 0.0, "length_ms": 62.5, "read": {"ios": 4, "bytes": 16384, "p50_ns": 2004,
       "p99_ns": 3000, "max_ns": 3000, "buckets": [[2000, 2008, 3], [2992, 3008, 1]]}},
      {"start_ms": 62.5, "length_ms": 62.5, "read": {"ios": 0, "bytes": 0, "p50_ns": null,
       "p99_ns": null, "max_ns": null, "buckets": []}},
      {"start_ms": 125.0, "length_ms": 62.5, "read": {"ios": 1, "bytes": 512, "p50_ns": 7,
       "p99_ns": 7, "max_ns": 7, "buckets": [[7, 8, 1]]}}]})");
    if (!buckets) {
      for (json& interval : expected["intervals"]) interval["read"].erase("buckets");
    }
    EXPECT_EQ(json::parse(render_json(r))["series"], expected);
  }
}

TEST(Utf8, InvalidBytesAreReplacedOneByOne) {
  const struct {
    std::string in, out;
    bool replaced;
  } cases[] = {
      {"plain.img", "plain.img", false},
      {"", "", false},
      {"d\xC3\xBCrr \xE2\x82\xAC \xF0\x9F\x92\xBE", "d\xC3\xBCrr \xE2\x82\xAC \xF0\x9F\x92\xBE",
       false},
      {"a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b",
       true},
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", true},                  // overlong '/'
      {"\xE0\x80\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", true},  // overlong, 3 bytes
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", true},  // a surrogate
      {"\xF4\x90\x80\x80x", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx", true},  // > 10FFFF
      {"x\xE2\x82", "x\xEF\xBF\xBD\xEF\xBF\xBD", true},  // cut short at the end
      {"\xE2(\xA1", "\xEF\xBF\xBD(\xEF\xBF\xBD", true},  // cut short by an ASCII byte
      {std::string("a\0b", 3), std::string("a\0b", 3), false},
  };
  for (const auto& c : cases) {
    bool replaced = !c.replaced;
    EXPECT_EQ(valid_utf8(c.in, replaced), c.out) << hex_bytes(c.in);
    EXPECT_EQ(replaced, c.replaced) << hex_bytes(c.in);
  }
  EXPECT_EQ(hex_bytes(std::string("a\xFF\0\x10", 4)), "61ff0010");
}

}  // namespace
}  // namespace kolvane

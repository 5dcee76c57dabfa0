#include "report/json_read.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

namespace kolvane {
namespace {

std::string document(const std::string& name) {
  std::ifstream in(std::string(KOLVANE_JSON_DOCUMENTS) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Documents the program wrote, each of a few I/Os: a copy with both directions' latencies, the
// optional settings given and when, where and at what processor time it ran; stamped blocks read
// back and a run that failed before any I/O, from a program that did not tell those yet.
TEST(JsonRead, DocumentsReadBackAndRenderToTheSameBytes) {
  for (const char* name : {"copy.json", "stamped.json", "failed.json"}) {
    const std::string text = document(name);
    ASSERT_FALSE(text.empty()) << name;
    const JsonReadResult read = read_json(text);
    ASSERT_TRUE(read.report) << name << ": " << read.error;
    EXPECT_EQ(read.error, "") << name;
    EXPECT_EQ(render_json(*read.report), text) << name;
  }
}

// A run of several workers adds each worker's figures and, for a split copy that ended early,
// the blocks copied past its records; a run at rate= its service times and how it kept to its
// schedule: all read back as they were written.
TEST(JsonRead, WorkersBlocksCopiedBeyondAndRateReadBack) {
  auto j = nlohmann::ordered_json::parse(document("copy.json"));
  j["settings"]["workers"] = 2;
  j["settings"]["rate"] = 5000;
  j["settings"]["arrivals"] = "poisson";
  j["directions"]["read"]["service_ns"] = j["directions"]["read"]["latency_ns"];
  for (int w = 0; w < 2; ++w)
    j["workers"].push_back(
        {{"seed", 7 + w}, {"records", j["records"]}, {"directions", j["directions"]}});
  j["copied_beyond_records"] = {{{"first_block", 12}, {"blocks", 2}}};
  j["rate"] = {{"target_per_s", 5000},
               {"achieved_per_s", 4990.5},
               {"late", 3},
               {"not_issued", 7},
               {"lateness_ns", j["directions"]["read"]["latency_ns"]}};
  const std::string text = j.dump(2) + "\n";
  const JsonReadResult read = read_json(text);
  ASSERT_TRUE(read.report) << read.error;
  EXPECT_EQ(read.report->workers.size(), 2u);
  ASSERT_TRUE(read.report->rate);
  EXPECT_EQ(read.report->rate->not_issued, 7u);
  EXPECT_TRUE(read.report->directions[0].service);
  EXPECT_EQ(render_json(*read.report), text);
}

// The series reads back with or without its buckets. Without them the percentiles are the
// document's; with them they are made again from the buckets, whatever the document says.
TEST(JsonRead, SeriesReadsBackWithAndWithoutBuckets) {
  LatencySeries series(100);
  for (std::uint64_t i = 0; i < 50; ++i)
    series.record(i * 4'000'000, i % 3 == 0 ? IoDirection::write : IoDirection::read,
                  1000 + i * i * 977, 4096);
  const JsonReadResult copy = read_json(document("copy.json"));
  ASSERT_TRUE(copy.report) << copy.error;
  for (const bool buckets : {false, true}) {
    SCOPED_TRACE(buckets);
    RunReport r = *copy.report;
    r.series = series_report(series, {IoDirection::read, IoDirection::write}, buckets);
    const std::string text = render_json(r);
    JsonReadResult read = read_json(text);
    ASSERT_TRUE(read.report) << read.error;
    ASSERT_TRUE(read.report->series);
    EXPECT_EQ(read.report->series->intervals.size(), 16u);  // to 196 ms in records of 12.5 ms
    EXPECT_EQ(render_json(*read.report), text);

    auto j = nlohmann::ordered_json::parse(text);
    const std::uint64_t derived = j["series"]["intervals"][2]["write"]["p50_ns"];
    j["series"]["intervals"][2]["write"]["p50_ns"] = 1234;
    read = read_json(j.dump());
    ASSERT_TRUE(read.report) << read.error;
    EXPECT_EQ(read.report->series->intervals[2].write->p50_ns, buckets ? derived : 1234u);
  }
}

TEST(JsonRead, WhatIsWrongIsNamedWithWhereItIs) {
  const struct {
    const char* pointer;  // into copy.json; empty: text is the whole document
    const char* text;     // the value put there; null: the member taken away
    const char* error;
  } cases[] = {
      {"", "{\"format_version\": 2,",
       "[json.exception.parse_error.101] parse error at line 1, column 22: syntax error while "
       "parsing object key - unexpected end of input; expected string literal"},
      {"", "[1]", "the document: not an object"},
      {"/format_version", "1", "format_version: 1 is not 2"},
      {"/program", "\"other\"", "program: not kolvane"},
      {"/settings/ibs", nullptr, "settings.ibs: missing"},
      {"/settings/ibs", "-4096", "settings.ibs: not a whole number of 0 or more"},
      {"/settings/verbose", "4294967296", "settings.verbose: 4294967296 is out of range"},
      {"/settings/input_hex", "\"6g\"", "settings.input_hex: not hexadecimal bytes"},
      {"/command_hex", "[\"61\"]", "command_hex: not one entry per word of the command"},
      {"/exit_status", "\"0\"", "exit_status: not a whole number"},
      {"/host", nullptr, "host: missing"},
      {"/cpu/system_s", "-0.5", "cpu.system_s: not a number of 0 or more"},
      {"/records/out", "[]", "records.out: not an object"},
      {"/directions/sideways", "{}", "directions.sideways: not a direction (read or write)"},
      {"/directions/write/latency_ns/buckets/1", "[2288, 2303, 1]",
       "directions.write.latency_ns.buckets[1]: [2288, 2303) is not a bucket of the histogram"},
      {"/directions/read/latency_ns/count", "5",
       "directions.read.latency_ns.count: 5 is not the sum of the buckets' counts, 4"},
      {"/directions/read/latency_ns/mean", "null",
       "directions.read.latency_ns.mean: not a number of 0 or more"},
      {"/workers", "{}", "workers: not a list"},
      {"/workers", "[{\"seed\": 1}]", "workers[0].records: missing"},
      {"/workers", "[{\"seed\": 1, \"records\": {\"in\": {}}}]", "workers[0].records.out: missing"},
      {"/copied_beyond_records", "[{\"first_block\": 1}]",
       "copied_beyond_records[0].blocks: missing"},
      {"/series", "{\"interval_ms\": 1000}", "series.intervals: missing"},
      {"/series", R"({"interval_ms": 1000, "intervals": [{"start_ms": "0"}]})",
       "series.intervals[0].start_ms: not a number"},
      {"/series", R"({"interval_ms": 1000, "intervals": [{"start_ms": 0, "length_ms": 62.5,
         "read": {"ios": 2, "bytes": 1, "p50_ns": null, "p99_ns": null, "max_ns": 5,
         "buckets": [[5, 6, 1]]}}]})",
       "series.intervals[0].read.ios: 2 is not the sum of the buckets' counts, 1"},
  };
  const auto copy = nlohmann::ordered_json::parse(document("copy.json"));
  for (const auto& c : cases) {
    std::string text;
    if (*c.pointer == '\0') {
      text = c.text;
    } else {
      auto j = copy;
      const nlohmann::ordered_json::json_pointer at(c.pointer);
      if (c.text == nullptr) {
        j.at(at.parent_pointer()).erase(at.back());
      } else {
        j[at] = nlohmann::ordered_json::parse(c.text);
      }
      text = j.dump(2);
    }
    const JsonReadResult read = read_json(text);
    EXPECT_FALSE(read.report) << c.pointer;
    EXPECT_EQ(read.error, c.error) << c.pointer;
  }
}

}  // namespace
}  // namespace kolvane

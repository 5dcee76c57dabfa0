// kolvane-report on documents real runs wrote: merge adds them up exactly, plot draws any
// document, compare gates on a regression; the Windows and the Linux programs write the same
// bytes from the same documents.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

#include "harness.h"

namespace e2e {
namespace {

using Json = nlohmann::json;

bool have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

class Report : public E2e {
 protected:
  void SetUp() override {
    E2e::SetUp();
    if (options.report_binary.empty())
      GTEST_SKIP() << "no --report-binary";
  }
  // The other build's kolvane-report gives the same bytes and status from the same documents.
  void expect_peer_agrees(const Result& mine, const std::string& words) const {
    if (options.peer_report_binary.empty())
      return;
    const Result theirs = run_peer_report(words);
    EXPECT_EQ(theirs.status, mine.status) << words << ": " << theirs.err;
    EXPECT_EQ(theirs.out, mine.out) << words;
  }
};

// (low, high) -> count of a latency object's buckets.
std::map<std::pair<std::uint64_t, std::uint64_t>, std::uint64_t> buckets(const Json& latency) {
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::uint64_t> out;
  for (const Json& b : latency["buckets"]) out[{b[0], b[1]}] += b[2].get<std::uint64_t>();
  return out;
}

// Two runs of different work: the merge's records, bytes, I/Os and every bucket are their sums,
// each direction's fastest and slowest the runs' own, the series added interval by interval.
TEST_F(Report, MergeOfTwoRunsIsTheSumOfTheirRecordsAndBuckets) {
  put("in", random_bytes(1 << 16, 3));
  const char* const words[] = {
      "if=in of=o1 bs=4k count=4 iterations=6 seed=1 interval=100 json-buckets=1 json=a.json",
      "if=in of=o2 bs=4k count=8 iterations=3 seed=2 interval=100 json-buckets=1 json=b.json"};
  for (const char* w : words) ASSERT_EQ(run(w).status, 0) << w;
  const Json a = Json::parse(get("a.json")), b = Json::parse(get("b.json"));

  const Result r = run_report("merge a.json b.json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const Json whole = Json::parse(r.out);
  for (const char* side : {"in", "out"})
    EXPECT_EQ(whole["records"][side]["full"].get<std::uint64_t>(),
              a["records"][side]["full"].get<std::uint64_t>() +
                  b["records"][side]["full"].get<std::uint64_t>());
  for (const char* d : {"read", "write"}) {
    SCOPED_TRACE(d);
    const Json &x = a["directions"][d], &y = b["directions"][d], &w = whole["directions"][d];
    for (const char* n : {"bytes", "ios"})
      EXPECT_EQ(w[n].get<std::uint64_t>(), x[n].get<std::uint64_t>() + y[n].get<std::uint64_t>());
    auto sum = buckets(x["latency_ns"]);
    for (const auto& [bucket, n] : buckets(y["latency_ns"])) sum[bucket] += n;
    EXPECT_EQ(buckets(w["latency_ns"]), sum);
    EXPECT_EQ(w["latency_ns"]["min"], std::min(x["latency_ns"]["min"], y["latency_ns"]["min"]));
    EXPECT_EQ(w["latency_ns"]["max"], std::max(x["latency_ns"]["max"], y["latency_ns"]["max"]));
    EXPECT_EQ(w["wall_us"], std::max(x["wall_us"], y["wall_us"]));
    std::uint64_t series_ios = 0;
    for (const Json& i : whole["series"]["intervals"])
      series_ios += i[d]["ios"].get<std::uint64_t>();
    EXPECT_EQ(series_ios, w["ios"].get<std::uint64_t>());
  }
  ASSERT_EQ(whole["runs"].size(), 2u);
  EXPECT_EQ(whole["runs"][0]["directions"], a["directions"]);
  EXPECT_EQ(whole["runs"][1]["directions"], b["directions"]);
  expect_peer_agrees(r, "merge a.json b.json");
}

// Any document is drawn: a merged one (its rates over time from its series) and one without a
// series.
TEST_F(Report, PlotOfAnyDocumentParsesAndRenders) {
  if (!have("xmllint") || !have("rsvg-convert"))
    GTEST_SKIP() << "xmllint (libxml2-utils) or rsvg-convert (librsvg2-bin) not installed";
  put("in", random_bytes(1 << 16, 4));
  ASSERT_EQ(run("if=in of=o1 bs=4k count=16 interval=100 json=a.json").status, 0);
  ASSERT_EQ(run("if=in of=o2 bs=4k count=16 interval=100 json=b.json").status, 0);
  // A program from before the series kept none.
  nlohmann::ordered_json plain = nlohmann::ordered_json::parse(get("a.json"));
  plain.erase("series");
  put("plain.json", plain.dump(2));
  const Result merged = run_report("merge a.json b.json -o whole.json");
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(merged.out, "");
  for (const char* name : {"whole", "plain"}) {
    SCOPED_TRACE(name);
    const Result r = run_report(std::string("plot ") + name + ".json");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = std::string(name) + ".svg";
    put(svg, r.out);
    EXPECT_EQ(std::system(("xmllint --noout " + path(svg)).c_str()), 0);
    EXPECT_EQ(std::system(("rsvg-convert -o " + path(svg) + ".png " + path(svg)).c_str()), 0);
    EXPECT_NE(r.out.find("read latency"), std::string::npos);
    // Rate panels only where the document kept a series: without one, nothing says that no I/O
    // completed either.
    const bool rate_panels = r.out.find("I/Os per second") != std::string::npos ||
                             r.out.find("No I/O completed") != std::string::npos;
    EXPECT_EQ(rate_panels, name == std::string("whole"));
  }
}

// Fixed documents (two real runs' tails differ by more than any tolerance): the same one
// passes, a planted 20 % regression fails the gate, a document that cannot be read or merged
// is bad input.
TEST_F(Report, CompareGatesAndMergeRefusesWithTheirStatuses) {
  Json base = {
      {"format_version", 2},
      {"program", "kolvane"},
      {"program_version", "1.2"},
      {"command", {"if=in", "of=out"}},
      {"settings",
       {{"ibs", 4096},
        {"obs", 4096},
        {"skip", 0},
        {"seek", 0},
        {"dio", {{"read", false}, {"write", false}}},
        {"conv", Json::array()},
        {"verbose", 0},
        {"report", false}}},
      {"seed", 7},
      {"records",
       {{"in", {{"full", 1000}, {"partial", 0}}}, {"out", {{"full", 1000}, {"partial", 0}}}}},
      {"exit_status", 0},
      {"interrupted", false}};
  // 1000 reads of 4 KiB in a second, 900 at about 100 µs and 100 at about 1 ms.
  base["directions"]["read"] = {{"bytes", 4096000},
                                {"ios", 1000},
                                {"wall_us", 1000000},
                                {"latency_ns",
                                 {{"count", 1000},
                                  {"min", 100000},
                                  {"mean", 190000},
                                  {"max", 1000000},
                                  {"buckets", {{99840, 100352, 900}, {999424, 1003520, 100}}}}}};
  put("base.json", base.dump(2));
  Json slow = base;
  slow["directions"]["read"]["wall_us"] = 1250000;  // IOPS and MB/s 20 % lower
  put("slow.json", slow.dump(2));
  Json other = base;
  other["format_version"] = 1;
  put("v1.json", other.dump(2));
  Json direct = base;
  direct["settings"]["dio"]["read"] = true;
  put("direct.json", direct.dump(2));
  put("broken.json", base.dump(2).substr(0, 200));
  const struct {
    const char* words;
    int status;
    const char* err;  // what standard error holds
  } rows[] = {
      {"compare base.json base.json", 0, ""},
      {"compare base.json slow.json", 1, ""},
      {"compare base.json slow.json --tolerance=30", 0, ""},
      {"compare base.json broken.json", 2, "broken.json: "},
      {"compare v1.json base.json", 2, "v1.json: format_version: 1 is not 2"},
      {"merge base.json v1.json", 2, "v1.json: format_version: 1 is not 2"},
      {"merge base.json direct.json", 2, "direct reading (dio) is no in base.json but yes"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    const Result r = run_report(row.words);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
    if (row.status != 2) {
      EXPECT_NE(r.out.find(row.status == 1 ? "worse" : "same"), std::string::npos) << r.out;
    }
    expect_peer_agrees(r, row.words);
  }
}

}  // namespace
}  // namespace e2e

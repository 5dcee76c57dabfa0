// rate=: every engine keeps to the one schedule (a run is never faster than its due times allow),
// each I/O's latency from its due time is never shorter than its service from the hand-over, and a
// rate the run cannot reach is said after the records.
#include <nlohmann/json.hpp>
#include <string>

#include "harness.h"

namespace e2e {
namespace {

using Json = nlohmann::json;

TEST_F(E2e, RateRunsKeepToTheirSchedule) {
  constexpr int kIos = 300;
  constexpr double kRate = 1000;
  const struct {
    const char* words;
    const char* paced;  // the direction the schedule counts
  } table[] = {
      {"if=in of=/dev/null", "read"},
      {"if=in of=/dev/null iodepth=8", "read"},
      {"if=in of=/dev/null workers=2 iodepth=4", "read"},
      {"if=/dev/zero of=out conv=notrunc iodepth=4", "write"},
      {"if=/dev/zero of=out conv=notrunc mix=50 seed=3", "both"},
  };
  put("in", random_bytes(1 << 20, 3));
  put("out", std::string(1 << 20, '\0'));
  for (const auto& row : table) {
    SCOPED_TRACE(row.words);
    const Result r =
        run(std::string(row.words) + " bs=4k count=1 iterations=" + std::to_string(kIos) +
            " distribution=uniform rate=1000 json=r.json");
    ASSERT_EQ(r.status, 0) << r.err;
    const Json j = Json::parse(get("r.json"));
    std::uint64_t ios = 0;
    for (const auto& [name, d] : j.at("directions").items()) {
      if (std::string(row.paced) != "both" && name != row.paced)
        continue;
      ios += d.at("ios").get<std::uint64_t>();
      // Pointwise latency >= service, so every point of its distribution is too.
      for (const char* point : {"min", "p50", "p99", "max"})
        EXPECT_GE(d.at("latency_ns").at(point).get<double>(),
                  d.at("service_ns").at(point).get<double>())
            << name << " " << point;
    }
    EXPECT_EQ(ios, static_cast<std::uint64_t>(kIos));
    const Json& rate = j.at("rate");
    EXPECT_EQ(rate.at("target_per_s"), 1000);
    EXPECT_EQ(rate.at("not_issued"), 0);
    // The last I/O is due (kIos - 1) / rate after the first: the run cannot be quicker.
    EXPECT_LE(rate.at("achieved_per_s").get<double>(), kRate * kIos / (kIos - 1));
    EXPECT_GT(rate.at("achieved_per_s").get<double>(), 0.0);
    EXPECT_EQ(j.at("settings").at("arrivals"), "even");
  }
}

TEST_F(E2e, ARateNotReachedIsSaidAfterTheRecords) {
  put("in", random_bytes(1 << 16, 4));
  const Result r = run("if=in of=/dev/null bs=512 count=1 iterations=2000 rate=1000000000");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string records = text("2000+0 records in\n2000+0 records out\n");
  const std::size_t at = r.err.find(records);
  ASSERT_NE(at, std::string::npos) << r.err;
  const std::string after = r.err.substr(at + records.size());
  EXPECT_TRUE(after.starts_with("rate not reached: ")) << after;
  EXPECT_TRUE(after.ends_with(text(" of 1000000000 I/Os per second\n"))) << after;
}

}  // namespace
}  // namespace e2e

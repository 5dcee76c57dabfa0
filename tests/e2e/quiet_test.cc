// The json= document's account of when, where and at what processor time a run was made.
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <regex>

#include "harness.h"

namespace e2e {
namespace {

using Json = nlohmann::json;

// The document tells when the run started (UTC, whatever the local zone), on which host and
// system, and the processor time it took.
TEST_F(E2e, JsonTellsWhenWhereAndAtWhatCost) {
  put("in", random_bytes(4096, 10));
  const auto before = std::chrono::system_clock::now();
  const Result r = run("if=in of=out json=r.json", {}, {"TZ=Etc/GMT-5"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Json j = Json::parse(get("r.json"));

  std::smatch t;
  const std::string start = j.at("start_time");
  ASSERT_TRUE(std::regex_match(
      start, t, std::regex("(\\d{4})-(\\d\\d)-(\\d\\d)T(\\d\\d):(\\d\\d):(\\d\\d)\\.(\\d{3})Z")))
      << start;
  using namespace std::chrono;
  const auto number = [&](int i) { return std::stoi(t[i].str()); };
  const sys_days day = year{number(1)} / number(2) / number(3);
  const auto started =
      day + hours{number(4)} + minutes{number(5)} + seconds{number(6)} + milliseconds{number(7)};
  EXPECT_LT(abs(duration_cast<seconds>(started - before)), minutes{1}) << start;

  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(j.at("host"), host);
  utsname u;
  ASSERT_EQ(uname(&u), 0);
  const std::string os = j.at("os");
  if (target().linux_devices) {
    EXPECT_EQ(os, std::string(u.sysname) + " " + u.release);
  } else {
    EXPECT_TRUE(std::regex_match(os, std::regex("Windows \\d+\\.\\d+\\.\\d+"))) << os;
  }
  for (const char* mode : {"user_s", "system_s"}) {
    EXPECT_GE(j.at("cpu").at(mode).get<double>(), 0.0) << mode;
  }
}

}  // namespace
}  // namespace e2e

// quiet=1, for scripts: only what was asked for on each stream; and the json= document's account
// of when, where and at what processor time a run was made.
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "harness.h"

namespace e2e {
namespace {

using Json = nlohmann::json;

// Nothing for a plain copy, report=1's summary, a failure's message, and json=- as a document for
// a pipe: on standard output, or on standard error when the data go to standard output.
TEST_F(E2e, QuietPrintsOnlyWhatIsAskedFor) {
  const std::string data = random_bytes(4096, 9);
  put("in", data);
  const std::string line = "[^\\r\\n]*\n";
  enum class Document { none, on_out, on_err };
  const struct {
    const char* words;
    int status;
    Document document;
    std::string out, err;  // patterns of whole streams, "\n" the target's line end; not checked
                           // for the stream with the document or the data
    bool output_written;   // "out" holds the data; otherwise it was never made
  } rows[] = {
      {"if=in of=out quiet=1", 0, Document::none, "", "", true},
      {"if=in of=out bs=1k quiet=1 report=1", 0, Document::none, "",
       "transfer " + line + "read " + line + "write " + line + "latency \\(us\\)" + line + "read " +
           line + "write " + line,
       true},
      {"if=missing of=out quiet=1", 2, Document::none, "", "error opening 'missing': " + line,
       false},
      {"if=in of=out quiet=1 json=-", 0, Document::on_out, "", "", true},
      {"if=in quiet=1 json=-", 0, Document::on_err, "", "", false},
      {"if=in of=out verbose=1 quiet=1", 1, Document::none, "",
       "quiet=1 cannot be used with verbose=\n", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    std::filesystem::remove(path("out"));
    const Result r = run(row.words);
    EXPECT_EQ(r.status, row.status) << r.err;
    if (row.document == Document::on_out) {
      // Parsed as a pipe's reader would; Windows must not have made its line ends CR LF.
      EXPECT_EQ(Json::parse(r.out).at("directions").at("write").at("ios"), 8);
      EXPECT_EQ(r.out.find('\r'), std::string::npos);
    } else if (row.document == Document::on_err) {
      EXPECT_EQ(r.out, data);
      EXPECT_EQ(Json::parse(r.err).at("directions").at("read").at("ios"), 8);
    } else {
      EXPECT_TRUE(std::regex_match(r.out, std::regex(text(row.out)))) << r.out;
    }
    if (row.document != Document::on_err) {
      EXPECT_TRUE(std::regex_match(r.err, std::regex(text(row.err)))) << r.err;
    }
    EXPECT_EQ(std::filesystem::exists(path("out")), row.output_written);
    if (row.output_written) {
      EXPECT_EQ(get("out"), data);
    }
  }
}

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

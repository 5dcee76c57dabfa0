// What a run measures and reports when asked: the report=1 summary beside the records lines,
// the json= document, progress lines while the data move, and the plot= picture.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#if KOLVANE_RENDER_CHECKS
#include <png.h>
#endif

#include "harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// The lines of a stream without their ends.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> f;
  for (std::string word; in >> word;) f.push_back(word);
  return f;
}

struct SummaryRow {
  std::uint64_t bytes = 0, ios = 0;
  double seconds = 0, mbs = 0;
  std::vector<double> latency_us;  // min, mean, p50, p90, p99, p99.9, p99.99, max
};

// The report=1 tables as rows by direction; both tables must name the same directions.
std::map<std::string, SummaryRow> summary(const std::string& err) {
  std::map<std::string, SummaryRow> rows;
  const std::vector<std::string> lines = lines_of(err);
  std::size_t i = 0;
  while (i < lines.size() && lines[i].rfind("transfer ", 0) != 0) ++i;
  if (i == lines.size())
    return rows;
  EXPECT_EQ(fields(lines[i]), (std::vector<std::string>{"transfer", "bytes", "MB", "MiB", "I/Os",
                                                        "time", "(s)", "MB/s", "IOPS"}));
  for (++i; i < lines.size() && lines[i].rfind("latency (us)", 0) != 0; ++i) {
    const std::vector<std::string> f = fields(lines[i]);
    EXPECT_EQ(f.size(), 8u) << lines[i];
    if (f.size() != 8)
      continue;
    SummaryRow& row = rows[f[0]];
    row.bytes = std::stoull(f[1]);
    row.ios = std::stoull(f[4]);
    row.seconds = std::stod(f[5]);
    row.mbs = f[6] == "-" ? 0 : std::stod(f[6]);
  }
  EXPECT_LT(i, lines.size()) << "no latency table";
  for (++i; i < lines.size(); ++i) {
    const std::vector<std::string> f = fields(lines[i]);
    EXPECT_EQ(f.size(), 9u) << lines[i];
    EXPECT_TRUE(rows.count(f.at(0))) << lines[i];
    for (std::size_t k = 1; k < f.size(); ++k) rows[f[0]].latency_us.push_back(std::stod(f[k]));
  }
  return rows;
}

// The records lines as numbers: in full, in partial, out full, out partial.
std::array<std::uint64_t, 4> records(const std::string& err) {
  std::smatch m;
  const std::regex in("(\\d+)\\+(\\d+) records in\r?\n(\\d+)\\+(\\d+) records out");
  EXPECT_TRUE(std::regex_search(err, m, in)) << err;
  if (m.empty())
    return {};
  return {std::stoull(m[1]), std::stoull(m[2]), std::stoull(m[3]), std::stoull(m[4])};
}

// The latency figures in order never go down; min is above 0.
void expect_ordered(const std::vector<double>& l) {
  ASSERT_EQ(l.size(), 8u);
  EXPECT_GT(l[0], 0);
  EXPECT_LE(l[0], l[1]);  // min <= mean <= max
  EXPECT_LE(l[1], l[7]);
  for (std::size_t k = 2; k < 8; ++k) EXPECT_LE(l[k - 1 == 1 ? 0 : k - 1], l[k]) << k;
}

struct Direction {
  const char* name;
  std::uint64_t bytes, ios;
};

struct MeasuredCase {
  const char* name;
  const char* words;
  long in;  // bytes of "in"
  std::vector<Direction> directions;
  const char* records = nullptr;  // the records lines, where a case pins them
};

const MeasuredCase kMeasured[] = {
    {"CopyReblocked",
     "if=in of=out ibs=4k obs=2k count=3",
     65536,
     {{"read", 12288, 3}, {"write", 12288, 6}}},
    {"RandomReads", "if=in of=/dev/null bs=4k count=1 iterations=5", 65536, {{"read", 20480, 5}}},
    {"ZeroSource", "if=/dev/zero of=out bs=1k count=4", 0, {{"write", 4096, 4}}},
    {"NoDirection", "if=/dev/zero of=/dev/null count=2", 0, {}},
    // A partial block is one I/O of its own.
    {"TailBlock", "if=in of=out bs=1000", 2500, {{"read", 2500, 3}, {"write", 2500, 3}}},
    // In flight too the short read counts the bytes it got, not a whole block.
    {"QueuedTailBlock",
     "if=in of=out bs=4k iodepth=8",
     10000,
     {{"read", 10000, 3}, {"write", 10000, 3}},
     "2+1 records in\n2+1 records out\n"},
};

class Measured : public E2e, public ::testing::WithParamInterface<MeasuredCase> {
 protected:
  void SetUp() override {
    E2e::SetUp();
    if (GetParam().in > 0)
      put("in", random_bytes(static_cast<std::size_t>(GetParam().in), 5));
  }
};

// The summary follows the records lines and agrees with them.
TEST_P(Measured, ReportSummaryAgreesWithTheRecords) {
  const MeasuredCase& c = GetParam();
  const Result r = run(std::string(c.words) + " report=1");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto rec = records(r.err);
  if (c.records != nullptr) {
    EXPECT_EQ(r.err.substr(0, r.err.find("transfer ")), text(c.records));
  }
  const auto rows = summary(r.err);
  ASSERT_EQ(rows.size(), c.directions.size()) << r.err;
  if (c.directions.empty()) {
    EXPECT_EQ(r.err, text("2+0 records in\n2+0 records out\n"));
    return;
  }
  EXPECT_LT(r.err.find("records out"), r.err.find("transfer "));
  for (const Direction& d : c.directions) {
    SCOPED_TRACE(d.name);
    const SummaryRow& row = rows.at(d.name);
    EXPECT_EQ(row.bytes, d.bytes);
    EXPECT_EQ(row.ios, d.ios);
    // A zero source counts its blocks in; they are not reads.
    const bool read = std::string(d.name) == "read";
    EXPECT_EQ(row.ios, read ? rec[0] + rec[1] : rec[2] + rec[3]);
    EXPECT_GT(row.seconds, 0);
    EXPECT_LE(row.seconds, r.seconds);
    expect_ordered(row.latency_us);
    // The slowest block cannot take longer than the transfer phase, printed to the microsecond
    // (a run of a few fast blocks lasts only some microseconds, so the rounding counts).
    EXPECT_LE(row.latency_us[7], row.seconds * 1e6 * 1.01 + 1.0);
  }
}

// json= holds the same figures, every setting and the histogram, which adds up.
TEST_P(Measured, JsonDocumentHoldsTheFigures) {
  const MeasuredCase& c = GetParam();
  const Result r = run(std::string(c.words) + " json=r.json");
  ASSERT_EQ(r.status, 0) << r.err;
  const Json j = Json::parse(get("r.json"));
  EXPECT_EQ(j.at("format_version"), 2);
  EXPECT_EQ(j.at("program"), "kolvane");
  EXPECT_FALSE(j.at("program_version").get<std::string>().empty());
  std::vector<std::string> words;
  std::istringstream split(std::string(c.words) + " json=r.json");
  for (std::string w; split >> w;) words.push_back(w);
  EXPECT_EQ(j.at("command"), Json(words));
  EXPECT_TRUE(j.at("seed").is_number_unsigned());
  const auto rec = records(r.err);
  EXPECT_EQ(j.at("records").at("in").at("full"), rec[0]);
  EXPECT_EQ(j.at("records").at("in").at("partial"), rec[1]);
  EXPECT_EQ(j.at("records").at("out").at("full"), rec[2]);
  EXPECT_EQ(j.at("records").at("out").at("partial"), rec[3]);
  EXPECT_EQ(j.at("exit_status"), 0);
  EXPECT_FALSE(j.contains("error"));
  EXPECT_EQ(j.at("interrupted"), false);
  const Json& dirs = j.at("directions");
  ASSERT_EQ(dirs.size(), c.directions.size());
  for (const Direction& d : c.directions) {
    SCOPED_TRACE(d.name);
    const Json& o = dirs.at(d.name);
    EXPECT_EQ(o.at("bytes"), d.bytes);
    EXPECT_EQ(o.at("ios"), d.ios);
    const double wall_us = o.at("wall_us");
    ASSERT_GT(wall_us, 0);
    EXPECT_NEAR(o.at("mb_per_s").get<double>(), static_cast<double>(d.bytes) / wall_us,
                1e-6 * static_cast<double>(d.bytes) / wall_us);
    EXPECT_NEAR(o.at("iops").get<double>(), static_cast<double>(d.ios) * 1e6 / wall_us, 1e-3);
    const Json& l = o.at("latency_ns");
    EXPECT_EQ(l.at("count"), d.ios);
    std::uint64_t in_buckets = 0, previous_high = 0;
    for (const Json& b : l.at("buckets")) {
      EXPECT_LE(previous_high, b.at(0).get<std::uint64_t>());
      EXPECT_LT(b.at(0).get<std::uint64_t>(), b.at(1).get<std::uint64_t>());
      EXPECT_GT(b.at(2).get<std::uint64_t>(), 0u);
      previous_high = b.at(1);
      in_buckets += b.at(2).get<std::uint64_t>();
    }
    EXPECT_EQ(in_buckets, d.ios);
    EXPECT_LE(l.at("min").get<double>(), l.at("p50").get<double>());
    EXPECT_LE(l.at("p50").get<double>(), l.at("p99").get<double>());
    EXPECT_LE(l.at("p99").get<double>(), l.at("max").get<double>());
  }
}

INSTANTIATE_TEST_SUITE_P(, Measured, ::testing::ValuesIn(kMeasured),
                         [](const auto& info) { return std::string(info.param.name); });

// The latency series of a real run, of one worker and of two: contiguous intervals from the
// start whose I/Os add up to the run's in each direction, each with its latencies in order.
TEST_F(E2e, JsonSeriesAddsUpToTheRun) {
  put("in", random_bytes(1 << 20, 3));
  for (const char* words : {"if=in of=out bs=512 json=r.json interval=100",
                            "if=in of=/dev/null bs=4k count=1 iterations=3000 workers=2 "
                            "json=r.json interval=100"}) {
    SCOPED_TRACE(words);
    const Result r = run(words);
    ASSERT_EQ(r.status, 0) << r.err;
    const Json j = Json::parse(get("r.json"));
    const Json& series = j.at("series");
    EXPECT_EQ(series.at("interval_ms"), 100);
    ASSERT_FALSE(series.at("intervals").empty());
    for (const auto& [name, direction] : j.at("directions").items()) {
      SCOPED_TRACE(name);
      std::uint64_t ios = 0, bytes = 0;
      double next_ms = 0;
      for (const Json& interval : series.at("intervals")) {
        EXPECT_DOUBLE_EQ(interval.at("start_ms").get<double>(), next_ms);
        next_ms += interval.at("length_ms").get<double>();
        const Json& d = interval.at(name);
        ios += d.at("ios").get<std::uint64_t>();
        bytes += d.at("bytes").get<std::uint64_t>();
        if (d.at("ios") != 0) {
          EXPECT_LE(d.at("p50_ns").get<std::uint64_t>(), d.at("p99_ns").get<std::uint64_t>());
          EXPECT_LE(d.at("p99_ns").get<std::uint64_t>(), d.at("max_ns").get<std::uint64_t>());
          EXPECT_LE(d.at("max_ns").get<std::uint64_t>(), direction.at("latency_ns").at("max"));
        }
      }
      EXPECT_EQ(ios, direction.at("ios"));
      EXPECT_EQ(bytes, direction.at("bytes"));
    }
  }
}

// Every setting the words gave, and those not given left out.
TEST_F(E2e, JsonSettingsAreTheWords) {
  put("in", random_bytes(8192, 9));
  put("out", std::string(8192, 'o'));
  const Result r =
      run("if=in of=out ibs=1k obs=512 count=2 skip=1 seek=2 iterations=3 conv=notrunc verbose=1 "
          "report=1 json=r.json");
  ASSERT_EQ(r.status, 0) << r.err;
  const Json s = Json::parse(get("r.json")).at("settings");
  EXPECT_EQ(s.at("input"), "in");
  EXPECT_EQ(s.at("output"), "out");
  EXPECT_EQ(s.at("ibs"), 1024);
  EXPECT_EQ(s.at("obs"), 512);
  EXPECT_EQ(s.at("count"), 2);
  EXPECT_EQ(s.at("skip"), 1);
  EXPECT_EQ(s.at("seek"), 2);
  EXPECT_EQ(s.at("iterations"), 3);
  EXPECT_EQ(s.at("conv"), Json({"notrunc"}));
  EXPECT_EQ(s.at("verbose"), 1);
  EXPECT_EQ(s.at("report"), true);
  EXPECT_EQ(s.at("dio").at("read"), false);
  EXPECT_FALSE(s.contains("progress"));
  EXPECT_FALSE(s.contains("seed"));
  // Absent names are the standard streams: the keys are left out.
  const Result piped = run("of=o2 count=1 json=r2.json", Stdin{.chunks = {std::string(512, 'x')}});
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_FALSE(Json::parse(get("r2.json")).at("settings").contains("input"));
  // The load and series words, each given.
  const Result paced =
      run("if=in of=/dev/null count=1 iterations=2 rate=100 arrivals=poisson interval=50 "
          "json-buckets=1 quiet=1 json=r3.json");
  ASSERT_EQ(paced.status, 0) << paced.err;
  const Json p = Json::parse(get("r3.json")).at("settings");
  EXPECT_EQ(p.at("rate"), 100);
  EXPECT_EQ(p.at("arrivals"), "poisson");
  EXPECT_EQ(p.at("interval"), 50);
  EXPECT_EQ(p.at("json_buckets"), true);
  EXPECT_EQ(p.at("quiet"), true);
  EXPECT_FALSE(s.contains("rate") || s.contains("interval") || s.contains("quiet"));
}

// A name that is not UTF-8 is valid JSON all the same, with its raw bytes beside it.
TEST_F(E2e, JsonNameThatIsNotUtf8) {
  if (!target().linux_devices)
    GTEST_SKIP() << "Windows names come from the ANSI code page";
  put("in\xff", random_bytes(1024, 3));
  const Result r = run("if=in\xff of=/dev/null json=r.json");
  ASSERT_EQ(r.status, 0) << r.err;
  const Json s = Json::parse(get("r.json")).at("settings");
  EXPECT_EQ(s.at("input"), "in\xef\xbf\xbd");
  EXPECT_EQ(s.at("input_hex"), "696eff");
}

// A failed run still writes its document, with the status and the message it printed. With
// report=1, a run that reached its first I/O tells how far it got after the message: the
// records lines and the summary (the elapsed time on standard output); without it, nothing.
TEST_F(E2e, JsonAndReportAfterAFailure) {
  put("in", random_bytes(1024, 4));
  put("img", "", 0, 256 * 1024);
  const struct {
    const char* words;
    int status;
    const char* error;
    const char* records;  // after the message; nullptr: no records lines at all
    bool linux_only = false;
  } rows[] = {
      {"if=in of=out bs=512 skip=9 json=r.json", 3, "error reading 'in': skipping past EOF",
       nullptr},
      {"if=in of=out bs=512 skip=9 json=r.json report=1", 3,
       "error reading 'in': skipping past EOF", "0+0 records in\n0+0 records out\n"},
      {"if=in of=/dev/full bs=512 json=r.json report=1", 3,
       "error writing to '/dev/full': ", "1+0 records in\n0+0 records out\n", true},
      {"if=in of=out iterations=2 json=r.json", 7,
       "If the number of iterations is specified, then a value for the count parameter must be "
       "specified",
       nullptr},
      {"if=missing of=out json=r.json", 2, "error opening 'missing': ", nullptr},
      // The check's verdict, not the summary report=1 prints after it.
      {"if=/dev/zero of=img bs=4k count=4 pattern=random seed=1 verify=2 json=r.json report=1", 10,
       "verify cannot judge 'img'", "1+0 records in\n0+0 records out\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    if (row.linux_only && !target().linux_devices)
      continue;
    fs::remove(path("r.json"));
    const Result r = run(row.words);
    ASSERT_EQ(r.status, row.status) << r.err;
    const Json j = Json::parse(get("r.json"));
    EXPECT_EQ(j.at("exit_status"), row.status);
    const std::string error = j.at("error");
    EXPECT_EQ(error.rfind(row.error, 0), 0u) << error;
    // The whole message, the system's text included, as it was printed, first.
    EXPECT_EQ(r.err.find(error), 0u) << r.err;
    const std::size_t records = r.err.find("records in");
    if (row.records == nullptr) {
      EXPECT_EQ(records, std::string::npos) << r.err;
    } else {
      EXPECT_NE(r.err.find(text(row.records)), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("transfer ", records), std::string::npos) << r.err;
    }
  }
}

// json=- writes the document on standard error after the records lines.
TEST_F(E2e, JsonOnStandardError) {
  put("in", random_bytes(4096, 6));
  const Result r = run("if=in of=out bs=1k json=-");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::size_t start = r.err.find('{');
  ASSERT_NE(start, std::string::npos) << r.err;
  EXPECT_EQ(r.err.substr(0, start), text("4+0 records in\n4+0 records out\n"));
  const Json j = Json::parse(r.err.substr(start));
  EXPECT_EQ(j.at("directions").at("write").at("ios"), 4);
  EXPECT_EQ(get("out"), get("in"));
}

// A report file that is one of the run's files, under any of its names, or a block device would
// overwrite data: refused before anything opens.
TEST_F(E2e, ReportFileOverTheDataIsRefused) {
  const std::string input = random_bytes(1024, 7), image(65536, 'i');
  put("in", input);
  put("data", "keep");
  put("image", image);
  fs::create_hard_link(path("in"), path("hard"));
  fs::create_symlink("in", path("soft"));
  // The Linux program meets a loop device over an image of the test's own (root only); the
  // Windows program a drive name, which marks a device by itself: one no machine has, so that
  // a program that let it through could not write over a real disk.
  std::unique_ptr<LoopAttachment> loop;
  std::string device = "\\\\.\\PhysicalDrive97";
  if (target().linux_devices) {
    loop = std::make_unique<LoopAttachment>(path("image"), 512);
    device = loop->device();
  }
  const std::string over = " would overwrite the data\n";
  struct Row {
    std::string words, message;
    bool from_stdin = false;
    std::string stdout_file{};  // the data go to standard output, redirected to this file
  };
  std::vector<Row> rows = {
      {"if=in of=out json=out", "json=out is the output file: the report" + over},
      {"if=in of=data conv=notrunc json=./data",
       "json=./data is the output file: the report" + over},
      {"if=in of=out plot=out", "plot=out is the output file: the report" + over},
      {"if=in of=out plot=r json=r", "json= and plot= name the same file 'r'\n"},
      {"if=in of=out bs=4k json=in", "json=in is the input file: the report" + over},
      {"if=in of=out plot=hard", "plot=hard is the input file: the report" + over},
      {"if=in of=out json=soft", "json=soft is the input file: the report" + over},
      {"of=out bs=4k plot=in", "plot=in is the input file: the report" + over, true},
      {"if=in json=o", "json=o is the output file: the report" + over, false, "o"},
  };
  if (!device.empty())
    rows.push_back(
        {"if=in of=out json=" + device,
         "json=" + device + " is a block device: a report is never written to a device\n"});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.words);
    const Result r =
        run(row.words, Stdin{.file = row.from_stdin ? "in" : ""}, {}, {.out = row.stdout_file});
    EXPECT_EQ(r.status, 1);
    // With the data on standard output, the start line moves to standard error, before the
    // refusal; nothing follows it.
    const std::string message = text(row.message);
    const std::size_t moved = row.stdout_file.empty() || r.err.size() < message.size()
                                  ? 0
                                  : r.err.size() - message.size();
    EXPECT_EQ(r.err.substr(moved), message);
    expect_lines(row.stdout_file.empty() ? r.out : r.err.substr(0, moved), "", false, r.seconds);
    EXPECT_FALSE(fs::exists(path("out")));
    EXPECT_EQ(get("data"), "keep");
    EXPECT_EQ(get("in"), input);
  }
  loop.reset();
  EXPECT_EQ(get("image"), image);
  if (device.empty())
    GTEST_SKIP() << "no block device (a loop device needs root and losetup): its row was not run";
}

// A report that cannot be written fails a run that had succeeded, with the system's text.
TEST_F(E2e, UnwritableReportFile) {
  put("in", random_bytes(1024, 8));
  for (const char* word : {"json", "plot"}) {
    SCOPED_TRACE(word);
    const Result r = run(std::string("if=in of=out ") + word + "=nodir/r");
    EXPECT_EQ(r.status, 3);
    const std::string records = text("2+0 records in\n2+0 records out\n");
    ASSERT_EQ(r.err.substr(0, records.size()), records) << r.err;
    expect_error(r.err.substr(records.size()), "error writing to 'nodir/r': ");
    EXPECT_EQ(get("out"), get("in"));
  }
}

// The names in a folder, "." and ".." aside.
std::set<std::string> names_in(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

// A report replaces the file it names whole, or leaves it as it was: a full file system keeps
// the old picture and gets no part of the JSON document; nothing is left beside them. On Linux a
// symbolic link keeps pointing where it did, an existing report keeps its mode and a new one
// gets 0666 less the umask.
TEST_F(E2e, AReportIsWrittenWholeOrNotAtAll) {
  put("in", random_bytes(4096, 9));
  put("j.json", "old json");
  put("p.svg", "old picture");
  const Result replaced = run("if=in of=out json=j.json plot=p.svg");
  ASSERT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_EQ(nlohmann::json::parse(get("j.json"))["exit_status"], 0);
  EXPECT_NE(get("p.svg").find("</svg>"), std::string::npos);
  EXPECT_EQ(names_in(path(".")), (std::set<std::string>{"in", "out", "j.json", "p.svg"}));
  if (!target().linux_devices)
    return;
  std::filesystem::create_directory(path("m"));
  if (std::system(("mount -t tmpfs -o size=8k tmpfs " + path("m") + " 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "a small file system needs root and mount: its row was not run";
  // The old picture fills the file system's two pages.
  const std::string old_picture(5000, 'o');
  put("m/p.svg", old_picture);
  const Result full = run("if=in of=out plot=m/p.svg json=m/j.json");
  const std::set<std::string> left = names_in(path("m"));
  const std::string picture = get("m/p.svg");
  static_cast<void>(std::system(("umount " + path("m")).c_str()));
  EXPECT_EQ(full.status, 3);
  EXPECT_NE(full.err.find("error writing to 'm/p.svg': No space left on device\n"
                          "error writing to 'm/j.json': No space left on device\n"),
            std::string::npos)
      << full.err;
  EXPECT_EQ(picture, old_picture);
  EXPECT_EQ(left, std::set<std::string>{"p.svg"});
  put("real.json", "old");
  std::filesystem::permissions(path("real.json"), std::filesystem::perms(0640));
  std::filesystem::create_symlink("real.json", path("link.json"));
  const mode_t umask_before = umask(002);
  const Result linked = run("if=in of=out json=link.json plot=new.svg");
  umask(umask_before);
  EXPECT_EQ(linked.status, 0) << linked.err;
  EXPECT_EQ(std::filesystem::read_symlink(path("link.json")), "real.json");
  EXPECT_EQ(nlohmann::json::parse(get("real.json"))["exit_status"], 0);
  EXPECT_EQ(std::filesystem::status(path("real.json")).permissions(), std::filesystem::perms(0640));
  EXPECT_EQ(std::filesystem::status(path("new.svg")).permissions(), std::filesystem::perms(0664));
}

// progress=1 on a pipe: whole lines, one per report, never inside the data.
TEST_F(E2e, ProgressLinesOnAPipe) {
  if (!target().linux_devices)
    GTEST_SKIP() << "a slow pipe into the program under wine gives no steady timing";
  const std::vector<std::string> chunks(8, std::string(4096, 'p'));
  const struct {
    const char* words;
    std::uint64_t total;  // the bytes the percentage is a share of; 0: no percentage, no time left
    const char* records;
  } rows[] = {
      {"of=out bs=4k progress=1", 0, "8+0 records in\n"},
      {"of=out bs=4k count=8 progress=1", 8 * 4096, "8+0 records in\n"},
      // count= counts input blocks, whatever the output's.
      {"of=out ibs=1k obs=4k count=32 progress=1", 8 * 4096, "32+0 records in\n8+0 records out\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    const Result r = run(row.words, Stdin{.chunks = chunks, .pause_ms = 200});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("bytes ("), std::string::npos);
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    const std::regex line(
        "(\\d+) bytes \\([0-9.]+ [KMG]?i?B\\), 0:00:0\\d, [0-9.-]+ MB/s now, [0-9.-]+ MB/s "
        "average(, ([0-9.]+)%, 0:00:0\\d left)?");
    std::uint64_t previous = 0;
    int seen = 0;
    for (const std::string& l : lines_of(r.err)) {
      if (l.find("records") != std::string::npos)
        break;
      std::smatch m;
      ASSERT_TRUE(std::regex_match(l, m, line)) << l;
      EXPECT_EQ(m[2].matched, row.total != 0) << l;
      const std::uint64_t bytes = std::stoull(m[1]);
      if (row.total != 0 && m[3].matched) {
        EXPECT_NEAR(std::stod(m[3]),
                    100.0 * static_cast<double>(bytes) / static_cast<double>(row.total), 0.05)
            << l;
      }
      EXPECT_GT(bytes, previous);
      EXPECT_LE(bytes, 8u * 4096);
      previous = bytes;
      ++seen;
    }
    // About 1.4 s of reads: one line a second.
    EXPECT_GE(seen, 1);
    EXPECT_LE(seen, static_cast<int>(r.seconds) + 1);
    EXPECT_NE(r.err.find(text(row.records)), std::string::npos) << r.err;
  }
}

// A run that runtime= ends knows how far it is by its time: iterations drawn until then have no
// number to be a share of, and iterations= with runtime= end at whichever comes first.
TEST_F(E2e, ProgressOfATimeLimitedRunIsItsTime) {
  put("out", "", 0, 1 << 20);
  for (const char* words : {"of=/dev/null count=1 runtime=2",
                            "of=out conv=notrunc count=1 iterations=5000000 runtime=2"}) {
    SCOPED_TRACE(words);
    const Result r = run(std::string("if=/dev/zero bs=4k progress=1 ") + words);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::regex share(", ([0-9.]+)%, 0:00:0(\\d) left");
    std::smatch m;
    const std::string first = lines_of(r.err).at(0);
    ASSERT_TRUE(std::regex_search(first, m, share)) << first;
    // About a second of two: half, with a second left.
    EXPECT_GT(std::stod(m[1]), 25.0) << first;
    EXPECT_LT(std::stod(m[1]), 90.0) << first;
    EXPECT_EQ(m[2], "1") << first;
  }
}

#if KOLVANE_RENDER_CHECKS
// How many colours a PNG shows; 0 when it cannot be read.
std::size_t png_colours(const std::string& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, file.c_str()))
    return 0;
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
    return 0;
  std::vector<bool> seen(1 << 24);
  std::size_t colours = 0;
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
    const std::size_t key =
        (std::size_t{rgb[i]} << 16) | (std::size_t{rgb[i + 1]} << 8) | rgb[i + 2];
    if (!seen[key]) {
      seen[key] = true;
      ++colours;
    }
  }
  return colours;
}
#endif

bool have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// plot= writes a document that parses and renders, however the run went.
TEST_F(E2e, PlotParsesAndRenders) {
  if (!have("xmllint") || !have("rsvg-convert"))
    GTEST_SKIP() << "xmllint (libxml2-utils) or rsvg-convert (librsvg2-bin) not installed";
  put("in", random_bytes(65536, 10));
  const struct {
    const char* name;
    const char* words;
    int status;
    bool reads, writes;
    Stdin in;
  } rows[] = {
      {"reads", "if=in of=/dev/null bs=4k count=1 iterations=50", 0, true, false, {}},
      {"writes", "if=/dev/zero of=out bs=4k count=50", 0, false, true, {}},
      {"both", "if=in of=out bs=4k count=16", 0, true, true, {}},
      {"failure", "if=in of=out bs=4k skip=99", 3, true, true, {}},
      {"second", "of=out bs=4k", 0, true, true,
       Stdin{.chunks = std::vector<std::string>(6, std::string(4096, 's')), .pause_ms = 220}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.name == std::string("second") && !target().linux_devices)
      continue;
    const std::string svg = std::string(row.name) + ".svg";
    const Result r = run(std::string(row.words) + " plot=" + svg, row.in);
    ASSERT_EQ(r.status, row.status) << r.err;
    const std::string doc = get(svg);
    EXPECT_EQ(std::system(("xmllint --noout " + path(svg)).c_str()), 0);
    EXPECT_EQ(std::system(("rsvg-convert -o " + path(svg) + ".png " + path(svg)).c_str()), 0);
#if KOLVANE_RENDER_CHECKS
    EXPECT_GT(png_colours(path(svg) + ".png"), 2u);
#endif
    // Each direction the run had gets its panel; the failure says why it ended.
    EXPECT_EQ(doc.find("read latency") != std::string::npos, row.reads) << row.name;
    EXPECT_EQ(doc.find("write latency") != std::string::npos, row.writes) << row.name;
    if (row.status != 0) {
      EXPECT_NE(doc.find("skipping past EOF"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace e2e

// Runs on real files: the bytes that land in the output, the records lines, and every way a
// run can end that the system lets us provoke.
#include <algorithm>
#include <filesystem>
#include <set>

#include "harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

enum Flags {
  kSys = 1,         // the system's text follows `err`
  kEarly = 2,       // the run ends before the output open: no "Please be patient..."
  kDirect = 4,      // needs direct I/O
  kLinux = 8,       // only the Linux program meets this case
  kStdinFile = 16,  // standard input is the file "in"
  kDir = 32,        // "in" is a directory
  kSameFile = 64,   // the input is "out" itself: the bytes copied are its old ones
};

// "in" holds `in` random bytes and "out" `old` other ones (-1: no such file). After the run
// "out" holds its old bytes (only with conv=notrunc) overlaid at `at` by `len` bytes of the
// input from `from` (zeros for the zero source); `len` -1: "out" is as it was before the run.
struct Case {
  const char* name;
  const char* words;
  long in, old;
  int status;
  std::string err;  // exact, or with kSys the prefix of the system's text
  int flags = 0;
  long len = -1, from = 0, at = 0;
};

const std::string kIterations =
    "If the number of iterations is specified, then a value for the count parameter must be "
    "specified\n";
const std::string kZero =
    "If the input file is zero (/dev/zero), then a value for the count parameter must be "
    "specified\n";

const Case kCases[] = {
    {"TailWithoutCount", "if=in of=out bs=512", 1636, -1, 0, rec("3+1", "3+1"), 0, 1636},
    {"ReadSplit", "if=in of=out ibs=1024 obs=512 count=1", 8192, -1, 0, rec("1+0", "2+0"), 0, 1024},
    {"ReadsSplit", "if=in of=out ibs=1024 obs=512 count=2", 8192, -1, 0, rec("2+0", "4+0"), 0,
     2048},
    {"ReadTail", "if=in of=out ibs=1000 obs=512 count=1", 8192, -1, 0, rec("1+0", "1+1"), 0, 1000},
    {"WriteTail", "if=in of=out ibs=512 obs=768 count=2", 8192, -1, 0, rec("2+0", "1+1"), 0, 1024},
    {"ReadsJoined", "if=in of=out ibs=512 obs=1024 count=3", 8192, -1, 0, rec("3+0", "1+1"), 0,
     1536},
    {"ByteSkip", "if=in of=out bs=1 count=5 skip=3", 64, -1, 0, rec("5+0", "5+0"), 0, 5, 3},
    {"ByteSeek", "if=in of=out ibs=4 obs=1 count=2 seek=5 conv=notrunc", 64, 64, 0,
     rec("2+0", "8+0"), 0, 8, 0, 5},
    {"SkipSeekInPlace", "if=in of=out bs=512 count=2 skip=1 seek=2 conv=notrunc", 4096, 4096, 0,
     rec("2+0", "2+0"), 0, 1024, 512, 1024},
    // skip= and seek= apply without count= and to a new or truncated output (a hole before it).
    {"SkipWithoutCount", "if=in of=out bs=512 skip=2", 2048, -1, 0, rec("2+0", "2+0"), 0, 1024,
     1024},
    {"SkipIntoTail", "if=in of=out bs=512 skip=3", 1636, -1, 0, rec("0+1", "0+1"), 0, 100, 1536},
    {"SkipToEnd", "if=in of=out bs=512 skip=4", 2048, -1, 3,
     "error reading 'in': skipping past EOF\n", 0, 0},
    {"SkipPastEnd", "if=in of=out bs=512 skip=9", 2048, -1, 3,
     "error reading 'in': skipping past EOF\n", 0, 0},
    // Offsets beyond 2^63 - 1 bytes: no file has them.
    {"SkipBeyondOffsets", "if=in of=out bs=1g skip=8x1g", 2048, -1, 5, kInputTooSmall, kEarly},
    {"SeekBeyondOffsets", "if=in of=out bs=1g seek=8x1g", 2048, 100, 5, kOutputTooSmall, kEarly},
    {"SeekWithoutNotrunc", "if=in of=out bs=512 count=2 seek=3", 4096, 4096, 0, rec("2+0", "2+0"),
     0, 1024, 0, 1536},
    {"SeekNewOutput", "if=in of=out bs=512 seek=2", 1000, -1, 0, rec("1+1", "1+1"), 0, 1000, 0,
     1024},
    {"SeekNotruncWithoutCount", "if=in of=out bs=512 seek=1 conv=notrunc", 1000, 2000, 0,
     rec("1+1", "1+1"), 0, 1000, 0, 512},
    // With iterations= the first entry starts at the seek of a new output; the rest follow on.
    {"SeekNewOutputIterations", "if=/dev/zero of=out bs=512 count=1 iterations=3 seek=2", -1, -1, 0,
     rec("3+0", "3+0"), 0, 1536, 0, 1024},
    {"StdinFile", "of=out bs=512 count=2 skip=3", 4096, -1, 0, rec("2+0", "2+0"), kStdinFile, 1024,
     1536},
    {"CountZero", "if=in of=out count=0", 4096, -1, 0, rec("0+0", "0+0"), 0, 0},
    {"IterationsZero", "if=in of=out count=1 iterations=0", 4096, -1, 0, rec("0+0", "0+0"), 0, 0},
    {"BsAfterIbs", "if=in of=out ibs=1k bs=4k", 8192, -1, 0, rec("2+0", "2+0"), 0, 8192},
    {"IbsAfterBs", "if=in of=out bs=4k ibs=1k", 8192, -1, 0, rec("8+0", "2+0"), 0, 8192},
    {"LastCount", "if=in of=out bs=1x2b count=5 count=2", 8192, -1, 0, rec("2+0", "2+0"), 0, 2048},
    {"ZeroSource", "if=/dev/zero of=out ibs=4k obs=512 count=2 skip=3", -1, -1, 0,
     rec("2+0", "2+0"), 0, 8192},
    {"NullSink", "if=in of=/dev/null bs=512 count=2", 4096, -1, 0, rec("2+0", "2+0")},
    {"NullSinkWord", "if=in of=nul bs=512 count=2", 4096, -1, 0, rec("2+0", "2+0")},
    {"ForThisRun", "if=/dev/zero of=/dev/null count=3 verbose=1", -1, -1, 0,
     "For this run, the input file is zero and the output file is nul\n" + rec("3+0", "3+0")},
    {"DirectTail", "if=in of=out bs=512 dio=2", 1636, -1, 0, rec("3+1", "3+1"), kDirect, 1636},
    {"LastDio", "if=in of=out ibs=100 obs=4k dio=1 dio=2", 8192, -1, 0, rec("81+1", "2+0"), kDirect,
     8192},
    {"LastDioRead", "if=in of=out ibs=100 obs=4k dio=2 dio=1", 8192, -1, 3,
     "error reading 'in': ", kSys | kDirect | kLinux, 0},
    {"IterationsNeedCount", "if=in of=out iterations=3", 4096, -1, 7, kIterations, kEarly},
    {"IterationsFirst", "if=/dev/zero of=out iterations=3", -1, -1, 7, kIterations, kEarly},
    {"ZeroNeedsCount", "if=/dev/zero of=out verbose=1", -1, -1, 8, kZero, kEarly},
    {"ZeroWordNeedsCount", "if=zero of=out", -1, -1, 8, kZero, kEarly},
    {"MissingInput", "if=missing of=out", -1, -1, 2, "error opening 'missing': ", kSys | kEarly},
    {"NotruncMissingOutput", "if=in of=out conv=notrunc", 1024, -1, 2,
     "error opening 'out': ", kSys},
    // Without iterations= an input needs (skip + count) x ibs bytes and an existing output is
    // not measured: writing past its end extends it.
    {"InputTooSmall", "if=in of=out bs=512 count=3 skip=1", 2047, 100, 5, kInputTooSmall, kEarly},
    {"InputLargeEnough", "if=in of=out bs=512 count=3 skip=1", 2048, 100, 0, rec("3+0", "3+0"), 0,
     1536, 512},
    {"OutputExtended", "if=in of=out bs=512 count=2 seek=1 conv=notrunc", 4096, 100, 0,
     rec("2+0", "2+0"), 0, 1024, 0, 512},
    {"OutputLargeEnough", "if=in of=out bs=512 count=2 seek=1 conv=notrunc", 4096, 1538, 0,
     rec("2+0", "2+0"), 0, 1024, 0, 512},
    // With iterations= as before, but an entry spans count blocks of the larger block size.
    {"InputTooSmallIterations", "if=in of=out bs=512 count=3 skip=1 iterations=1", 2049, 100, 5,
     kInputTooSmall, kEarly},
    {"OutputTooSmallIterations", "if=in of=out bs=512 count=2 seek=1 conv=notrunc iterations=1",
     4096, 1537, 5, kOutputTooSmall},
    {"OutputSpanOfLargerInputBlocks",
     "if=/dev/zero of=out ibs=1024 obs=512 count=2 iterations=1 conv=notrunc", -1, 2049, 5,
     kOutputTooSmall},
    {"OutputSpanFits", "if=/dev/zero of=out ibs=1024 obs=512 count=2 iterations=2 conv=notrunc", -1,
     2050, 0, rec("4+0", "4+0"), 0, 2048},
    {"EmptyInput", "if=in of=out", 0, -1, 3, "error reading 'in': skipping past EOF\n", 0, 0},
    {"DirectoryInput", "if=in of=out", -1, -1, 3, "error reading 'in': ", kSys | kLinux | kDir, 0},
    {"FullDevice", "if=in of=/dev/full", 1024, -1, 3,
     "error writing to '/dev/full': ", kSys | kLinux},
    {"NoBuffers", "if=in of=out bs=1000000g", 1024, -1, 6, "Error allocating aligned memory\n",
     kLinux, 0},
    {"BlockLargerThanInput", "if=in of=out bs=8k", 1000, -1, 0, rec("0+1", "0+1"), 0, 1000},
    {"DirectWriteRefused", "if=in of=out ibs=4k obs=100 dio=2", 8192, -1, 3,
     "error writing to 'out': ", kSys | kDirect | kLinux, 0},
    // A character device (not named as the zero source) is read, its skip read and dropped.
    {"CharacterDevice", "if=/dev/./zero of=out count=2 skip=3", -1, -1, 0, rec("2+0", "2+0"),
     kLinux, 1024},
    {"CharacterDeviceIterations", "if=/dev/./zero of=out count=2 iterations=1", -1, -1, 5,
     kInputTooSmall, kEarly | kLinux},
    // Direct writes straight from the input buffer only where it is aligned for them.
    {"DirectWriteFromOddBlocks", "if=in of=out ibs=9000 obs=4096 count=2 dio=2", 20000, -1, 0,
     rec("2+0", "4+1"), kDirect, 18000},
    // Without conv=notrunc the output open empties the input; with it the copy works in place.
    {"SameFile", "if=out of=out", -1, 4096, 3, "error reading 'out': skipping past EOF\n", 0, 0},
    // A file that is also the output is copied up to the size it had: it ends.
    {"SameFileAppended", "if=out of=out conv=notrunc bs=512 seek=2", -1, 1024, 0, rec("2+0", "2+0"),
     kSameFile, 1024, 0, 1024},
    {"SameFileInPlace", "if=out of=out conv=notrunc bs=512 count=2 skip=4 seek=1", -1, 4096, 0,
     rec("2+0", "2+0"), kSameFile, 1024, 2048, 512},
};

class Copy : public E2e, public ::testing::WithParamInterface<Case> {};

TEST_P(Copy, Run) {
  const Case& c = GetParam();
  if ((c.flags & kLinux) && !target().linux_devices)
    GTEST_SKIP() << "a Linux-only case";
  if ((c.flags & kDirect) && direct_io_refused())
    GTEST_SKIP() << "no direct I/O here";
  const std::string in = random_bytes(static_cast<std::size_t>(std::max(c.in, 0L)), 1);
  const std::string old = random_bytes(static_cast<std::size_t>(std::max(c.old, 0L)), 2);
  if (c.in >= 0)
    put("in", in);
  if (c.flags & kDir)
    fs::create_directory(path("in"));
  if (c.old >= 0)
    put("out", old);
  const Result r = run(c.words, Stdin{.file = (c.flags & kStdinFile) ? "in" : ""});

  EXPECT_EQ(r.status, c.status);
  if (c.flags & kSys) {
    expect_error(r.err, c.err);
  } else {
    EXPECT_EQ(r.err, text(c.err));
  }
  expect_stdout(r, (c.flags & kEarly) ? "" : text("Please be patient...\n"), c.status == 0);
  if (c.len < 0) {
    EXPECT_EQ(fs::exists(path("out")), c.old >= 0);
    EXPECT_EQ(get("out"), old);
  } else {
    const bool notrunc = std::string(c.words).find("conv=notrunc") != std::string::npos;
    const auto len = static_cast<std::size_t>(c.len), at = static_cast<std::size_t>(c.at);
    std::string expected = notrunc ? old : "";
    expected.resize(std::max(expected.size(), at + len));
    const std::string source = (c.flags & kSameFile) ? old
                               : c.in >= 0           ? in
                                                     : std::string(len, '\0');
    expected.replace(at, len, source.substr(static_cast<std::size_t>(c.from), len));
    EXPECT_EQ(get("out"), expected);
  }
  // Nothing but the named files is ever created (no file called "nul", for one).
  for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
    EXPECT_TRUE(entry.path().filename() == "in" || entry.path().filename() == "out")
        << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Copy, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A pipe whose first read is short is still copied to its end; the data on standard output come
// untranslated and alone, the program's own text going to standard error.
TEST_F(E2e, PipeToStandardOutput) {
  const std::string first = random_bytes(100, 3), rest = random_bytes(1000, 4);
  const Result r = run("bs=512 verbose=1", Stdin{.chunks = {first, rest}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, first + rest);
  expect_lines(r.err,
               text(std::string("For this run, the input file is ") + target().absent_input +
                    " and the output file is " + target().absent_output +
                    "\nPlease be patient...\n" + rec("1+2", "2+1")),
               true, r.seconds);
}

// Streams cannot be positioned: standard input's skipped bytes are read and dropped (with a
// count it needs no size), and a seek on standard output is refused.
TEST_F(E2e, StreamsAreSkippedByReadingAndRefuseASeek) {
  const std::string first = random_bytes(150, 8), rest = random_bytes(850, 9);
  const std::string all = first + rest;
  const std::string eof = "error reading 'standard input': skipping past EOF\n";
  const std::string refused = target().seek_error + std::string(" 'standard output': ");
  const struct {
    const char* words;
    int status;
    std::string err, data;
  } rows[] = {
      {"bs=100 skip=3", 0, rec("7+0", "7+0"), all.substr(300)},
      {"bs=100 count=2 skip=3", 0, rec("2+0", "2+0"), all.substr(300, 200)},
      {"ibs=100 obs=400 count=3 skip=9", 0, rec("1+0", "0+1"), all.substr(900)},
      {"bs=100 skip=10", 3, eof, ""},
      {"bs=100 skip=11", 3, eof, ""},
      {"bs=100 seek=1", 2, refused, ""},
      {"bs=100 count=1 seek=1", 2, refused, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    const Result r = run(row.words, Stdin{.chunks = {first, rest}});
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.out, row.data);
    // Standard output carries the data, so every text line goes to standard error, in order.
    const std::string patient = text("Please be patient...\n");
    const std::size_t at = r.err.find(patient);
    ASSERT_NE(at, std::string::npos) << r.err;
    const std::size_t tail = at + patient.size();
    const std::string message =
        r.err.substr(tail, row.status == 0 ? text(row.err).size() : std::string::npos);
    if (row.status == 2) {
      expect_error(message, row.err);
    } else {
      EXPECT_EQ(message, text(row.err));
    }
    expect_lines(r.err.substr(0, tail) + r.err.substr(tail + message.size()), patient,
                 row.status == 0, r.seconds);
  }
}

// An offset that now applies without count= or conv=notrunc is reported as any other; a new
// output's seek applies to the first iteration only, and only that one reports it.
TEST_F(E2e, OffsetsThatApplyAreReported) {
  put("in", random_bytes(4096, 12));
  const std::string head = text("For this run, the input file is in and the output file is out\n");
  const auto running = [](const std::string& what) {
    return text("\nRunning" + what + " (in bytes) as follows:\n");
  };
  const struct {
    const char* words;
    std::string err;
  } rows[] = {
      {"if=in of=out bs=512 skip=2 verbose=1",
       head + running(" with skip") + offset_line("skip", 1024) + text(rec("6+0", "6+0"))},
      {"if=in of=out bs=512 seek=3 verbose=1",
       head + running(" with seek") + offset_line("seek", 1536) + text(rec("8+0", "8+0"))},
      {"if=/dev/zero of=out bs=512 count=1 seek=3 iterations=2 verbose=1",
       text("For this run, the input file is zero and the output file is out\n") +
           running(" iteration 1 with seek") + offset_line("seek", 1536) + text(rec("2+0", "2+0"))},
      // Without a skip= or seek= word nothing more is reported than before.
      {"if=in of=out bs=512 verbose=1", head + text(rec("8+0", "8+0"))},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    const Result r = run(row.words);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, row.err);
  }
}

// Each run seeds its own draws: the same words twice draw different offsets.
TEST_F(E2e, TwoRunsDrawDifferentOffsets) {
  put("in", random_bytes(1 << 20, 10));
  std::vector<std::uint64_t> skips[2];
  for (auto& drawn : skips) {
    const Result r = run("if=in of=/dev/null bs=512 count=1 iterations=8 verbose=1");
    ASSERT_EQ(r.status, 0) << r.err;
    drawn = parse_offsets(r.err, "skip");
    ASSERT_EQ(drawn.size(), 8u);
  }
  EXPECT_NE(skips[0], skips[1]);
}

// One run with verbose=1 and conv=notrunc onto an existing output, each file holding random
// bytes from the fixed offset up (a hole below) and `range` bytes more than the copy needs.
struct Plan {
  const char* name;
  std::uint64_t ibs, obs, count, skip, seek, in_range, out_range;
  unsigned iterations;  // 0: no iterations= word, one entry at the fixed offsets
};

constexpr std::uint64_t k4G = 8388609;    // blocks of 512 bytes that reach past 4 GiB
constexpr std::uint64_t k16G = 33554432;  // blocks of 512 bytes in 16 GiB

const Plan kPlans[] = {
    {"FixedOffsets", 512, 1024, 2, 3, 1, 4096, 4096, 0},
    {"RandomOffsets", 512, 1024, 4, 3, 2, 61950, 26622, 5},
    {"RangeZero", 512, 512, 2, 1, 1, 0, 0, 3},
    {"Beyond4GiB", 512, 512, 4, k4G, k4G + 2, 65536, 32768, 8},
    // Both files exactly 16 GiB, the random ranges in their last bytes.
    {"Sparse16GiB", 512, 512, 4, k16G - 130, k16G - 66, 64510, 31742, 8},
};

class Iterations : public E2e, public ::testing::WithParamInterface<Plan> {};

TEST_P(Iterations, BytesLandWhereTheReportSays) {
  const Plan& p = GetParam();
  const std::uint64_t in_at = p.skip * p.ibs, out_at = p.seek * p.obs, bytes = p.count * p.ibs;
  const std::uint64_t in_size = in_at + bytes + 2 + p.in_range;
  const std::uint64_t out_size = out_at + p.count * p.obs + 2 + p.out_range;
  const std::string in = random_bytes(in_size - in_at, 6);
  std::string expected = random_bytes(out_size - out_at, 7);
  put("in", in, in_at, in_size);
  put("out", expected, out_at, out_size);
  const auto arg = [](const char* key, std::uint64_t value) {
    return " " + std::string(key) + "=" + std::to_string(value);
  };
  const Result r = run("if=in of=out conv=notrunc verbose=1" + arg("ibs", p.ibs) +
                       arg("obs", p.obs) + arg("count", p.count) + arg("skip", p.skip) +
                       arg("seek", p.seek) + (p.iterations ? arg("iterations", p.iterations) : ""));
  ASSERT_EQ(r.status, 0) << r.err;

  const std::vector<std::uint64_t> skips = parse_offsets(r.err, "skip");
  const std::vector<std::uint64_t> seeks = parse_offsets(r.err, "seek");
  const std::size_t n = std::max(p.iterations, 1u);
  ASSERT_EQ(skips.size(), n);
  ASSERT_EQ(seeks.size(), n);
  std::string err = text("For this run, the input file is in and the output file is out\n");
  for (std::size_t i = 0; i < n; ++i) {
    const std::string number = p.iterations ? " iteration " + std::to_string(i + 1) : "";
    err += text("\nRunning" + number + " with skip and seek (in bytes) as follows:\n");
    err += offset_line("skip", skips[i]) + offset_line("seek", seeks[i]);
    // Block-aligned, and the blocks copied lie inside both files.
    EXPECT_EQ(skips[i] % p.ibs, 0u);
    EXPECT_EQ(seeks[i] % p.obs, 0u);
    EXPECT_GE(skips[i], in_at);
    EXPECT_GE(seeks[i], out_at);
    EXPECT_LE(skips[i], in_size - bytes - 1);
    EXPECT_LE(seeks[i], out_size - p.count * p.obs - 1);
    if (skips[i] < in_at || seeks[i] < out_at)
      continue;  // already reported above
    expected.replace(seeks[i] - out_at, bytes, in.substr(skips[i] - in_at, bytes));
  }
  const std::string records = std::to_string(n * p.count) + "+0";
  EXPECT_EQ(r.err,
            err + text(rec(records.c_str(), (std::to_string(n * bytes / p.obs) + "+0").c_str())));
  EXPECT_EQ(fs::file_size(path("out")), out_size);
  EXPECT_EQ(get("out", out_at), expected);
  if (p.iterations == 0 || p.in_range == 0) {
    EXPECT_EQ(std::set(skips.begin(), skips.end()), std::set{in_at});
    EXPECT_EQ(std::set(seeks.begin(), seeks.end()), std::set{out_at});
  } else if (p.iterations > 1) {
    EXPECT_GT(std::set(skips.begin(), skips.end()).size(), 1u) << "the offsets never moved";
  }
}

INSTANTIATE_TEST_SUITE_P(Plans, Iterations, ::testing::ValuesIn(kPlans),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e

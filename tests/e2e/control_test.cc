// Repeating and stopping a run: seed= and distribution=uniform draw the same offsets again
// (and, uniform, in both builds), runtime= ends a run in time having done I/O, and SIGINT,
// SIGTERM and SIGUSR1 reach a copy from a slow pipe.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

class Control : public E2e {};

// Same words, same file, same build: the same offsets; another seed: others.
TEST_F(Control, ASeedDrawsTheSameOffsetsAgain) {
  put("in", "", 0, 1 << 22);
  for (const char* distribution : {"", " distribution=uniform"}) {
    SCOPED_TRACE(distribution);
    const std::string words =
        std::string("if=in of=/dev/null bs=4k count=1 iterations=20 verbose=1") + distribution;
    std::vector<std::uint64_t> offsets[3];
    const char* seeds[] = {" seed=42", " seed=42", " seed=4294967295"};
    for (int i = 0; i < 3; ++i) {
      const Result r = run(words + seeds[i]);
      ASSERT_EQ(r.status, 0) << r.err;
      offsets[i] = parse_offsets(r.err, "skip");
      ASSERT_EQ(offsets[i].size(), 20u);
    }
    EXPECT_EQ(offsets[0], offsets[1]);
    EXPECT_NE(offsets[0], offsets[2]);
  }
}

// distribution=uniform with a seed draws the same skips and seeks in the Linux and the Windows
// program, so both leave the output with the same bytes.
TEST_F(Control, UniformOffsetsAreTheSameInBothBuilds) {
  if (options.peer_binary.empty())
    GTEST_SKIP() << "the other build's program is not given";
  const std::string in = random_bytes(1 << 20, 31), old = random_bytes(1 << 20, 32);
  put("in", in);
  // The skewed laws as well, each draw's logarithms and exponentials computed alike; span= keeps
  // the draws in the first 256 KiB after the skip and seek.
  const struct {
    const char* words;
    std::size_t iterations;
  } rows[] = {
      {"distribution=uniform seed=7 iterations=25", 25},
      {"distribution=zipf:1.2 seed=8 iterations=300", 300},
      {"distribution=zipf:0.7 seed=9 iterations=300 span=256k skip=8 seek=4", 300},
      {"distribution=pareto:0.2 seed=10 iterations=300", 300},
      {"distribution=normal:10 seed=11 iterations=300", 300},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    const std::string words =
        "if=in of=out bs=4k count=2 conv=notrunc verbose=1 " + std::string(row.words);
    put("out", old);
    const Result mine = run(words);
    const std::string mine_out = get("out");
    put("out", old);
    const Result theirs = run_peer(words);
    ASSERT_EQ(mine.status, 0) << mine.err;
    ASSERT_EQ(theirs.status, 0) << theirs.err;
    for (const char* label : {"skip", "seek"}) {
      const std::vector<std::uint64_t> a = parse_offsets(mine.err, label);
      EXPECT_EQ(a.size(), row.iterations) << label;
      EXPECT_EQ(a, parse_offsets(theirs.err, label, *options.peer_traits)) << label;
    }
    EXPECT_EQ(get("out"), mine_out);
    EXPECT_NE(mine_out, old);
  }
}

// span= keeps every entry of each drawn side inside the first BYTES after its skip or seek, for
// every law; a span no iteration can use, or that does not fit, is refused with status 1.
TEST_F(Control, SpanKeepsTheDrawsInItsBytes) {
  put("in", random_bytes(1 << 20, 33));
  put("out", random_bytes(1 << 20, 34));
  for (const char* law : {"", " distribution=uniform", " distribution=zipf:1.1",
                          " distribution=pareto:0.3", " distribution=normal:50"}) {
    SCOPED_TRACE(law);
    const Result r =
        run("if=in of=out bs=4k count=2 iterations=200 conv=notrunc verbose=1 "
            "skip=8 seek=4 span=64k seed=3" +
            std::string(law));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& [label, start] : {std::pair{"skip", 8 * 4096}, std::pair{"seek", 4 * 4096}}) {
      const std::vector<std::uint64_t> at = parse_offsets(r.err, label);
      ASSERT_EQ(at.size(), 200u);
      EXPECT_GE(*std::min_element(at.begin(), at.end()), std::uint64_t(start)) << label;
      // An entry of two blocks ends within the span.
      EXPECT_LE(*std::max_element(at.begin(), at.end()), std::uint64_t(start + 65536 - 8192))
          << label;
    }
  }
  const struct {
    const char* words;
    const char* err;
  } refused[] = {
      {"if=in of=out bs=4k count=1 span=64k",
       "span=65536 needs iterations= or runtime=: a single copy draws no offsets\n"},
      {"if=in of=out bs=4k count=1 iterations=2 conv=notrunc span=1000",
       "span=1000 is not a whole number of input blocks (ibs=4096)\n"},
      {"if=in of=out ibs=4k obs=8k count=1 iterations=2 conv=notrunc span=12k",
       "span=12288 is not a whole number of output blocks (obs=8192)\n"},
      {"if=in of=out bs=4k count=1 iterations=2 conv=notrunc skip=200 span=1m",
       "span=1048576 does not fit in 'in' after its skip=\n"},
  };
  for (const auto& row : refused) {
    SCOPED_TRACE(row.words);
    const Result r = run(row.words);
    EXPECT_EQ(r.status, 1);
    expect_err_ends_with(r, row.err);
  }
}

std::uint64_t records_in(const std::string& err) {
  std::smatch m;
  return std::regex_search(err, m, std::regex("(\\d+)\\+0 records in")) ? std::stoull(m[1]) : 0;
}

// runtime= with a count and no iterations repeats the copy until the time is up; without a
// count it bounds one copy; with iterations whichever ends first.
TEST_F(Control, RuntimeEndsTheRunInTime) {
  const std::string in = random_bytes(8192, 33);
  put("in", in);
  const Result r = run("if=in of=/dev/null bs=512 count=1 runtime=1");
  EXPECT_EQ(r.status, 0) << r.err;
  // More entries than one, each one block; loosely in time.
  const std::uint64_t blocks = records_in(r.err);
  EXPECT_GT(blocks, 1u) << r.err;
  EXPECT_EQ(r.err, text(rec((std::to_string(blocks) + "+0").c_str(),
                            (std::to_string(blocks) + "+0").c_str())));
  EXPECT_LT(r.seconds, 10.0);
  expect_stdout(r, text("Please be patient...\n"), true);

  const struct {
    const char* words;
    int status;
    std::string err, out;
  } rows[] = {
      {"if=in of=out runtime=100", 0, rec("16+0", "16+0"), in},
      {"if=in of=out bs=1k count=1 iterations=3 runtime=100", 0, rec("3+0", "3+0"), "?"},
      {"if=/dev/zero of=out runtime=1", 8,
       "If the input file is zero (/dev/zero), then a value for the count parameter must be "
       "specified\n",
       ""},
      // Nothing to repeat: one copy of nothing.
      {"if=in of=out count=0 runtime=100", 0, rec("0+0", "0+0"), ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    std::filesystem::remove(path("out"));
    const Result t = run(row.words);
    EXPECT_EQ(t.status, row.status);
    EXPECT_EQ(t.err, text(row.err));
    // "?": three blocks from random offsets.
    EXPECT_EQ(row.out == "?" ? get("out").size() : 0, row.out == "?" ? 3072u : 0u);
    if (row.out != "?") {
      EXPECT_EQ(get("out"), row.out);
    }
    EXPECT_LT(t.seconds, 10.0);
  }
}

// A copy from a pipe that has delivered 1000 bytes and then waits: each signal arrives while
// the program waits for more.
TEST_F(Control, SignalsReachACopyFromASlowPipe) {
  if (!target().linux_devices)
    GTEST_SKIP() << "signals are sent to the Linux program only";
  const std::string data = random_bytes(1000, 34);
  const struct {
    const char* name;
    int signal;
    std::string close_after;
    int status;
    std::string err;
  } rows[] = {
      // The half output block held is written as a partial one before the end by the signal.
      {"SIGINT", SIGINT, "", 130, rec("1+1", "0+1")},
      {"SIGTERM", SIGTERM, "", 143, rec("1+1", "0+1")},
      // The counts so far, then the copy goes on to the end of its input.
      {"SIGUSR1", SIGUSR1, "records out", 0, rec("1+1", "0+0") + rec("1+1", "0+1")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Result r =
        run("of=out ibs=512 obs=1k json=j.json",
            Stdin{.chunks = {data}, .signals = {{row.signal}}, .close_after = row.close_after});
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.err, row.err);
    // The document says what the shell saw, and which signal ended the run.
    const auto doc = nlohmann::json::parse(get("j.json"));
    EXPECT_EQ(doc["exit_status"], row.status);
    EXPECT_EQ(doc["interrupted"], row.status != 0);
    EXPECT_EQ(doc.value("signal", ""), row.status != 0 ? row.name : "");
    EXPECT_EQ(get("out"), data);
    expect_stdout(r, "Please be patient...\n", true);
  }
}

// A FIFO whose reader never reads: the first block fills it, the write of the second waits.
// One request ends that write; the run then ends by the signal, having written the first block.
TEST_F(Control, AStopEndsAWriteWaitingOnAFifo) {
  if (!target().linux_devices)
    GTEST_SKIP() << "signals are sent to the Linux program only";
  const std::string data = random_bytes(65536 + 1000, 35);
  for (const int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    std::filesystem::remove(path("fifo"));
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    const int reader = open(path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const Result r = run(
        "of=fifo bs=64k json=j.json",
        Stdin{.chunks = {data.substr(0, 65536), data.substr(65536)}, .signals = {{signal_number}}});
    EXPECT_EQ(r.status, 128 + signal_number);
    EXPECT_EQ(r.err, rec("1+1", "1+0"));
    EXPECT_EQ(nlohmann::json::parse(get("j.json"))["exit_status"], 128 + signal_number);
    std::string moved(2 * 65536, '\0');
    const ssize_t got = read(reader, moved.data(), moved.size());
    close(reader);
    EXPECT_EQ(moved.substr(0, static_cast<std::size_t>(std::max<ssize_t>(got, 0))),
              data.substr(0, 65536));
  }
}

}  // namespace
}  // namespace e2e

// mix=: a run that reads and writes one target counts its reads in and its writes out, draws
// the offsets mix=0 draws, checks the stamped blocks it reads with verify=1, and is refused
// before anything is opened when it cannot run.
#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

class Mix : public E2e {
 protected:
  // An existing target of 1 MiB of zeros.
  void fresh() const { put("out", std::string(1 << 20, '\0')); }
};

TEST_F(Mix, RecordsFiguresAndOffsetsAgree) {
  const std::string words =
      "if=/dev/zero of=out conv=notrunc bs=4k count=2 iterations=300 seed=3 "
      "distribution=uniform verbose=1 report=1 json=m.json";
  fresh();
  const Result writes_only = run(words + " mix=0");
  ASSERT_EQ(writes_only.status, 0) << writes_only.err;
  std::vector<std::uint64_t> sorted_writes = parse_offsets(writes_only.err, "seek");
  std::sort(sorted_writes.begin(), sorted_writes.end());
  for (const char* depth : {"", " iodepth=8", " iodepth=4 workers=2"}) {
    SCOPED_TRACE(depth);
    fresh();
    const Result r = run(words + " mix=70" + depth);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::json::parse(get("m.json"));
    // Two workers draw from seeds of their own: the same offsets as mix=0 with them.
    const bool workers = std::string(depth).find("workers") != std::string::npos;
    std::vector<std::uint64_t> seeks = parse_offsets(r.err, "seek");
    if (workers) {
      fresh();
      const Result w = run(words + " mix=0" + depth);
      std::vector<std::uint64_t> theirs = parse_offsets(w.err, "seek");
      std::sort(theirs.begin(), theirs.end());
      std::sort(seeks.begin(), seeks.end());
      EXPECT_EQ(seeks, theirs);
    } else {
      EXPECT_EQ(seeks, parse_offsets(writes_only.err, "seek"));
    }
    const long in = doc["records"]["in"]["full"], out = doc["records"]["out"]["full"];
    EXPECT_EQ(in + out, 600);
    EXPECT_NEAR(in / 600.0, 0.7, 0.07);
    EXPECT_EQ(doc["directions"]["read"]["ios"], in);
    EXPECT_EQ(doc["directions"]["write"]["ios"], out);
    EXPECT_EQ(doc["directions"]["read"]["latency_ns"]["count"], in);
    EXPECT_EQ(doc["settings"]["mix"], 70);
    EXPECT_NE(r.err.find(text(
                  rec((std::to_string(in) + "+0").c_str(), (std::to_string(out) + "+0").c_str()))),
              std::string::npos)
        << r.err;
  }
}

// Stamped blocks written by a run of writes are read and checked by a mixed run with the same
// seed, which passes clean; with every block damaged, its first read finds one.
TEST_F(Mix, StampedBlocksReadAreChecked) {
  const std::string words =
      "if=/dev/zero of=out conv=notrunc bs=4k count=1 iterations=400 seed=5 pattern=random "
      "distribution=uniform";
  for (const char* depth : {"", " iodepth=8"}) {
    SCOPED_TRACE(depth);
    fresh();
    ASSERT_EQ(run(words + " mix=0 iterations=3000").status, 0);
    const Result clean = run(words + " mix=70 verify=1" + depth);
    EXPECT_EQ(clean.status, 0) << clean.err;
    std::string data = get("out");
    for (std::size_t at = 1000; at < data.size(); at += 4096) data[at] ^= 1;
    put("out", data);
    const Result bad = run(words + " mix=70 verify=1" + depth);
    EXPECT_EQ(bad.status, 9);
    EXPECT_NE(bad.err.find("verify error in 'out' at offset "), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find(": bad checksum"), std::string::npos) << bad.err;
    // A run that writes zeros judges the stamped blocks of its seed that it reads all the same.
    std::string zeros = words + " mix=70 verify=1" + depth;
    zeros.replace(zeros.find("pattern=random"), 14, "pattern=zero");
    EXPECT_EQ(run(zeros).status, 9);
  }
}

TEST_F(Mix, RunsThatCannotMixAreRefused) {
  const struct {
    const char* words;
    const char* err;
    bool try_help = false;
  } rows[] = {
      {"if=in of=out bs=4k count=1 iterations=2 conv=notrunc mix=50",
       "mix=50 needs the zero source as its input: it writes the zero source's blocks "
       "(pattern= says which)\n"},
      {"if=/dev/zero of=out bs=4k count=1 iterations=2 mix=50",
       "mix=50 needs a target to read and write in place: an existing file or a block device "
       "named by of=, with conv=notrunc\n"},
      {"if=/dev/zero of=out bs=4k count=1 conv=notrunc mix=50",
       "mix=50 needs count= with iterations= or runtime=\n"},
      {"if=/dev/zero of=out ibs=4k obs=8k count=1 iterations=2 conv=notrunc mix=50",
       "mix=50 needs ibs equal to obs\n"},
      {"if=/dev/zero of=out bs=4k count=1 iterations=2 conv=notrunc pattern=random verify=2 seed=1 "
       "mix=50",
       "mix=50 writes: verify=2 is a pass that writes nothing\n"},
      {"if=/dev/zero of=out mix=101", "unrecognized option value mix=101\n", true},
  };
  put("in", random_bytes(8192, 51));
  const std::string before = random_bytes(8192, 52);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    put("out", before);
    const Result r = run(row.words);
    EXPECT_EQ(r.status, 1);
    expect_err_ends_with(r, row.err, row.try_help);
    EXPECT_TRUE(get("out") == before) << "the target was changed";
  }
}

}  // namespace
}  // namespace e2e

// workers=: several threads give what one gives (the same bytes and records for a split copy,
// each worker the offsets of one with its own seed), stamped blocks written by several check
// clean, the JSON's workers add up to the whole, and the runs that cannot be shared out are
// refused before their output is touched.
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

class Workers : public E2e {
 protected:
  void SetUp() override {
    E2e::SetUp();
    input_ = random_bytes((1 << 20) + 100, 41);
  }
  void fresh(bool output) {
    put("in", input_);
    fs::remove(path("out"));
    if (output)
      put("out", "", 0, 4 << 20);
  }
  std::string input_;
};

TEST_F(Workers, ASplitCopyIsTheCopyOfOneWorker) {
  const struct {
    const char* words;
    const char* workers;
  } rows[] = {
      {"if=in of=out bs=4k", " workers=2"},
      {"if=in of=out bs=4k", " workers=3"},
      {"if=in of=out bs=1000 skip=7 seek=3 count=501", " workers=3"},
      {"if=in of=out bs=64k skip=3", " workers=2 iodepth=4"},
      {"if=/dev/zero of=out bs=4k count=63 seek=2 seed=4 pattern=random", " workers=3"},
      {"if=in of=/dev/null bs=8k", " workers=5"},
      // Fewer blocks than workers: the idle ones have nothing to add.
      {"if=in of=out bs=512k", " workers=7"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words + std::string(row.workers));
    fresh(false);
    const Result one = run(row.words);
    ASSERT_EQ(one.status, 0) << one.err;
    const std::string written = get("out");
    fresh(false);
    const Result many = run(row.words + std::string(row.workers));
    EXPECT_EQ(many.status, 0);
    EXPECT_EQ(many.err, one.err);
    expect_stdout(many, text("Please be patient...\n"), true);
    EXPECT_TRUE(get("out") == written) << "the output's bytes differ";
  }
}

// Worker w runs iterations w, w + N, ... with the offsets a run of one worker draws from seed + w
// for its share: the default draw (each program's own) and the uniform one.
TEST_F(Workers, EachWorkerDrawsAsOneWithItsOwnSeed) {
  put("in", input_);
  for (const char* distribution : {"", " distribution=uniform"}) {
    SCOPED_TRACE(distribution);
    const std::string words =
        std::string("if=in of=/dev/null bs=4k count=1 verbose=1") + distribution;
    const Result many = run(words + " iterations=7 seed=5 workers=3");
    ASSERT_EQ(many.status, 0) << many.err;
    EXPECT_NE(many.err.find(text(rec("7+0", "7+0"))), std::string::npos) << many.err;
    std::vector<std::uint64_t> got = parse_offsets(many.err, "skip");
    std::vector<std::uint64_t> want;
    for (const auto& [seed, share] : {std::pair{5, 3}, std::pair{6, 2}, std::pair{7, 2}}) {
      const Result one =
          run(words + " iterations=" + std::to_string(share) + " seed=" + std::to_string(seed));
      const std::vector<std::uint64_t> skips = parse_offsets(one.err, "skip");
      want.insert(want.end(), skips.begin(), skips.end());
    }
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
  }
}

// A skewed law's ranks are scattered by the run's seed, not each worker's: every worker's
// hottest block is the same block.
TEST_F(Workers, SkewedLawsShareOneHotSet) {
  put("in", input_);
  const Result r =
      run("if=in of=/dev/null bs=4k count=1 iterations=2000 seed=5 workers=2 verbose=1 "
          "distribution=zipf:1.2");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::uint64_t> skips = parse_offsets(r.err, "skip");
  const std::regex number(R"(Running iteration (\d+))");
  std::vector<std::uint64_t> iterations;
  for (std::sregex_iterator i(r.err.begin(), r.err.end(), number), end; i != end; ++i)
    iterations.push_back(std::stoull((*i)[1]));
  ASSERT_EQ(iterations.size(), skips.size());
  // Iteration k (from 1) is worker (k - 1) mod 2's.
  std::map<std::uint64_t, int> counts[2];
  for (std::size_t i = 0; i < skips.size(); ++i) ++counts[(iterations[i] - 1) % 2][skips[i]];
  const auto hottest = [](const std::map<std::uint64_t, int>& c) {
    return std::max_element(c.begin(), c.end(),
                            [](const auto& a, const auto& b) { return a.second < b.second; })
        ->first;
  };
  EXPECT_EQ(hottest(counts[0]), hottest(counts[1]));
}

TEST_F(Workers, StampedBlocksOfFourWorkersCheckCleanUntilAByteFlips) {
  const std::string words =
      "if=/dev/zero of=out bs=4k count=4 iterations=50 seed=9 conv=notrunc pattern=random "
      "workers=4";
  fresh(true);
  ASSERT_EQ(run(words).status, 0);
  const Result clean = run(words + " verify=2");
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_NE(clean.err.find(text(rec("200+0", "0+0"))), std::string::npos) << clean.err;
  // A byte flipped in the last block any worker wrote.
  std::string data = get("out");
  const std::size_t block = data.rfind("KvStamp1");
  ASSERT_NE(block, std::string::npos);
  data[block + 1000] ^= 1;
  put("out", data);
  const Result bad = run(words + " verify=2");
  EXPECT_EQ(bad.status, 9);
  EXPECT_NE(
      bad.err.find("verify error in 'out' at offset " + std::to_string(block) + ": bad checksum"),
      std::string::npos)
      << bad.err;
}

// Each worker's records, bytes, I/Os and latency buckets, summed, are the whole's.
TEST_F(Workers, TheWorkersOfTheJsonAddUpToTheWhole) {
  for (const char* words :
       {"if=in of=out bs=4k count=3 iterations=40 conv=notrunc workers=3 report=1 json=r.json",
        "if=in of=out bs=16k workers=2 iodepth=2 report=1 json=r.json"}) {
    SCOPED_TRACE(words);
    fresh(true);
    const Result r = run(words);
    ASSERT_EQ(r.status, 0) << r.err;
    const Json doc = Json::parse(get("r.json"));
    ASSERT_EQ(doc["workers"].size(), doc["settings"]["workers"].get<std::size_t>());
    Json sum = {{"records", doc["records"]}, {"directions", doc["directions"]}};
    for (const Json& w : doc["workers"]) {
      for (const char* side : {"in", "out"})
        for (const char* kind : {"full", "partial"})
          sum["records"][side][kind] =
              sum["records"][side][kind].get<long>() - w["records"][side][kind].get<long>();
      for (const auto& [name, d] : w["directions"].items()) {
        Json& whole = sum["directions"][name];
        for (const char* key : {"bytes", "ios"})
          whole[key] = whole[key].get<long>() - d[key].get<long>();
        EXPECT_LE(d["wall_us"].get<long>(), whole["wall_us"].get<long>());
        EXPECT_EQ(d["latency_ns"]["count"], d["ios"]) << "every I/O is timed";
        Json& latency = whole["latency_ns"];
        latency["count"] = latency["count"].get<long>() - d["latency_ns"]["count"].get<long>();
        for (const Json& b : d["latency_ns"]["buckets"]) {
          const auto mine = std::find_if(latency["buckets"].begin(), latency["buckets"].end(),
                                         [&](const Json& m) { return m[0] == b[0]; });
          ASSERT_NE(mine, latency["buckets"].end()) << "the whole lacks " << b;
          (*mine)[2] = (*mine)[2].get<long>() - b[2].get<long>();
        }
      }
    }
    for (const char* side : {"in", "out"})
      for (const char* kind : {"full", "partial"})
        EXPECT_EQ(sum["records"][side][kind], 0) << side << " " << kind;
    for (const auto& [name, d] : sum["directions"].items()) {
      EXPECT_EQ(d["bytes"], 0) << name;
      EXPECT_EQ(d["ios"], 0) << name;
      EXPECT_EQ(d["latency_ns"]["count"], 0) << name;
      for (const Json& b : d["latency_ns"]["buckets"]) EXPECT_EQ(b[2], 0) << name << " " << b;
    }
    // One pair of records lines and one summary for the whole.
    EXPECT_EQ(r.err.find("records in"), r.err.rfind("records in"));
    EXPECT_EQ(r.err.find("latency (us)"), r.err.rfind("latency (us)"));
  }
}

// A status request and progress lines show the whole so far: every worker's I/Os, never more
// than the run ends with.
TEST_F(Workers, StatusAndProgressShowTheWholeSoFar) {
  if (!target().linux_devices)
    GTEST_SKIP() << "signals are sent to the Linux program only";
  put("in", input_);
  const Result r =
      run("if=in of=/dev/null bs=4k count=1 runtime=2 progress=1 workers=2 report=1",
          Stdin{.chunks = {""}, .signals = {{SIGUSR1, "Please be patient"}}, .close_after = "x"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<long> counts = full_records(r.err, "in");
  ASSERT_EQ(counts.size(), 2u) << r.err;
  EXPECT_LE(counts[0], counts[1]);
  EXPECT_EQ(r.err.find("latency (us)"), r.err.find("latency (us)", r.err.find("records in")));
  std::smatch line;
  ASSERT_TRUE(std::regex_search(r.err, line, std::regex(R"((\d+) bytes \()"))) << r.err;
  EXPECT_GT(std::stol(line[1]), 0);
  EXPECT_LE(std::stol(line[1]), counts[1] * 4096);
}

TEST_F(Workers, RunsThatCannotBeSharedOutAreRefused) {
  // clang-format off
  const struct { const char* words; int status; const char* err; bool existing_output = false;
                 bool try_help = false; } rows[] = {
      {"if=in of=out workers=0", 1, "unrecognized option value workers=0\n", false, true},
      {"if=in of=out workers=257", 1, "unrecognized option value workers=257\n", false, true},
      {"if=in of=out ibs=4k obs=1k workers=2", 1,
       "workers=2 with a single copy needs ibs equal to obs\n", true},
      {"if=in of=out bs=4k count=1 iterations=5 workers=3", 1,
       "workers=3 with iterations needs an existing output written in place (conv=notrunc) or "
       "the null sink\n", true},
      {"if=in bs=4k workers=2", 1,
       "workers=2 needs an output the run can position: a file or device named by of=, or the "
       "null sink\n"},
      {"if=in of=in bs=4k conv=notrunc workers=2", 1,
       "workers=2 cannot read and write the same file\n"},
      // 8 KiB cannot hold a 4-block entry for each of 4 writers of stamped blocks.
      {"if=/dev/zero of=out bs=512 count=4 iterations=8 pattern=random conv=notrunc workers=4", 5,
       "error: the output file size is too small for the specified count, blocksize and seek "
       "values shared among 4 workers\n", true},
  };
  // clang-format on
  const std::string before = random_bytes(8192, 42);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    put("in", input_);
    fs::remove(path("out"));
    if (row.existing_output)
      put("out", before);
    const Result r = run(row.words);
    EXPECT_EQ(r.status, row.status);
    expect_err_ends_with(r, row.err, row.try_help);
    EXPECT_EQ(fs::exists(path("out")), row.existing_output);
    if (row.existing_output) {
      EXPECT_TRUE(get("out") == before) << "the output was changed";
    }
  }
  // Standard input has no offset of the run's own.
  put("in", input_);
  const Result r = run("of=out workers=2", Stdin{.file = "in"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("workers=2 needs an input the run can position"), std::string::npos);
}

}  // namespace
}  // namespace e2e

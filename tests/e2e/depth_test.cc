// iodepth=: many I/Os in flight give what one at a time gives (the same records lines, the
// same verbose offsets, the same bytes where no two entries write the same place), and the runs
// the queue cannot serve are refused before their output is touched.
#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <utility>

#include "harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kOutputSize = 16 << 20;

class Depth : public E2e {
 protected:
  void SetUp() override {
    E2e::SetUp();
    input_ = random_bytes((1 << 20) + 100, 31);
  }
  // Fresh files for one run: the input, and a sparse output of zeros when the row has one.
  void fresh(bool output) {
    put("in", input_);
    fs::remove(path("out"));
    if (output)
      put("out", "", 0, kOutputSize);
  }
  std::string input_;
};

struct SameRow {
  const char* words;
  bool existing_output;  // the output exists before the run (conv=notrunc rows)
  const char* records;   // the records lines the rows expect, as a check of the row itself
};

// Entries whose output ranges overlap may leave either entry's bytes there: the rows' seeds
// were chosen so that none do (uniform draws, the same on both builds), and the test checks
// that from the verbose offsets.
void expect_apart(const std::string& err, std::uint64_t span) {
  std::vector<std::uint64_t> seeks = parse_offsets(err, "seek");
  std::sort(seeks.begin(), seeks.end());
  for (std::size_t i = 1; i < seeks.size(); ++i)
    ASSERT_GE(seeks[i] - seeks[i - 1], span) << "the row's entries overlap: choose another seed";
}

TEST_F(Depth, ManyInFlightGiveWhatOneAtATimeGives) {
  // clang-format off
  const SameRow rows[] = {
      {"if=in of=out bs=4k count=2 iterations=16 seed=11 distribution=uniform conv=notrunc "
       "verbose=1", true, "32+0"},
      {"if=in of=out bs=4k count=1 iterations=24 seed=12 distribution=uniform conv=notrunc "
       "verbose=1", true, "24+0"},
      {"if=in of=/dev/null ibs=4k obs=1000 count=3 iterations=40 seed=3 verbose=1", false, "120+0"},
      {"if=/dev/zero of=out bs=4k count=4 iterations=10 seed=15 distribution=uniform "
       "conv=notrunc pattern=random verbose=1", true, "40+0"},
      {"if=/dev/zero of=out bs=4k count=4 iterations=10 seed=15 distribution=uniform "
       "conv=notrunc pattern=random verify=1 verbose=1", true, "40+0"},
      {"if=in of=out bs=4k verify=1", false, "256+1"},
      {"if=in of=out bs=4k", false, "256+1"},
      {"if=in of=out bs=1000 skip=7 seek=3 count=500", false, "500+0"},
      {"if=in of=out bs=64k skip=3", false, "13+1"},
      {"if=in of=out bs=4k count=40 seek=5 conv=notrunc", true, "40+0"},
      {"if=/dev/zero of=out bs=4k count=64 seek=2", false, "64+0"},
      {"if=in of=/dev/null bs=8k", false, "128+1"},
  };
  // clang-format on
  for (const SameRow& row : rows) {
    SCOPED_TRACE(row.words);
    fresh(row.existing_output);
    const Result one = run(row.words);
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_NE(one.err.find(std::string(row.records) + " records in"), std::string::npos) << one.err;
    if (row.existing_output) {
      expect_apart(one.err, 4 * 4096);
    }
    const std::string written = get("out");
    // poll=1 reaps by spinning: the same I/Os, seen at other moments.
    for (const char* depth : {" iodepth=8", " iodepth=3 poll=1"}) {
      SCOPED_TRACE(depth);
      fresh(row.existing_output);
      const Result many = run(row.words + std::string(depth));
      EXPECT_EQ(many.status, 0);
      EXPECT_EQ(many.err, one.err);
      expect_stdout(many, text("Please be patient...\n"), true);
      EXPECT_TRUE(get("out") == written) << "the output's bytes differ";
    }
  }
}

// A check at depth finds what a check one at a time finds: a clean run stays clean, and a
// damaged block stops the check there, with the same message, status and records lines.
TEST_F(Depth, ChecksFindWhatOneAtATimeFinds) {
  const std::string write = "if=/dev/zero of=out bs=4k count=64 seed=7 pattern=random";
  const std::string entries =
      "if=/dev/zero of=out bs=4k count=4 iterations=10 seed=15 "
      "distribution=uniform conv=notrunc pattern=random";
  for (const std::string& words : {write, entries}) {
    SCOPED_TRACE(words);
    fresh(words == entries);
    ASSERT_EQ(run(words + " iodepth=8").status, 0);
    const Result clean = run(words + " verify=2 iodepth=8");
    EXPECT_EQ(clean.status, 0);
    EXPECT_NE(clean.err.find(text(rec(words == entries ? "40+0" : "64+0", "0+0"))),
              std::string::npos)
        << clean.err;
  }
  // A byte flipped in block 20 of the single copy.
  fresh(false);
  ASSERT_EQ(run(write).status, 0);
  std::string data = get("out");
  data[20 * 4096 + 100] ^= 1;
  put("out", data);
  const Result one = run(write + " verify=2");
  EXPECT_EQ(one.status, 9);
  EXPECT_NE(one.err.find("verify error in 'out' at offset 81920: bad checksum"), std::string::npos)
      << one.err;
  const Result many = run(write + " verify=2 iodepth=8");
  EXPECT_EQ(many.status, 9);
  EXPECT_EQ(many.err, one.err);
}

// runtime= ends a queued run as it ends one at a time: nothing new starts, what is in flight
// finishes and counts, and the records and report=1's figures agree.
TEST_F(Depth, ATimeLimitEndsTheQueueAsTheCopy) {
  put("in", input_);
  put("out", "", 0, kOutputSize);
  for (const char* words : {"if=in of=/dev/null bs=4k count=1 runtime=1 iodepth=8 report=1 "
                            "json=r.json",
                            "if=in of=out bs=4k count=1 runtime=1 iodepth=8 conv=notrunc "
                            "report=1"}) {
    SCOPED_TRACE(words);
    const Result r = run(words);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GE(r.seconds, 1.0);
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(r.err, m, std::regex("(\\d+)\\+0 records in\r?\n(\\d+)\\+0 records out")))
        << r.err;
    EXPECT_EQ(m[1].str(), m[2].str());
    EXPECT_NE(m[1].str(), "0");
    // The report's read line counts the same I/Os.
    EXPECT_TRUE(std::regex_search(
        r.err, std::regex("\\nread +" + std::to_string(std::stoull(m[1].str()) * 4096) + " ")))
        << r.err;
  }
  // The document says how deep the run went.
  const auto doc = nlohmann::json::parse(get("r.json"));
  EXPECT_EQ(doc["settings"]["iodepth"], 8);
}

// Refused before the output is opened: an output that exists keeps its bytes, one that does
// not is not created.
TEST_F(Depth, RunsTheQueueCannotServeAreRefused) {
  // clang-format off
  const struct { const char* words; const char* err; bool existing_output = false;
                 bool try_help = false; } rows[] = {
      {"if=in of=out bs=4k count=1 iterations=5 iodepth=4",
       "iodepth=4 with iterations needs an existing output written in place (conv=notrunc) or "
       "the null sink\n"},
      {"if=in of=out bs=4k count=1 iterations=5 iodepth=4",
       "iodepth=4 with iterations needs an existing output written in place (conv=notrunc) or "
       "the null sink\n", true},
      {"if=in of=out bs=4k count=1 runtime=1 iodepth=3",
       "iodepth=3 with iterations needs an existing output written in place (conv=notrunc) or "
       "the null sink\n", true},
      {"if=in of=out ibs=4k obs=1k iodepth=2",
       "iodepth=2 with a single copy needs ibs equal to obs\n", true},
      {"if=in of=in bs=4k conv=notrunc iodepth=2",
       "iodepth=2 cannot read and write the same file\n"},
      {"if=in bs=4k iodepth=2",
       "iodepth=2 needs an output the run can position: a file or device named by of=, or the "
       "null sink\n"},
      {"if=in of=out bs=1025m iodepth=2",
       "iodepth=2 takes blocks of at most 1 GiB (ibs= and obs=)\n", true},
      {"if=in of=out iodepth=0", "unrecognized option value iodepth=0\n", false, true},
      {"if=in of=out iodepth=4097", "unrecognized option value iodepth=4097\n", false, true},
      {"if=in of=out iodepth=x", "invalid number x\n", false, true},
      {"if=in of=out bs=4k poll=1",
       "poll=1 needs iodepth= above 1: one I/O at a time has no queue to poll\n", true},
      {"if=in of=out iodepth=4 poll=0", "unrecognized option value poll=0\n", false, true},
      {"if=in of=out iodepth=4 poll=3", "unrecognized option value poll=3\n", false, true},
  };
  // clang-format on
  const std::string before = random_bytes(5000, 32);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    put("in", input_);
    fs::remove(path("out"));
    if (row.existing_output)
      put("out", before);
    const Result r = run(row.words);
    EXPECT_EQ(r.status, 1);
    expect_err_ends_with(r, row.err, row.try_help);
    EXPECT_EQ(fs::exists(path("out")), row.existing_output);
    if (row.existing_output) {
      EXPECT_TRUE(get("out") == before) << "the output was changed";
    }
    EXPECT_TRUE(get("in") == input_) << "the input was changed";
  }
}

// poll=2 asks for a thread of the system that submits the I/Os: Linux has one (or the kernel
// refuses it, as it may refuse the queue); Windows has none and refuses the word.
TEST_F(Depth, AKernelSubmissionThreadIsHadOrRefused) {
  put("in", input_);
  const Result r = run("if=in of=out bs=4k iodepth=4 poll=2");
  if (!target().linux_devices) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, text("poll=2 is not available on Windows: the system has no thread that "
                          "submits I/Os for a program\n"));
    EXPECT_FALSE(fs::exists(path("out")));
    return;
  }
  if (r.status == 2) {
    EXPECT_EQ(r.err.rfind("io_uring is not available: ", 0), 0u) << r.err;
    return;
  }
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(get("out") == input_);
}

// Standard input may share its offset with the shell: it is read one block at a time.
TEST_F(Depth, StandardInputIsRefused) {
  put("in", input_);
  const Result r = run("of=out bs=4k iodepth=2", Stdin{"in"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, text("iodepth=2 needs an input the run can position: a file or device named "
                        "by if=, or the zero source\n"));
  EXPECT_FALSE(fs::exists(path("out")));
}

}  // namespace
}  // namespace e2e

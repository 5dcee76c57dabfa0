// kolvane-mpi as a user launches it: four ranks of this host under mpirun. The whole against the
// ranks' own documents, names per rank, one target stamped by every rank and checked, a failure
// before the first I/O, and a stop sent to mpirun.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

using Json = nlohmann::json;
constexpr int kRanks = 4;

std::string host() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

// The numbers of the report=1 row that begins with `label` after the table headed `heading`.
std::vector<std::string> row(const std::string& err, const std::string& heading,
                             const std::string& label) {
  const std::size_t table = err.find(heading);
  const std::size_t at = err.find("\n" + label + " ", table);
  std::vector<std::string> cells;
  if (table == std::string::npos || at == std::string::npos)
    return cells;
  std::istringstream line(err.substr(at + 1, err.find('\n', at + 1) - at - 1));
  for (std::string cell; line >> cell;) cells.push_back(cell);
  return cells;
}

class Mpi : public E2e {
 protected:
  void SetUp() override {
    E2e::SetUp();
    if (options.mpi_binary.empty() || options.mpirun.empty())
      GTEST_SKIP() << "no --mpi-binary (kolvane-mpi is built where MPI is found, Linux only)";
  }
};

// One run, each rank writing a file of its own: the whole's records are the sums, and the
// whole's report=1 figures are those kolvane-report merge makes of the ranks' own documents.
TEST_F(Mpi, WholeIsTheMergeOfTheRanksDocuments) {
  const Result r = run_mpi(kRanks, "if=/dev/zero of=out%r bs=4k count=300 report=1 json=r%r.json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(rec("1200+0", "1200+0")), std::string::npos) << r.err;
  // Nothing but rank 0's lines: no rank prints its own records.
  EXPECT_EQ(r.err.find("rank 1 ("), std::string::npos) << r.err;
  std::string docs;
  for (int rank = 0; rank < kRanks; ++rank) {
    EXPECT_EQ(std::filesystem::file_size(path("out" + std::to_string(rank))), 300u * 4096);
    docs += " r" + std::to_string(rank) + ".json";
  }
  ASSERT_EQ(run_report("merge" + docs + " -o m.json").status, 0);
  const Json write = Json::parse(get("m.json"))["directions"]["write"];
  const std::vector<std::string> transfer = row(r.err, "transfer ", "write");
  ASSERT_GE(transfer.size(), 5u) << r.err;
  EXPECT_EQ(transfer[1], std::to_string(write["bytes"].get<std::uint64_t>()));
  EXPECT_EQ(transfer[4], std::to_string(write["ios"].get<std::uint64_t>()));
  const std::vector<std::string> latency = row(r.err, "latency (us)", "write");
  const char* keys[] = {"min", "mean", "p50", "p90", "p99", "p99_9", "p99_99", "max"};
  ASSERT_EQ(latency.size(), 1 + std::size(keys)) << r.err;
  for (std::size_t i = 0; i < std::size(keys); ++i) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", write["latency_ns"][keys[i]].get<double>() / 1000.0);
    EXPECT_EQ(latency[1 + i], text) << keys[i];
  }
  // A line per rank, its host beside it.
  EXPECT_TRUE(std::regex_search(r.err, std::regex("\n3 +" + host() + " "))) << r.err;
}

// Stamped blocks from every rank (two workers each) into one file, then checked with the same
// words: clean; then one flipped byte, found by the rank whose part holds it.
TEST_F(Mpi, SharedTargetIsStampedByEveryRankAndCheckedByItsOwner) {
  constexpr std::uint64_t kSize = 8 << 20;
  put("t", "", 0, kSize);
  const std::string words =
      "if=/dev/zero of=t bs=4k count=4 iterations=60 conv=notrunc "
      "pattern=random seed=11 shared=1 workers=2";
  ASSERT_EQ(run_mpi(kRanks, words).status, 0);
  const Result clean = run_mpi(kRanks, words + " verify=2");
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(clean.err.find("verify error"), std::string::npos) << clean.err;
  // Rank 2's parts are the fifth and sixth of eight: flip a byte in a block it wrote there.
  const std::string data = get("t");
  std::uint64_t block = 5 * kSize / 8;
  while (block < 6 * kSize / 8 && data.substr(block, 4096) == std::string(4096, '\0'))
    block += 4096;
  ASSERT_LT(block, 6 * kSize / 8) << "rank 2 wrote nothing in its part";
  {
    std::fstream t(path("t"), std::ios::in | std::ios::out | std::ios::binary);
    t.seekp(static_cast<std::streamoff>(block + 100));
    t.put(static_cast<char>(data[block + 100] ^ 1));
  }
  const Result flipped = run_mpi(kRanks, words + " verify=2");
  EXPECT_EQ(flipped.status, 9) << flipped.err;
  EXPECT_NE(flipped.err.find("rank 2 (" + host() + "): verify error in 't' at offset " +
                             std::to_string(block)),
            std::string::npos)
      << flipped.err;
}

// What ends every rank before its first I/O, told once by the rank it concerns.
TEST_F(Mpi, FailureOnOneRankEndsEveryRankBeforeAnyIo) {
  const struct {
    const char* words;
    int status;
    std::string told;
  } rows[] = {
      {"if=in%r of=o%r bs=4k", 2, "rank 2 (" + host() + "): error opening 'in2'"},
      {"if=in%x of=o%r bs=4k", 1, "if=in%x: in a name, % may only begin %r"},
  };
  for (const auto& row : rows) {
    for (const int rank : {0, 1, 3}) put("in" + std::to_string(rank), random_bytes(8192, rank));
    const Result r = run_mpi(kRanks, row.words);
    EXPECT_EQ(r.status, row.status) << row.words << ": " << r.err;
    EXPECT_NE(r.err.find(row.told), std::string::npos) << r.err;
    // Told once, and nothing copied on any rank.
    EXPECT_EQ(r.err.find(row.told, r.err.find(row.told) + 1), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("records in"), std::string::npos) << r.err;
    for (const int rank : {0, 1, 3}) {
      const std::string out = path("o" + std::to_string(rank));
      EXPECT_TRUE(!std::filesystem::exists(out) || std::filesystem::file_size(out) == 0) << out;
    }
  }
}

// SIGUSR1 to mpirun reaches every rank: rank 0 prints the whole so far. SIGINT to mpirun sends
// SIGTERM to every rank: one report of what was done, within mpirun's grace.
TEST_F(Mpi, StopsToMpirunGiveOneReportOfTheWhole) {
  const Result r =
      run_mpi(kRanks, "if=/dev/zero of=o%r bs=4k count=8 runtime=30 json=stop.json",
              Stdin{.chunks = {""},
                    .signals = {{SIGUSR1, "Please be patient"}, {SIGINT, "records out"}},
                    .close_after = "x"});
  EXPECT_LT(r.seconds, 20) << r.err;
  const std::vector<long> counts = full_records(r.err, "out");
  ASSERT_EQ(counts.size(), 2u) << r.err;
  EXPECT_LE(counts[0], counts[1]);
  EXPECT_NE(r.out.find("Elapsed time"), std::string::npos) << r.out;
  const Json doc = Json::parse(get("stop.json"));
  EXPECT_EQ(doc["signal"], "SIGTERM");
  EXPECT_EQ(doc["exit_status"], 143);
  EXPECT_EQ(doc["records"]["out"]["full"], counts[1]);
  EXPECT_EQ(doc["ranks"].size(), static_cast<std::size_t>(kRanks));
}

}  // namespace
}  // namespace e2e

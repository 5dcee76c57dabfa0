// Stamped blocks and verification, as a user meets them: a good run verifies clean, and every
// lost, misplaced or damaged block is named with its offset and ends the run with status 9,
// after the records lines. The refusals end before anything is opened.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <span>

#include "harness.h"
#include "pattern/stamp.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kBlock = 4096;
const std::string kWrite = "if=/dev/zero of=out bs=4k count=8 pattern=random seed=7";

std::string verify_error(std::uint64_t offset, const std::string& verdict) {
  return "verify error in 'out' at offset " + std::to_string(offset) + ": " + verdict + "\n";
}

std::string other_words(std::uint64_t offset, const std::string& verdict) {
  return "verify cannot judge 'out': its blocks were written with other words, or it is another "
         "file (at offset " +
         std::to_string(offset) + ": " + verdict +
         "); repeat the writing run's words and seed= exactly, conv=notrunc included\n";
}

// What a writing run left: the stamped block for each offset of `blocks`, with its seed.
void expect_stamped(const std::string& data, std::uint64_t blocks, std::uint32_t seed) {
  ASSERT_EQ(data.size(), blocks * kBlock);
  for (std::uint64_t i = 0; i < blocks; ++i) {
    const auto block = std::as_bytes(std::span(data.data() + i * kBlock, kBlock));
    EXPECT_EQ(kolvane::check_stamped_block(block, i * kBlock, seed).verdict,
              kolvane::StampVerdict::good)
        << "block " << i;
  }
}

class Verify : public E2e {
 protected:
  // A good writing run of 8 stamped blocks, read back as it goes.
  void write_good() {
    const Result r = run(kWrite + " verify=1");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.err, text(rec("8+0", "8+0")));
    expect_stamped(get("out"), 8, 7);
  }
  void overwrite(std::uint64_t at, const std::string& bytes) const {
    std::string data = get("out");
    data.replace(at, bytes.size(), bytes);
    put("out", data);
  }
};

TEST_F(Verify, AGoodRunChecksCleanLaterAndWritesNothing) {
  write_good();
  const std::string before = get("out");
  const Result r = run(kWrite + " verify=2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, text(rec("8+0", "0+0")));
  expect_stdout(r, text("Please be patient...\n"), true);
  EXPECT_EQ(get("out"), before);
}

// Damage done between the writing run and the check, each found at the block it hit.
struct Damage {
  const char* name;
  std::uint64_t at;     // where the damage goes
  std::uint64_t block;  // the block the check stops at
  std::string verdict;
  const char* in;  // the blocks read, the bad one included
  std::string extra_words = "";
  int status = 9;  // 10: the check's words differ from the writing run's
};

TEST_F(Verify, DamageIsNamedAtItsBlock) {
  const Damage cases[] = {
      {"a byte flipped in the data", 3 * kBlock + 100, 3 * kBlock, "bad checksum", "4+0"},
      {"a byte flipped in the header", 5 * kBlock + 9, 5 * kBlock, "bad checksum", "6+0"},
      {"the magic overwritten", 2 * kBlock, 2 * kBlock, "no block header", "3+0"},
      {"a block landed elsewhere", 6 * kBlock, 6 * kBlock, "block written for offset 4096", "7+0"},
      {"the file cut inside a block", 7 * kBlock + 1000, 7 * kBlock,
       "file ends after 1000 of 4096 bytes", "7+1"},
      // A check with other words than the writing run's never calls the blocks corrupt.
      {"another seed's run", 0, 0, "block written with seed 7", "1+0", "seed=8", 10},
      {"past the end of what was written", 8 * kBlock, 8 * kBlock, "no block header", "8+0",
       "count=9", 10},
  };
  for (const Damage& d : cases) {
    SCOPED_TRACE(d.name);
    write_good();
    const std::string good = get("out");
    if (std::string(d.name) == "a block landed elsewhere") {
      overwrite(d.at, good.substr(kBlock, kBlock));
    } else if (d.status != 9) {
    } else if (d.verdict.rfind("file ends", 0) == 0) {
      fs::resize_file(path("out"), d.at);
    } else {
      overwrite(d.at, std::string(1, static_cast<char>(good[d.at] ^ 0x20)));
    }
    const Result r = run(kWrite + " verify=2 " + d.extra_words);
    EXPECT_EQ(r.status, d.status);
    EXPECT_EQ(r.err, text((d.status == 9 ? verify_error(d.block, d.verdict)
                                         : other_words(d.block, d.verdict)) +
                          rec(d.in, "0+0")));
    expect_stdout(r, text("Please be patient...\n"), true);
  }
}

// Damage in two entries of a check of many: one verdict, for the block that comes first in plan
// order, and the records up to it, however many I/Os are in flight.
TEST_F(Verify, OneVerdictAtEveryDepth) {
  const std::string words =
      "if=/dev/zero of=out bs=4k count=2 iterations=40 conv=notrunc pattern=random seed=7";
  put("out", "", 0, 1 << 20);
  const Result written = run(words + " verbose=1");
  ASSERT_EQ(written.status, 0) << written.err;
  const std::vector<std::uint64_t> seeks = parse_offsets(written.err, "seek");
  ASSERT_EQ(seeks.size(), 40u);
  // A block in an entry near the middle (its second), and one in a later entry (its first),
  // each planned by no entry before the first one's.
  const auto planned_before = [&](std::uint64_t offset, std::size_t entry) {
    for (std::size_t e = 0; e < entry; ++e)
      if (seeks[e] <= offset && offset < seeks[e] + 2 * kBlock)
        return true;
    return false;
  };
  std::size_t entry = 10;
  while (entry < 20 && planned_before(seeks[entry] + kBlock, entry)) ++entry;
  std::size_t other = 39;
  while (other > 25 && planned_before(seeks[other], entry + 1)) --other;
  ASSERT_TRUE(entry < 20 && other > 25) << "no block planned once";
  const std::uint64_t first = seeks[entry] + kBlock;
  overwrite(seeks[other] + 100, "X");
  overwrite(first + 100, "X");
  const std::string in = std::to_string(2 * entry + 2) + "+0";
  for (const char* depth : {"1", "32"}) {
    SCOPED_TRACE(depth);
    const Result r = run(words + " verify=2 iodepth=" + depth);
    EXPECT_EQ(r.status, 9);
    EXPECT_EQ(r.err, text(verify_error(first, "bad checksum") + rec(in.c_str(), "0+0")));
  }
}

// Iterations written in place over an existing file land at drawn offsets; a check that forgets
// conv=notrunc plans them from the start of the file, as for a new one, and must say so rather
// than call the file corrupt.
TEST_F(Verify, ACheckWithoutTheWritersNotruncSaysTheWordsDiffer) {
  const std::string words =
      "if=/dev/zero of=out bs=4k count=2 iterations=20 pattern=random seed=42";
  put("out", "", 0, 1 << 20);
  ASSERT_EQ(run(words + " conv=notrunc").status, 0);
  const Result forgot = run(words + " verify=2");
  EXPECT_EQ(forgot.status, 10);
  EXPECT_NE(forgot.err.find("verify cannot judge 'out'"), std::string::npos) << forgot.err;
  EXPECT_EQ(forgot.err.find("verify error"), std::string::npos) << forgot.err;
  const Result same = run(words + " conv=notrunc verify=2");
  EXPECT_EQ(same.status, 0) << same.err;
}

TEST_F(Verify, ReadBackPassesGoodCopies) {
  struct Run {
    const char* words;
    std::string records;
    bool direct;
  };
  const Run runs[] = {
      // Byte for byte, with a partial last block.
      {"if=in of=out ibs=512 obs=1k verify=1", rec("7+1", "3+1"), false},
      {"if=/dev/zero of=out bs=1k count=3 verify=1", rec("3+0", "3+0"), false},
      {"if=/dev/zero of=out bs=4k count=8 pattern=random seed=9 verify=1 dio=2", rec("8+0", "8+0"),
       true},
      {"if=in of=out bs=1k verify=1 dio=3", rec("3+1", "3+1"), true},
      // Queued, the blocks are read back from the output, where they went.
      {"if=in of=out bs=1k seek=1 verify=1 iodepth=4", rec("3+1", "3+1"), false},
  };
  const std::string in = random_bytes(3600, 4);
  for (const Run& run_case : runs) {
    SCOPED_TRACE(run_case.words);
    if (run_case.direct && direct_io_refused())
      continue;
    put("in", in);
    const Result r = run(run_case.words);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, text(run_case.records));
    fs::remove(path("out"));
  }
}

TEST_F(Verify, StampedRunsWriteTheSameBlocksForTheSameSeed) {
  write_good();
  const std::string first = get("out");
  ASSERT_EQ(run(kWrite).status, 0);
  EXPECT_EQ(get("out"), first);
  ASSERT_EQ(run("if=/dev/zero of=out bs=4k count=8 pattern=random seed=8").status, 0);
  expect_stamped(get("out"), 8, 8);
  EXPECT_NE(get("out"), first);
}

TEST_F(Verify, RefusalsComeBeforeAnythingIsOpened) {
  struct Refusal {
    const char* words;
    std::string err;
    bool try_help = false;
  };
  const Refusal cases[] = {
      {"if=in of=out count=1 pattern=random",
       "pattern=random needs the zero source as input (if=/dev/zero)\n"},
      {"if=/dev/zero of=out count=1 ibs=512 obs=1k pattern=random",
       "pattern=random needs equal input and output block sizes\n"},
      {"if=/dev/zero of=out count=1 bs=256 pattern=random",
       "pattern=random needs blocks of at least 512 bytes\n"},
      {"if=in verify=1",
       "verify=1 needs an output that can be read back: a file or a device (of=)\n"},
      {"if=in of=/dev/null verify=1",
       "verify=1 needs an output that can be read back: a file or a device (of=)\n"},
      {"if=/dev/zero count=1 pattern=random seed=1 verify=2",
       "verify=2 needs an output that can be read back: a file or a device (of=)\n"},
      {"if=/dev/zero of=out count=1 pattern=random verify=2",
       "verify=2 needs pattern=random and the seed= of the run that wrote the blocks\n"},
      {"if=/dev/zero of=out count=1 seed=1 verify=2",
       "verify=2 needs pattern=random and the seed= of the run that wrote the blocks\n"},
      {"if=/dev/zero of=out count=1 pattern=random seed=1 verify=2 runtime=5",
       "verify=2 cannot be given with runtime=: check a time-limited run with iterations= set to "
       "the iterations it made (its records out divided by count=)\n"},
      {"if=in of=out verify=3", "unrecognized option value verify=3\n", true},
      {"if=in of=out verify=x", "invalid number x\n", true},
      {"if=in of=out pattern=ones", "unrecognized option value pattern=ones\n", true},
  };
  put("in", random_bytes(1024, 2));
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.words);
    const Result r = run(c.words);
    EXPECT_EQ(r.status, 1);
    expect_err_ends_with(r, c.err, c.try_help);
    // Without of= the data would go to standard output, whose lines then move here first.
    EXPECT_EQ(r.out.empty(), std::string(c.words).find("of=") == std::string::npos);
    EXPECT_FALSE(fs::exists(path("out")));
  }
}

TEST_F(Verify, APipeCannotBeReadBack) {
  if (!target().linux_devices)
    GTEST_SKIP() << "named pipes are the Linux program's";
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  // Refused before the open, which would wait for a reader.
  const Result r = run("if=/dev/zero of=fifo count=1 verify=1");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            text("verify=1 needs an output that can be read back: a file or a device (of=)\n"));
}

// Writes the system reports done but that never reached their place, from the fault
// interposer: the read-back catches the lost one, the later check the misplaced one.
class VerifyFaults : public Verify {
 protected:
  Result run_with_fault(const std::string& words, const std::string& fault) const {
    return run(words, {},
               {"LD_PRELOAD=" + fs::absolute(options.preload).string(), "KOLVANE_FAULT=" + fault});
  }
  void SetUp() override {
    Verify::SetUp();
    if (options.preload.empty())
      GTEST_SKIP() << "no fault interposer for this program";
  }
};

TEST_F(VerifyFaults, ALostWriteIsCaughtByTheReadBack) {
  const Result stamped = run_with_fault(kWrite + " verify=1", "write:2:drop");
  EXPECT_EQ(stamped.status, 9);
  EXPECT_EQ(stamped.err, verify_error(kBlock, "no block header") + rec("2+0", "2+0"));
  put("in", random_bytes(4096, 5));
  const Result copied = run_with_fault("if=in of=out bs=1k verify=1", "write:3:drop");
  EXPECT_EQ(copied.status, 9);
  EXPECT_EQ(copied.err, verify_error(2048, "data differ from offset 2048") + rec("3+0", "3+0"));
}

TEST_F(VerifyFaults, AMisplacedWriteIsCaughtByItsHeader) {
  write_good();
  // The block for offset 4096 lands on the one for 8192.
  const Result r =
      run_with_fault("if=/dev/zero of=out bs=4k count=1 seek=1 conv=notrunc pattern=random seed=7",
                     "write:1:shift");
  ASSERT_EQ(r.status, 0) << r.err;
  const Result check = run(kWrite + " verify=2");
  EXPECT_EQ(check.status, 9);
  EXPECT_EQ(check.err,
            verify_error(2 * kBlock, "block written for offset 4096") + rec("3+0", "0+0"));
}

}  // namespace
}  // namespace e2e

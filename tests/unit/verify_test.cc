// The checking words through the whole engine, against the in-memory back end: where each
// block is looked for, what is read back, and how a failed read or check ends the run.
#include "engine/verify.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "fake_backend.h"
#include "pattern/stamp.h"
#include "program_run.h"

namespace kolvane {
namespace {

using Bytes = std::vector<unsigned char>;

// `blocks` stamped blocks of `bs` bytes for seed 3, one after the other from offset 0.
Bytes stamped(std::size_t blocks, std::size_t bs) {
  Bytes data(blocks * bs);
  for (std::size_t i = 0; i < blocks; ++i) {
    const std::span block(reinterpret_cast<std::byte*>(data.data() + i * bs), bs);
    EXPECT_TRUE(fill_stamped_block(block, i * bs, 3, 1));
  }
  return data;
}

struct Row {
  const char* name;
  std::string words;
  Bytes in, out;
  std::size_t corrupt_at;  // a byte of "out" flipped before the run (SIZE_MAX: none)
  int fail_read_call;      // the output's read that fails (0: none)
  int status;
  std::string err;
  // The output's reads, each "@offset length": positioned reads at the blocks' own offsets.
  std::string reads;
};

TEST(VerifyTest, BlocksAreLookedForWhereTheyWereWritten) {
  const Row rows[] = {
      // clang-format off
      // Iterations into a new output follow on: the second entry checks offsets 1024 and 1536.
      {"entries follow on", "if=/dev/zero of=out bs=512 count=2 iterations=2 pattern=random "
       "seed=3 verify=2", {}, stamped(4, 512), 1536 + 300, 0, 9,
       "verify error in 'out' at offset 1536: bad checksum\n4+0 records in\n0+0 records out\n",
       "@0 512; @512 512; @1024 512; @1536 512"},
      {"check only, clean", "if=/dev/zero of=out bs=512 count=4 pattern=random seed=3 verify=2",
       {}, stamped(4, 512), SIZE_MAX, 0, 0, "4+0 records in\n0+0 records out\n",
       "@0 512; @512 512; @1024 512; @1536 512"},
      // A read of the output that fails is a read failure, naming the output.
      {"read-back fails", "if=in of=out bs=512 verify=1", fake::pattern(1024), {}, SIZE_MAX, 2,
       3, "error reading 'out': ", "@0 512; @512 512"},
      {"check-only read fails", "if=/dev/zero of=out bs=512 count=4 pattern=random seed=3 "
       "verify=2", {}, stamped(4, 512), SIZE_MAX, 1, 3, "error reading 'out': ", "@0 512"},
      // A direct read moves whole blocks: the partial last one is read as a whole one.
      {"direct partial block", "if=in of=out ibs=512 obs=1k verify=1 dio=2",
       fake::pattern(1536), {}, SIZE_MAX, 0, 0, "3+0 records in\n1+1 records out\n",
       "@0 1024; @1024 1024"},
      // clang-format on
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fake::reset();
    fake::add_file("in", row.in);
    Bytes out = row.out;
    if (row.corrupt_at != SIZE_MAX)
      out[row.corrupt_at] ^= 1;
    const FileHandle handle = fake::add_file("out", out);
    fake::file(handle).fail_read_call = row.fail_read_call;
    const ProgramRun run = run_words(row.words);
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.err, row.err);
    // Read where each block was written, with no seek of the output before or after: the
    // writes keep their own offset.
    const std::string output_calls[] = {"pread " + std::to_string(handle) + " ",
                                        "read " + std::to_string(handle) + " ",
                                        "seek " + std::to_string(handle) + " "};
    std::string reads, others;
    for (const std::string& line : fake::sys().log) {
      if (line.rfind(output_calls[0], 0) == 0) {
        const std::string length_at = line.substr(output_calls[0].size());
        const std::size_t space = length_at.find(' ');
        reads += (reads.empty() ? "" : "; ") + length_at.substr(space + 1) + " " +
                 length_at.substr(0, space);
      } else if (line.rfind(output_calls[1], 0) == 0 || line.rfind(output_calls[2], 0) == 0) {
        others += line + "; ";
      }
    }
    EXPECT_EQ(reads, row.reads);
    EXPECT_EQ(others, "");
    // A check-only pass writes nothing.
    if (row.words.find("verify=2") != std::string::npos) {
      EXPECT_EQ(fake::file(handle).data, out);
    }
  }
}

}  // namespace
}  // namespace kolvane

#include "engine/copy_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "run/run_files.h"

namespace kolvane {
namespace {

constexpr std::uint64_t kNone = UINT64_MAX;

// What an entry makes of its reads, as one line: per read its record (F full, P partial, E the
// end of the input, X past the end on the first read) and the output blocks that follow it
// ("s" written straight from the read, "b" from the output buffer, then the length, "p" when
// partial); "." where the entry ends after a read, then the block its end leaves.
std::string trace(const CopyRules& rules, const std::vector<std::uint64_t>& reads,
                  bool ended_before) {
  alignas(kBufferAlignment) static unsigned char in[8192];
  std::vector<unsigned char> out(rules.obs);
  EntryCopy copy(rules, out.data());
  if (copy.copies_nothing())
    return "nothing";
  std::string line;
  const auto blocks = [&] {
    while (const auto block = copy.next())
      line += std::string(block->data == out.data() ? " b" : " s") + std::to_string(block->length) +
              (block->partial ? "p" : "");
  };
  for (const std::uint64_t read : reads) {
    const ReadTaken taken = copy.took(read, in);
    line += (line.empty() ? "" : " ") + std::string(1, "XEPF"[static_cast<int>(taken.record)]);
    if (taken.record == ReadRecord::past_eof || taken.record == ReadRecord::end_of_input)
      break;
    blocks();
    if (copy.ends_after_read(ended_before, ended_before)) {
      line += " .";
      break;
    }
  }
  copy.finish();
  blocks();
  return line;
}

TEST(CopyRules, ReadsMakeTheseBlocksAndEndTheEntryHere) {
  // clang-format off
  const struct { std::uint64_t ibs, obs, count, limit; bool direct, ended_before;
                 std::vector<std::uint64_t> reads; const char* want; std::uint64_t copy_reads;
  } rows[] = {
      {512, 512, 2, kNoLimit, false, false, {512, 512, 512}, "F s512 F s512 .", 2},
      {1024, 512, 1, kNoLimit, false, false, {1024, 1024}, "F s512 s512 .", 1},
      {1000, 512, 1, kNoLimit, false, false, {1000}, "F s512 . b488p", 1},
      {512, 768, 2, kNoLimit, false, false, {512, 512}, "F F b768 . b256p", 2},
      // A short read is a partial record, which does not count toward count=.
      {512, 512, 2, kNoLimit, false, false, {300, 300, 300, 100, 0}, "P P b512 P P E b488p", 2},
      // Unaligned bytes go through the output buffer when written direct.
      {1000, 512, 2, kNoLimit, false, false, {1000, 1000}, "F s512 F b512 s512 . b464p", 2},
      {1000, 512, 2, kNoLimit, true, false, {1000, 1000}, "F s512 F b512 b512 . b464p", 2},
      {512, 512, 0, kNoLimit, false, false, {512}, "nothing", 0},
      // Without a count: to the end of the input, or of its measured size.
      {512, 512, kNone, kNoLimit, false, false, {512, 512, 0}, "F s512 F s512 E", UINT64_MAX},
      {512, 512, kNone, kNoLimit, false, false, {0}, "X", UINT64_MAX},
      {512, 512, kNone, 1000, false, false, {512, 512}, "F s512 P . b488p", 2},
      {512, 512, kNone, 1024, false, false, {512, 512}, "F s512 F s512 .", 2},
      {4096, 512, kNone, 100, false, false, {4096}, "P . b100p", 1},
      {512, 512, kNone, 0, false, false, {512}, "X", 1},
      // An entry after the run met the end of the input and wrote a block: one read's worth.
      {512, 1024, 4, kNoLimit, false, true, {512, 512}, "F . b512p", 4}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.ibs << " " << r.obs << " " << r.count << " " << r.limit
                                    << (r.direct ? " direct" : ""));
    const CopyRules rules{.ibs = r.ibs,
                          .obs = r.obs,
                          .direct_writes = r.direct,
                          .counted = r.count != kNone,
                          .max_records = r.count,
                          .input_limit = r.limit};
    EXPECT_EQ(trace(rules, r.reads, r.ended_before), r.want);
    EXPECT_EQ(rules.copy_reads(), r.copy_reads);
  }
}

}  // namespace
}  // namespace kolvane

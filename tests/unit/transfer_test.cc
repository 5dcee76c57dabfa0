#include "engine/transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fake_backend.h"
#include "run_owners_calls.h"

namespace kolvane {
namespace {

using Totals = std::array<std::uint64_t, 4>;  // in full, in partial, out full, out partial
using Bytes = std::vector<unsigned char>;
constexpr std::uint64_t kWhole = UINT64_MAX, kNone = kNoCount;

Totals totals(const RunOwners& st) {
  const RecordTotals& t = st.transfer.totals;
  return {t.r_full_total, t.r_partial_total, t.w_full_total, t.w_partial_total};
}

// The fake's log lines that start with `kind` ("" for all of them), joined by "; ".
std::string calls(const std::string& kind) {
  std::string found;
  for (const std::string& line : fake::sys().log) {
    if (line.rfind(kind, 0) == 0)
      found += (found.empty() ? "" : "; ") + line;
  }
  return found;
}

// Read calls of either kind: "read" on a standard stream, "pread" on a file opened by name.
std::size_t reads() {
  const auto& log = fake::sys().log;
  return static_cast<std::size_t>(
      std::count_if(log.begin(), log.end(), [](const std::string& line) {
        return line.rfind("read", 0) == 0 || line.rfind("pread", 0) == 0;
      }));
}

class TransferTest : public testing::Test {
 protected:
  // Input "in" (handle 3) of `size` pattern bytes and an empty output "out" (handle 4), both
  // open; ibs = obs = 512, count=2. Not `named`: they are standard input and output instead.
  void fresh(std::size_t size, bool named = true) {
    state.emplace();
    fake::reset();
    s = named ? Settings{.input_file = "in", .output_file = "out"} : Settings{};
    s.input_blocksize = s.output_blocksize = 512;
    s.max_records = 2;
    state->context.shape.count_given = true;
    input = fake::pattern(size);
    state->files.input.reset(fake::add_file("in", input));
    state->files.output.reset(fake::add_file("out", {}));
  }
  int run(const PlanEntry& entry = {}) { return run_entry(*state, s, entry, posix_profile); }
  // The input's bytes [from, to) followed by [from2, to2).
  Bytes in_range(std::size_t from, std::size_t to, std::size_t from2 = 0, std::size_t to2 = 0) {
    Bytes b(input.begin() + static_cast<long>(from), input.begin() + static_cast<long>(to));
    b.insert(b.end(), input.begin() + static_cast<long>(from2),
             input.begin() + static_cast<long>(to2));
    return b;
  }
  const Bytes& output() { return fake::file(4).data; }

  std::optional<RunOwners> state;
  Settings s;
  Bytes input;
};

TEST_F(TransferTest, EveryByteReadIsWrittenReblocked) {
  // clang-format off
  const struct { std::uint64_t ibs, obs, count; std::size_t size; std::uint64_t read_limit;
                 std::size_t reads; Totals want; std::size_t bytes; } rows[] = {
      {1024, 512, 1, 4096, kWhole, 1, {1, 0, 2, 0}, 1024},
      {1024, 512, 2, 4096, kWhole, 2, {2, 0, 4, 0}, 2048},
      {1000, 512, 1, 4096, kWhole, 1, {1, 0, 1, 1}, 1000},
      {512, 768, 2, 4096, kWhole, 2, {2, 0, 1, 1}, 1024},
      {512, 1024, 3, 4096, kWhole, 3, {3, 0, 1, 1}, 1536},
      {512, 512, kNone, 1636, kWhole, 5, {3, 1, 3, 1}, 1636},
      {512, 512, kNone, 100, kWhole, 2, {0, 1, 0, 1}, 100},
      {512, 512, 0, 4096, kWhole, 0, {0, 0, 0, 0}, 0},
      // Short reads are partial records: they do not count toward count=.
      {512, 512, 2, 1000, 300, 5, {0, 4, 1, 1}, 1000}};
  // clang-format on
  for (const auto& r : rows) {
    for (const bool named : {true, false}) {
      SCOPED_TRACE(testing::Message() << r.ibs << " " << r.obs << " " << r.count << " " << r.size
                                      << (named ? " named" : " standard streams"));
      fresh(r.size, named);
      s.input_blocksize = r.ibs;
      s.output_blocksize = r.obs;
      state->context.shape.count_given = r.count != kNone;
      s.max_records = state->context.shape.count_given ? r.count : r.size / r.ibs;
      fake::file(3).read_limit = r.read_limit;
      EXPECT_EQ(run(), 0);
      EXPECT_EQ(reads(), r.reads);
      EXPECT_EQ(totals(*state), r.want);
      EXPECT_EQ(output(), in_range(0, r.bytes));
    }
  }
}

TEST_F(TransferTest, OnlyAPartialBlockToADirectOutputIsWrittenAsATail) {
  for (const std::uint32_t dio : {0u, 1u}) {
    fresh(1636);
    state->context.shape.count_given = false;
    s.max_records = 3;
    s.w_dio = dio;
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(calls("pwrite"),
              std::string("pwrite 4 512 @0; pwrite 4 512 @512; pwrite 4 512 @1024; "
                          "pwrite 4 100 @1536") +
                  (dio != 0 ? " tail" : ""));
  }
}

TEST_F(TransferTest, ZeroSourceWritesWholeInputBlocks) {
  fresh(0);
  state->files.input.reset(kNoFile);
  s.input_file = kZeroSource;
  s.input_blocksize = 4096;
  ASSERT_EQ(run(), 0);
  EXPECT_EQ(calls("pwrite"), "pwrite 4 4096 @0; pwrite 4 4096 @4096");
  EXPECT_EQ(calls("read") + calls("pread"), "");
  EXPECT_EQ(totals(*state), (Totals{2, 0, 2, 0}));
  EXPECT_EQ(output(), Bytes(8192, 0));
}

// The null sink takes no write calls, from a copy or from the zero source, re-blocked or not;
// its blocks are counted as written all the same.
TEST_F(TransferTest, TheNullSinkTakesNoWriteCalls) {
  const struct {
    bool zero_source;
    std::uint64_t ibs, obs;
    Totals expected;
  } rows[] = {
      {false, 512, 512, {2, 0, 2, 0}},
      {false, 512, 384, {2, 0, 2, 1}},
      {true, 4096, 4096, {2, 0, 2, 0}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.zero_source << " " << row.ibs << " " << row.obs);
    fresh(4096);
    s.output_file = kNullSink;
    s.input_blocksize = row.ibs;
    s.output_blocksize = row.obs;
    if (row.zero_source) {
      state->files.input.reset(kNoFile);
      s.input_file = kZeroSource;
    }
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(calls("write") + calls("pwrite"), "");
    EXPECT_EQ(totals(*state), row.expected);
    EXPECT_TRUE(output().empty());
  }
}

TEST_F(TransferTest, EntriesAccumulateAndRunFlagsEndALaterEntryAfterItsFirstPass) {
  fresh(1300);
  s.output_blocksize = 1024;
  s.max_records = 4;
  state->files.apply_skip = true;
  ASSERT_EQ(run(), 0);  // reads 512, 512, 276, then meets the end
  EXPECT_TRUE(state->transfer.end_of_input && state->transfer.block_written);
  ASSERT_EQ(run({512, 0}), 0);  // one read of 512, still written (as a partial block)
  EXPECT_EQ(calls("pread"),
            "pread 3 512 @0; pread 3 512 @512; pread 3 512 @1024; pread 3 512 @1300; "
            "pread 3 512 @512");
  EXPECT_EQ(calls("seek"), "");
  EXPECT_EQ(calls("alloc"), "alloc 512; alloc 1024");  // once per run
  EXPECT_EQ(totals(*state), (Totals{3, 1, 1, 2}));     // summed over the entries
  EXPECT_EQ(output(), in_range(0, 1300, 512, 1024));
}

TEST_F(TransferTest, FailuresReportAndReleaseInOrder) {
  enum Fault { kSkip, kSeek, kAlloc, kEmpty, kRead, kWrite, kZeroWrite };
  const std::string mem = "Error allocating aligned memory\n", both = "alloc 512; alloc 512; ";
  const std::string closed = "close 3; close 4; free; free";
  // clang-format off
  const struct { Fault fault; int call; const char* in_name; const char* out_name; int status;
                 std::string message, log; } rows[] = {
      // Only the standard streams are positioned by the system, and so can fail there.
      {kSkip, 0, nullptr, "out", 2, "error reading 'standard input': ", "seek 3 0; close 3; close 4"},
      {kSeek, 0, "in", nullptr, 2, "error writing to 'standard output': ", "seek 4 0; close 3; close 4"},
      {kAlloc, 1, "in", "out", 6, mem, both + "close 3; close 4; free"},
      {kAlloc, 2, "in", "out", 6, mem, both + "close 3; close 4; free"},
      {kEmpty, 0, "in", "out", 3, "error reading 'in': skipping past EOF\n", both + "pread 3 512 @0; " + closed},
      {kRead, 2, nullptr, "out", 3, "error reading 'standard input': ",
       both + "read 3 512; pwrite 4 512 @0; read 3 512; " + closed},
      {kWrite, 1, "in", "out", 3, "error writing to 'out': ", both + "pread 3 512 @0; pwrite 4 512 @0; " + closed},
      {kZeroWrite, 2, "in", nullptr, 3, "error writing to 'standard output': ",
       both + "write 4 512; write 4 512; close 4; free; free"}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.log);
    fresh(r.fault == kEmpty ? 0 : 1024);
    s.input_file = r.fault == kZeroWrite ? kZeroSource : r.in_name;
    s.output_file = r.out_name;
    if (r.fault == kZeroWrite)
      state->files.input.reset(kNoFile);
    state->files.apply_skip = fake::file(3).seek_fails = r.fault == kSkip;
    state->files.apply_seek = fake::file(4).seek_fails = r.fault == kSeek;
    fake::sys().fail_alloc_call = r.fault == kAlloc ? r.call : 0;
    fake::file(3).fail_read_call = r.fault == kRead ? r.call : 0;
    fake::file(4).fail_write_call = r.fault == kWrite || r.fault == kZeroWrite ? r.call : 0;
    fake::sys().log.clear();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(), r.status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), r.message);
    state.reset();  // the owner releases as the driver's does: input, output, plan, buffers
    EXPECT_EQ(calls(""), r.log);
    EXPECT_EQ(fake::sys().live_buffers, 0);
  }
}

// A file measured without a count is copied up to that size, however far it has grown since:
// reads still ask for whole blocks, but the bytes past the size are neither counted nor written.
TEST_F(TransferTest, AMeasuredInputIsCopiedUpToItsSize) {
  // clang-format off
  const struct { std::uint64_t limit, ibs, obs; std::size_t reads; int status; Totals want;
                 std::size_t bytes; } rows[] = {
      {1000, 512, 512, 2, 0, {1, 1, 1, 1}, 1000}, {1024, 512, 512, 2, 0, {2, 0, 2, 0}, 1024},
      {100, 4096, 512, 1, 0, {0, 1, 0, 1}, 100}, {1500, 1000, 4096, 2, 0, {1, 1, 0, 1}, 1500},
      {0, 512, 512, 1, 3, {0, 0, 0, 0}, 0}, {kNoLimit, 512, 512, 9, 0, {8, 0, 8, 0}, 4096}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.limit << " " << r.ibs << " " << r.obs);
    fresh(4096);
    state->context.shape.count_given = false;
    state->files.input_limit = r.limit;
    s.input_blocksize = r.ibs;
    s.output_blocksize = r.obs;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(), r.status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              r.status == 0 ? "" : "error reading 'in': skipping past EOF\n");
    std::string want;
    for (std::size_t i = 0; i < r.reads; ++i)
      want += (i ? "; pread 3 " : "pread 3 ") + std::to_string(r.ibs) + " @" +
              std::to_string(i * r.ibs);
    EXPECT_EQ(calls("pread"), want);
    EXPECT_EQ(totals(*state), r.want);
    EXPECT_EQ(output(), in_range(0, r.bytes));
  }
}

// An input that cannot be positioned has its skipped bytes read and dropped, exactly those:
// the copy starts right after them, and an input that ends first is past its end.
TEST_F(TransferTest, AStreamIsSkippedByReading) {
  // clang-format off
  const struct { std::uint64_t skip, read_limit; int fail_read; int status; std::string message;
                 std::size_t from; } rows[] = {
      {1000, kWhole, 0, 0, "", 1000}, {1000, 300, 0, 0, "", 1000}, {70000, kWhole, 0, 0, "", 70000},
      {0, kWhole, 0, 0, "", 0}, {4096 * 20, kWhole, 0, 3, "error reading 'in': skipping past EOF\n", 0},
      {1000, 300, 2, 3, "error reading 'in': ", 0}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.skip << " " << r.read_limit);
    fresh(4096 * 20);
    state->context.shape.count_given = false;
    state->files.apply_skip = true;
    state->files.skip_by_reading = true;
    fake::file(3).kind = FileKind::stream;
    fake::file(3).read_limit = r.read_limit;
    fake::file(3).fail_read_call = r.fail_read;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({r.skip, 0}), r.status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), r.message);
    // A named pipe or character device has no position: it is read as it comes.
    EXPECT_EQ(calls("seek") + calls("pread"), "");
    EXPECT_EQ(output(), r.status == 0 ? in_range(r.from, input.size()) : Bytes{});
  }
}

// A new output is positioned at its seek for the first entry only; the later ones follow on.
TEST_F(TransferTest, OnlyTheFirstEntryPositionsANewOutput) {
  fresh(4096);
  state->files.apply_seek = true;
  state->files.seek_first_entry_only = true;
  ASSERT_EQ(run({0, 1024}), 0);
  ASSERT_EQ(run({0, 0}), 0);
  EXPECT_EQ(calls("seek"), "");
  EXPECT_EQ(calls("pwrite"),
            "pwrite 4 512 @1024; pwrite 4 512 @1536; pwrite 4 512 @2048; pwrite 4 512 @2560");
  Bytes want(1024, 0);
  const Bytes copied = in_range(0, 2048);
  want.insert(want.end(), copied.begin(), copied.end());
  EXPECT_EQ(output(), want);
}

// A file opened by name is never positioned by the system: each block is one positioned call
// at the offset the engine keeps. Standard input and output, whose position a shell may share,
// are positioned once per entry and read and written where they stand. The bytes land alike.
TEST_F(TransferTest, OnlyTheStandardStreamsArePositionedBySeeking) {
  const std::string preads =
      "pread 3 512 @1024; pread 3 512 @1536; pread 3 512 @0; pread 3 512 @512";
  const std::string pwrites =
      "pwrite 4 512 @512; pwrite 4 512 @1024; pwrite 4 512 @0; pwrite 4 512 @512";
  const std::string reads = "read 3 512; read 3 512; read 3 512; read 3 512";
  const std::string writes = "write 4 512; write 4 512; write 4 512; write 4 512";
  // clang-format off
  const struct { const char* in; const char* out; std::string seeks, read, write; } rows[] = {
      {"in", "out", "", preads, pwrites},
      {nullptr, "out", "seek 3 1024; seek 3 0", reads, pwrites},
      {"in", nullptr, "seek 4 512; seek 4 0", preads, writes},
      {nullptr, nullptr, "seek 3 1024; seek 4 512; seek 3 0; seek 4 0", reads, writes}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.seeks);
    fresh(4096);
    s.input_file = r.in;
    s.output_file = r.out;
    state->files.apply_skip = state->files.apply_seek = true;
    ASSERT_EQ(run({1024, 512}), 0);
    ASSERT_EQ(run({0, 0}), 0);
    EXPECT_EQ(calls("seek"), r.seeks);
    EXPECT_EQ(calls("read") + calls("pread"), r.read);
    EXPECT_EQ(calls("write") + calls("pwrite"), r.write);
    EXPECT_EQ(output(), in_range(0, 1024, 1536, 2048));
  }
}

TEST_F(TransferTest, PositioningFailuresAreWordedPerPlatform) {
  const struct {
    const PlatformProfile& profile;
    bool skip;
    const char* message;
  } rows[] = {{posix_profile, true, "error reading 'standard input': "},
              {posix_profile, false, "error writing to 'standard output': "},
              {win32_profile, true, "error skipping 'standard input': "},
              {win32_profile, false, "error seeking 'standard output': "}};
  for (const auto& r : rows) {
    fresh(1024, false);
    state->files.apply_skip = fake::file(3).seek_fails = r.skip;
    state->files.apply_seek = fake::file(4).seek_fails = !r.skip;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_entry(*state, s, PlanEntry{}, r.profile), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), r.message);
  }
}

}  // namespace
}  // namespace kolvane

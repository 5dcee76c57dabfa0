#include "engine/queued.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/transfer.h"
#include "engine/verify.h"
#include "fake_backend.h"
#include "run_owners_calls.h"

namespace kolvane {
namespace {

using Totals = std::array<std::uint64_t, 4>;  // in full, in partial, out full, out partial
using Bytes = std::vector<unsigned char>;
using Entries = std::vector<PlanEntry>;
constexpr std::uint64_t kNone = kNoCount;

// What a run left behind.
struct Outcome {
  int status = 0;
  Totals totals{};
  Bytes output;
  std::string errors;
};

// One run over the fake back end: input "in" (handle 3) of `size` pattern bytes, or the zero
// source; output "out" (handle 4, `out_size` zero bytes), or the null sink.
struct Shape {
  const char* name;
  std::uint64_t ibs, obs, count;
  std::size_t size;
  Entries entries;
  bool repeats = false;
  bool zero = false;
  bool null = false;
  std::size_t out_size = 0;
};

class QueuedTest : public testing::Test {
 protected:
  void prepare(const Shape& shape, std::uint32_t depth) {
    state.emplace();
    fake::reset();
    s = Settings{.input_file = shape.zero ? kZeroSource : "in",
                 .output_file = shape.null ? kNullSink : "out"};
    s.input_blocksize = shape.ibs;
    s.output_blocksize = shape.obs;
    s.io_depth = depth;
    state->context.shape.count_given = shape.count != kNone;
    s.max_records = state->context.shape.count_given ? shape.count : kNoCount;
    state->context.shape.iterations_given = shape.repeats;
    // As the plan has it: the zero source and the null sink are never positioned.
    state->files.apply_skip = !shape.zero;
    state->files.apply_seek = !shape.null;
    const FileHandle in = fake::add_file("in", fake::pattern(shape.size));
    if (!shape.zero)
      state->files.input.reset(in);
    if (!state->context.shape.count_given)
      state->files.input_limit = shape.size;
    state->files.output.reset(fake::add_file("out", Bytes(shape.out_size, 0)));
  }

  Outcome outcome(int status) {
    Outcome o;
    o.status = status;
    const RecordTotals& t = state->transfer.totals;
    o.totals = {t.r_full_total, t.r_partial_total, t.w_full_total, t.w_partial_total};
    o.output = fake::file(4).data;
    return o;
  }

  // The synchronous transfer, entry by entry, as the driver runs it at depth 1.
  Outcome one_at_a_time(const Shape& shape) {
    prepare(shape, 1);
    int status = 0;
    for (const PlanEntry& e : shape.entries) {
      status = run_entry(*state, s, e, posix_profile);
      if (status != 0)
        break;
    }
    return outcome(status);
  }

  // The queued transfer; `script` says how the fake queue completes its I/Os.
  Outcome queued(const Shape& shape, std::uint32_t depth, const fake::QueueScript& script = {}) {
    prepare(shape, depth);
    fake::sys().queue = script;
    return run_prepared(shape);
  }

  Outcome run_prepared(const Shape& shape) {
    std::size_t next = 0;
    const EntrySource source = [&](PlanEntry& entry) {
      if (next == shape.entries.size())
        return false;
      entry = shape.entries[next++];
      return true;
    };
    testing::internal::CaptureStderr();
    decide_sides(*state, s);
    const int status = told(run_queued(state->files, state->transfer, state->context, s, source));
    Outcome o = outcome(status);
    o.errors = testing::internal::GetCapturedStderr();
    return o;
  }

  // verify=1 (each block read back and checked) at `depth`, 1 being the synchronous transfer;
  // the writes at `lost` are reported done and store nothing.
  Outcome read_back(const Shape& shape, std::uint32_t depth, const std::set<std::uint64_t>& lost,
                    const fake::QueueScript& script = {}) {
    prepare(shape, depth);
    s.verify = kVerifyReadBack;
    s.conv = kConvNotrunc;
    fake::sys().queue = script;
    fake::file(4).lost_writes_at = lost;
    OutputCheck check;
    EXPECT_EQ(told(check.start(s, state->context.shape, state->files.output.get(), posix_profile)),
              0);
    state->context.check = &check;
    Outcome o;
    if (depth > 1) {
      o = run_prepared(shape);
    } else {
      testing::internal::CaptureStderr();
      int status = 0;
      for (const PlanEntry& e : shape.entries)
        if ((status = run_entry(*state, s, e, posix_profile)) != 0)
          break;
      o = outcome(status);
      o.errors = testing::internal::GetCapturedStderr();
    }
    testing::internal::CaptureStderr();
    if (o.status == 0 || o.status == kExitVerify)
      o.status = told(check.conclude());
    o.errors += testing::internal::GetCapturedStderr();
    state->context.check = nullptr;
    return o;
  }

  // The log's lines from the first one holding `from` on.
  static std::vector<std::string> log_from(const std::string& from) {
    const auto& log = fake::sys().log;
    std::vector<std::string> tail;
    for (const std::string& line : log) {
      if (!tail.empty() || line.find(from) != std::string::npos)
        tail.push_back(line);
    }
    return tail;
  }

  std::optional<RunOwners> state;
  Settings s;
};

// Completion orders the queue may deliver in, from the kindest to the least kind.
struct Order {
  const char* name;
  bool newest_first;
  std::size_t reap_limit;
};
constexpr Order kOrders[] = {{"oldest first", false, SIZE_MAX},
                             {"newest first", true, SIZE_MAX},
                             {"one by one, newest", true, 1}};

// Calls `run(depth, script)` at depths 2, 3 and 8 with each completion order, traced.
template <typename Run>
void at_every_depth(const char* name, const Run& run) {
  for (const std::uint32_t depth : {2u, 3u, 8u}) {
    for (const Order& order : kOrders) {
      SCOPED_TRACE(testing::Message() << name << ", depth " << depth << ", " << order.name);
      fake::QueueScript script;
      script.newest_first = order.newest_first;
      script.reap_limit = order.reap_limit;
      run(depth, script);
    }
  }
}

TEST_F(QueuedTest, SameRecordsAndBytesAsOneAtATime) {
  // clang-format off
  const Shape shapes[] = {
      {"copy", 512, 512, 8, 4096, {{0, 0}}},
      {"copy to the size", 512, 512, kNone, 1636, {{0, 0}}},
      {"count past the end", 512, 512, 10, 3000, {{0, 0}}},
      {"copy at skip and seek", 512, 512, 4, 4096, {{1024, 512}}},
      {"zero source copy", 512, 512, 5, 0, {{0, 1024}}, false, true},
      {"copy to the null sink", 512, 512, kNone, 2000, {{0, 0}}, false, false, true},
      {"count=0", 512, 512, 0, 4096, {{0, 0}}},
      {"iterations", 512, 512, 2, 8192, {{0, 0}, {2048, 1024}, {1024, 3072}, {3072, 2048}}, true,
       false, false, 4096},
      {"iterations re-blocked", 1000, 512, 2, 8192, {{0, 0}, {2000, 4096}, {4000, 8192}}, true,
       false, false, 10000},
      {"iterations of zeros", 512, 1024, 3, 0, {{0, 0}, {0, 4096}, {0, 2048}}, true, true, false,
       8192},
      {"iterations to the null sink", 512, 1000, 2, 8192, {{0, 0}, {4096, 0}, {512, 0}}, true,
       false, true}};
  // clang-format on
  for (const Shape& shape : shapes) {
    const Outcome want = one_at_a_time(shape);
    ASSERT_EQ(want.status, 0) << shape.name;
    at_every_depth(shape.name, [&](std::uint32_t depth, const fake::QueueScript& script) {
      const Outcome got = queued(shape, depth, script);
      EXPECT_EQ(got.status, 0);
      EXPECT_EQ(got.errors, "");
      EXPECT_EQ(got.totals, want.totals);
      EXPECT_EQ(got.output, want.output);
      EXPECT_LE(fake::sys().most_pending, depth);
      state.reset();
      EXPECT_EQ(fake::sys().destroyed_in_flight, 0);
      EXPECT_EQ(fake::sys().freed_in_flight, 0);
      EXPECT_EQ(fake::sys().live_buffers, 0);
    });
  }
}

// The queue is kept full: with completions that come one at a time, the others still in
// flight, each is refilled as it is seen, every hand-over carries one I/O, and `depth` I/Os are
// in flight until the run has nothing left to start (a copy of many blocks, or iterations).
TEST_F(QueuedTest, KeepsDepthIosInFlight) {
  const Shape copy{"copy", 512, 512, 64, 65536, {{0, 0}}};
  const Shape entries{"iterations", 512,   512, 1, 65536, Entries(64, PlanEntry{0, 0}),
                      true,         false, true};
  constexpr std::uint32_t kDepth = 6;
  for (const Shape* shape : {&copy, &entries}) {
    SCOPED_TRACE(shape->name);
    fake::QueueScript script;
    script.reap_limit = 1;
    ASSERT_EQ(queued(*shape, kDepth, script).status, 0);
    EXPECT_EQ(fake::sys().most_pending, kDepth);
    std::uint32_t in_flight = 0, reads = 0;
    for (const std::string& line : fake::sys().log) {
      if (line.rfind("queue read ", 0) == 0) {
        ++reads;
      } else if (line.rfind("submit ", 0) == 0) {
        EXPECT_EQ(line, "submit 1");
        ++in_flight;
      } else if (line.rfind("reap ", 0) == 0) {
        if (reads < 64) {
          EXPECT_EQ(in_flight, kDepth) << "before the last block started";
        }
        in_flight -= static_cast<std::uint32_t>(std::stoul(line.substr(5)));
      }
    }
    EXPECT_EQ(reads, 64u);
  }
}

// A short read is a partial record where the input ends; a short write goes on where it ended,
// so the bytes and the records are those of a whole one.
TEST_F(QueuedTest, ShortCompletions) {
  const Shape copy{"copy", 512, 512, 4, 2048, {{0, 0}}};
  const Shape entries{"iterations",           512,  512,   2,     4096,
                      {{0, 0}, {1024, 1024}}, true, false, false, 2048};
  // clang-format off
  const struct { const Shape* shape; std::map<int, std::uint64_t> short_at; Totals want;
                 std::size_t bytes; } rows[] = {
      // I/O 4 is the last block's read: the copy ends with it, a partial record.
      {&copy, {{4, 100}}, {3, 1, 3, 1}, 1636},
      // I/O 5 is the first block's write (the reads come first): the rest follows it.
      {&copy, {{5, 100}}, {4, 0, 4, 0}, 2048},
      {&copy, {{5, 1}, {6, 511}}, {4, 0, 4, 0}, 2048},
      // I/O 3 is the first entry's first write, I/O 4 the second's.
      {&entries, {{3, 200}, {4, 1}}, {4, 0, 4, 0}, 2048}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.shape->name);
    const Outcome whole = one_at_a_time(*r.shape);
    fake::QueueScript script;
    script.short_at = r.short_at;
    const Outcome run = queued(*r.shape, 4, script);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.totals, r.want);
    EXPECT_EQ(run.output.size(), r.bytes);
    EXPECT_TRUE(std::equal(run.output.begin(), run.output.begin() + static_cast<long>(r.bytes),
                           whole.output.begin()));
  }
}

}  // namespace
}  // namespace kolvane

namespace kolvane {
namespace {

// A failure is a value either engine hands up unprinted, so that the driver, or whatever runs
// an engine on a thread of its own, prints it once: the whole line, the system's text included.
TEST_F(QueuedTest, EitherEngineHandsItsFailureUpUnprinted) {
  const Shape copy{"copy", 512, 512, 8, 4096, {{0, 0}}};
  for (const std::uint32_t depth : {1u, 4u}) {
    SCOPED_TRACE(depth);
    prepare(copy, depth);
    fake::file(3).fail_read_call = 2;
    fake::sys().queue.fail_at[2] = 5;
    bool given = false;
    const EntrySource source = [&given](PlanEntry& entry) {
      entry = {};
      return !std::exchange(given, true);
    };
    testing::internal::CaptureStderr();
    const Failure failure =
        make_transfer_engine(state->files, state->transfer, state->context, s, posix_profile)
            ->run(source);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(failure.status, kExitReadWrite);
    const std::string system_text = depth == 1 ? "" : "fake failure";
    EXPECT_EQ(failure.message, "error reading 'in': " + system_text + (depth == 1 ? "" : "\n"));
    EXPECT_EQ(failure.line(), "error reading 'in': " + system_text);
  }
}

// The first failure reaped ends the run with the synchronous copy's message and status: what
// completed with or before it counts, nothing is submitted after it, every I/O in flight is
// reaped before the queue and the buffers go.
TEST_F(QueuedTest, TheFirstFailureEndsTheRun) {
  const Shape copy{"copy", 512, 512, 8, 4096, {{0, 0}}};
  const Shape entries{"iterations", 512, 512, 2, 4096, {{0, 0}, {1024, 1024}, {2048, 2048}}, true};
  const Shape empty{"empty input", 512, 512, kNone, 0, {{0, 0}}};
  const std::string read = "error reading 'in': fake failure\n";
  const std::string write = "error writing to 'out': fake failure\n";
  // clang-format off
  const struct { const char* why; const Shape* shape; std::uint32_t depth; int fail_at;
                 std::size_t reap_limit; int status; std::string errors; Totals want;
                 std::size_t written; } rows[] = {
      // Reads 1-4 come back together; blocks 0 and 1 count, nothing is written.
      {"read", &copy, 4, 3, SIZE_MAX, 3, read, {2, 0, 0, 0}, 0},
      // Reads 1, 2, then writes 3, 4: the first write counts.
      {"write", &copy, 2, 4, SIZE_MAX, 3, write, {2, 0, 1, 0}, 512},
      // Read 1 fails alone; reads 2-4 still in flight are reaped and not counted.
      {"read reaped alone", &copy, 4, 1, 1, 3, read, {0, 0, 0, 0}, 0},
      // Entries 1-3 read together; the second fails; the first's and third's reads count.
      {"entry read", &entries, 3, 2, SIZE_MAX, 3, read, {2, 0, 0, 0}, 0},
      // The same, the third's read reaped after the failure: it counts, and the write the
      // first entry queued before the failure is never handed over.
      {"entry read, one still in flight", &entries, 3, 2, 2, 3, read, {2, 0, 0, 0}, 0},
      {"empty input", &empty, 4, 0, SIZE_MAX, 3, "error reading 'in': skipping past EOF\n",
       {0, 0, 0, 0}, 0}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    fake::QueueScript script;
    if (r.fail_at != 0)
      script.fail_at[r.fail_at] = 5;
    script.reap_limit = r.reap_limit;
    const Outcome got = queued(*r.shape, r.depth, script);
    EXPECT_EQ(got.status, r.status);
    EXPECT_EQ(got.errors, r.errors);
    EXPECT_EQ(got.totals, r.want);
    EXPECT_EQ(got.output.size(), r.written);
    // Once the failure is reaped: no submission, only reaps.
    if (r.fail_at != 0) {
      const std::vector<std::string> after = log_from("failed " + std::to_string(r.fail_at));
      ASSERT_FALSE(after.empty());
      for (const std::string& line : after) EXPECT_NE(line.rfind("submit", 0), 0u) << line;
    }
    state.reset();
    EXPECT_EQ(fake::sys().destroyed_in_flight, 0);
    EXPECT_EQ(fake::sys().freed_in_flight, 0);
    EXPECT_EQ(fake::sys().live_queues, 0);
    EXPECT_EQ(fake::sys().live_buffers, 0);
  }
}

}  // namespace
}  // namespace kolvane

namespace kolvane {
namespace {

// verify=1 with writes the device reports done and never stored: at every depth and completion
// order, one verdict, for the bad block first in plan order, after the records one block at a
// time counts. Entries whose output ranges overlap never call good blocks bad: the later waits.
TEST_F(QueuedTest, AFailedCheckEndsAsOneAtATime) {
  const Entries apart{{0, 0}, {1024, 2048}, {2048, 4096}, {3072, 6144}};
  // (The input's bytes repeat every 256: these skips put other bytes on the same place.)
  const Entries overlapping{{0, 0}, {1000, 512}, {2100, 1024}, {500, 256}, {3050, 0}};
  // clang-format off
  const struct { const char* name; Entries entries; std::set<std::uint64_t> lost; int status; }
      rows[] = {
      // The second entry's second block and the fourth entry's first.
      {"two entries' blocks", apart, {2560, 6144}, 9},
      {"the first entry's last block", apart, {512, 4096, 6656}, 9},
      {"overlapping entries", overlapping, {}, 0},
      {"overlapping entries, one lost", overlapping, {1024 + 512}, 9}};
  // clang-format on
  for (const auto& r : rows) {
    const Shape shape{r.name, 512, 512, 2, 8192, r.entries, true, false, false, 8192};
    const Outcome want = read_back(shape, 1, r.lost);
    EXPECT_EQ(want.status, r.status) << r.name << ": " << want.errors;
    at_every_depth(r.name, [&](std::uint32_t depth, const fake::QueueScript& script) {
      const Outcome got = read_back(shape, depth, r.lost, script);
      EXPECT_EQ(got.status, want.status);
      EXPECT_EQ(got.errors, want.errors);
      EXPECT_EQ(got.totals, want.totals);
    });
  }
}

// Before any I/O: a queue the system refuses is never replaced by synchronous calls, and the
// buffers' allocation fails as at depth 1.
TEST_F(QueuedTest, NothingMovesWithoutTheQueueOrTheBuffers) {
  const Shape copy{"copy", 512, 512, 8, 4096, {{0, 0}}};
  const struct {
    bool refuse;
    int fail_alloc;
    int status;
    const char* errors;
  } rows[] = {{true, 0, 2, "io_uring is not available: Operation not permitted\n"},
              {false, 1, 6, "Error allocating aligned memory\n"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.errors);
    prepare(copy, 4);
    fake::sys().queue.refuse = r.refuse;
    fake::sys().fail_alloc_call = r.fail_alloc;
    const Outcome got = run_prepared(copy);
    EXPECT_EQ(got.status, r.status);
    EXPECT_EQ(got.errors, r.errors);
    EXPECT_EQ(got.totals, (Totals{0, 0, 0, 0}));
    EXPECT_EQ(fake::file(3).reads, 0);
    EXPECT_TRUE(got.output.empty());
    state.reset();
    EXPECT_EQ(fake::sys().live_buffers, 0);
  }
}

}  // namespace
}  // namespace kolvane

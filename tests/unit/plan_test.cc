#include "plan/plan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "fake_backend.h"
#include "run_owners_calls.h"

namespace kolvane {
namespace {

constexpr std::uint64_t k62 = std::uint64_t{1} << 62;
const char* const kInputSmall =
    "error: the input file size is too small for the specified count, blocksize and skip values\n";
const char* const kOutputSmall =
    "error: the output file size is too small for the specified count, blocksize and seek values\n";

std::vector<int> g_rand;
std::size_t g_used = 0;

int scripted_rand() {
  if (g_used < g_rand.size())
    return g_rand[g_used++];
  ADD_FAILURE() << "more random values drawn than scripted";
  return 0;
}

// A real input with a count and, when out_size is not negative, an existing output opened
// without truncation.
void open_files(RunOwners& st, Settings& s, std::uint64_t in_size, std::int64_t out_size) {
  s.input_file = "in";
  s.output_file = "out";
  st.context.shape.count_given = true;
  st.files.input.reset(fake::add_file("in", std::vector<unsigned char>(in_size)));
  if (out_size < 0)
    return;
  st.files.output.reset(fake::add_file("out", std::vector<unsigned char>(out_size)));
  st.files.output_preexists = true;
}

int calibrate(RunOwners& st, Settings& s) {
  const int status = calibrate_input(st, s, posix_profile);
  return status != 0 ? status : calibrate_output(st, s, posix_profile);
}

class PlanTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    g_rand.clear();
    g_used = 0;
  }
  // Every run a case plans draws the scripted values, so that a draw nobody scripted fails.
  static void script(RunOwners& st) { st.context.random.script(&scripted_rand); }
};

TEST_F(PlanTest, CalibrationRefusesFilesTooSmallOrBeyondTheDigitModel) {
  // With iterations= a side needs (offset + count) x block + 2 bytes, the output's count in
  // blocks of the larger size; without, the input needs (skip + count) x ibs and the output
  // is not measured at all.
  // clang-format off
  const struct { bool output, iterations; std::uint64_t ibs, obs, count, skip, size; int status; } rows[] = {
      {false, true, 512, 1, 3, 2, 2561, 5}, {false, true, 512, 1, 3, 2, 2562, 0},
      {false, false, 512, 1, 3, 2, 2559, 5}, {false, false, 512, 1, 3, 2, 2560, 0},
      {false, false, 512, 1, 0, 0, 0, 0},
      {true, true, 1, 512, 3, 2, 2561, 5}, {true, true, 1, 512, 3, 2, 2562, 0},
      {true, true, 1, 512, 0, 0, 1, 5}, {true, true, 1, 512, 0, 0, 2, 0},
      {true, true, 1024, 512, 3, 2, 4097, 5}, {true, true, 1024, 512, 3, 2, 4098, 0},
      {true, false, 1, 512, 3, 2, 0, 0},
      // Each of these wraps the digit subtraction to a range that looks valid.
      {false, true, 4, 1, k62, 0, 4096, 5}, {false, true, 4, 1, 1, k62, 4096, 5},
      {false, true, 2, 1, k62 - 1, k62 - 1, 4096, 5}, {false, false, 4, 1, k62, 0, 4096, 5},
      {true, true, 1, 4, k62, 0, 4096, 5}, {true, true, 1, 4, 1, k62, 4096, 5},
      {true, true, 1, 2, k62 - 1, k62 - 1, 4096, 5},
      // An offset beyond 2^63 - 1 bytes, measured or not.
      {false, false, 4, 1, 1, k62 * 2, 4096, 5}, {true, false, 1, 4, 1, k62 * 2, 4096, 5},
      {true, false, 1, 4, 1, k62 / 4, 4096, 0}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message()
                 << r.output << r.iterations << " count " << r.count << " size " << r.size);
    RunOwners st;
    script(st);
    Settings s{.input_blocksize = r.ibs,
               .output_blocksize = r.obs,
               .skip_records = r.skip,
               .seek_records = r.skip,
               .max_records = r.count};
    open_files(st, s, r.size, r.output ? static_cast<std::int64_t>(r.size) : -1);
    st.context.shape.iterations_given = r.iterations;
    testing::internal::CaptureStderr();
    EXPECT_EQ(
        r.output ? calibrate_output(st, s, posix_profile) : calibrate_input(st, s, posix_profile),
        r.status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              r.status == 0 ? "" : (r.output ? kOutputSmall : kInputSmall));
  }
}

TEST_F(PlanTest, SizeQueryFailureIsStatus4) {
  // clang-format off
  const struct { bool output, count; const char* name; std::string shown; } rows[] = {
      {false, true, "in", "in"}, {false, false, nullptr, "standard input"},
      {true, true, "out", "out"}, {true, true, nullptr, "standard output"}};
  // clang-format on
  for (const auto& r : rows) {
    RunOwners st;
    script(st);
    Settings s{.input_blocksize = 512, .output_blocksize = 512, .max_records = 1};
    open_files(st, s, 4096, 4096);
    st.context.shape.count_given = r.count;
    st.context.shape.iterations_given = r.output;  // only then is an existing output measured
    (r.output ? s.output_file : s.input_file) = r.name;
    fake::file((r.output ? st.files.output : st.files.input).get()).size_fails = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(calibrate(st, s), 4);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "error getting the size of '" + r.shown + "': ");
  }
}

// skip= and seek= are never ignored: each side is positioned, or read past, where the words
// ask, and a file measured without a count bounds the copy.
TEST_F(PlanTest, EachSideIsPositionedWhereTheWordsAsk) {
  constexpr std::uint64_t kAll = kNoLimit;
  // clang-format off
  const struct { const char* name; FileKind kind; bool count, iterations; std::uint64_t skip;
                 std::size_t size; bool apply, by_reading; std::uint64_t limit; std::uint64_t offset;
                 const char* log; } inputs[] = {
      {"plain copy", FileKind::regular, false, false, 0, 1636, false, false, 1636, 0, "size 3"},
      {"skip", FileKind::regular, false, false, 2, 1636, true, false, 612, 1024, "size 3"},
      {"skip to the end", FileKind::regular, false, false, 4, 2048, true, false, 0, 2048, "size 3"},
      {"skip past the end", FileKind::regular, false, false, 5, 2048, true, false, 0, 2560, "size 3"},
      {"size 0", FileKind::regular, false, false, 1, 0, true, false, kAll, 512, "size 3"},
      {"device", FileKind::device, false, false, 1, 4096, true, false, 3584, 512, "size 3"},
      {"count", FileKind::regular, true, false, 0, 4096, true, false, kAll, 0, "size 3"},
      {"count, skip", FileKind::regular, true, false, 2, 4096, true, false, kAll, 1024, "size 3"},
      {"pipe", FileKind::stream, false, false, 0, 0, false, true, kAll, 0, ""},
      {"pipe, skip", FileKind::stream, false, false, 3, 0, true, true, kAll, 1536, ""},
      {"pipe, count", FileKind::stream, true, false, 3, 0, true, true, kAll, 1536, ""},
      {"iterations", FileKind::regular, true, true, 1, 1538, true, false, kAll, 512, "size 3"}};
  // clang-format on
  for (const auto& r : inputs) {
    SCOPED_TRACE(r.name);
    fake::reset();
    RunOwners st;
    script(st);
    Settings s{.input_blocksize = 512,
               .output_blocksize = 512,
               .skip_records = r.skip,
               .max_records = r.count ? 2 : kNoCount};
    open_files(st, s, r.size, -1);
    fake::file(st.files.input.get()).kind = r.kind;
    st.context.shape.count_given = r.count;
    st.context.shape.iterations_given = r.iterations;
    ASSERT_EQ(calibrate_input(st, s, posix_profile), 0);
    EXPECT_EQ(std::tuple(st.files.apply_skip, st.files.skip_by_reading, st.files.input_limit),
              std::tuple(r.apply, r.by_reading, r.limit));
    EXPECT_EQ(fake::sys().log.empty() ? "" : fake::sys().log.back(), r.log);
    ASSERT_EQ(build_plan(st, s), 0);
    EXPECT_EQ(st.plan.entries[0].skip_offset, r.offset);
  }
  // clang-format off
  const struct { const char* name; FileKind kind; bool preexists, iterations; std::uint64_t seek;
                 bool apply, first_only; std::vector<std::uint64_t> offsets; } outputs[] = {
      {"new", FileKind::regular, false, false, 0, false, false, {0}},
      {"new, seek", FileKind::regular, false, false, 3, true, false, {1536}},
      {"new, seek, iterations", FileKind::regular, false, true, 3, true, true, {1536, 0, 0}},
      {"new, iterations", FileKind::regular, false, true, 0, false, false, {0, 0, 0}},
      {"existing", FileKind::regular, true, false, 0, true, false, {0}},
      {"existing, seek", FileKind::regular, true, false, 3, true, false, {1536}},
      {"existing, iterations", FileKind::regular, true, true, 3, true, false, {1536, 1536, 1536}},
      {"pipe", FileKind::stream, false, false, 0, false, false, {0}},
      {"pipe, seek", FileKind::stream, false, false, 3, true, false, {1536}},
      {"existing pipe", FileKind::stream, true, false, 0, false, false, {0}}};
  // clang-format on
  for (const auto& r : outputs) {
    SCOPED_TRACE(r.name);
    fake::reset();
    RunOwners st;
    script(st);
    Settings s{.input_blocksize = 512,
               .output_blocksize = 512,
               .seek_records = r.seek,
               .max_records = 2,
               .num_iterations = 3};
    // An existing output of exactly (seek + count) x obs + 2 bytes: a range of 0.
    open_files(st, s, 4096, static_cast<std::int64_t>((r.seek + 2) * 512 + 2));
    fake::file(st.files.output.get()).kind = r.kind;
    st.files.output_preexists = r.preexists;
    st.context.shape.iterations_given = r.iterations;
    ASSERT_EQ(calibrate_output(st, s, posix_profile), 0);
    EXPECT_EQ(std::tuple(st.files.apply_seek, st.files.seek_first_entry_only),
              std::tuple(r.apply, r.first_only));
    ASSERT_EQ(build_plan(st, s), 0);
    std::vector<std::uint64_t> offsets;
    for (std::uint32_t i = 0; i < st.plan.size; ++i)
      offsets.push_back(st.plan.entries[i].seek_offset);
    EXPECT_EQ(offsets, r.offsets);
  }
  EXPECT_EQ(g_used, 0u);
}

// Neither side of the null sink or the zero source is positioned, whatever the words say.
TEST_F(PlanTest, ZeroSourceAndNullSinkIgnoreSkipAndSeek) {
  RunOwners st;
  script(st);
  Settings s{.input_file = kZeroSource,
             .output_file = kNullSink,
             .input_blocksize = 512,
             .output_blocksize = 512,
             .skip_records = 4,
             .seek_records = 4,
             .max_records = 1};
  st.context.shape.count_given = true;
  st.files.output_preexists = true;
  ASSERT_EQ(calibrate(st, s), 0);
  EXPECT_FALSE(st.files.apply_skip || st.files.apply_seek);
  EXPECT_TRUE(fake::sys().log.empty());
}

// Count 2, skip 3, seek 4, on files of exactly (count + skip) x bs + 2 bytes: ranges of 0.
TEST_F(PlanTest, FixedOffsetsWithoutIterationsAndForRangeZero) {
  // clang-format off
  const struct { std::uint64_t ibs, obs; bool iterations; std::uint64_t skip_at, seek_at; } rows[] = {
      {1, 1, false, 3, 4}, {512, 4096, false, 1536, 16384},
      // With iterations the + 1 of the fixed part survives rounding for a block size of 1.
      {1, 1, true, 4, 5}, {512, 4096, true, 1536, 16384}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.ibs << " " << r.obs << " " << r.iterations);
    RunOwners st;
    script(st);
    Settings s{.input_blocksize = r.ibs,
               .output_blocksize = r.obs,
               .skip_records = 3,
               .seek_records = 4,
               .max_records = 2,
               .num_iterations = 3};
    open_files(st, s, 5 * r.ibs + 2, static_cast<std::int64_t>(6 * r.obs + 2));
    st.context.shape.iterations_given = r.iterations;
    ASSERT_EQ(calibrate(st, s), 0);
    ASSERT_EQ(build_plan(st, s), 0);
    ASSERT_EQ(st.plan.size, r.iterations ? 3u : 1u);
    for (std::uint32_t i = 0; i < st.plan.size; ++i) {
      EXPECT_EQ(st.plan.entries[i].skip_offset, r.skip_at);
      EXPECT_EQ(st.plan.entries[i].seek_offset, r.seek_at);
    }
  }
  EXPECT_EQ(g_used, 0u);
}

TEST_F(PlanTest, IterationsDrawOffsetsDigitByDigit) {
  RunOwners st;
  script(st);
  Settings s{.input_blocksize = 512,
             .output_blocksize = 1024,
             .skip_records = 2,
             .seek_records = 1,
             .max_records = 4};
  // 1 MiB of input; an output with a range of exactly 0 (4 x 1024 + 1 x 1024 + 2 bytes).
  open_files(st, s, 1048576, 5122);
  st.context.shape.iterations_given = true;
  ASSERT_EQ(calibrate(st, s), 0);
  EXPECT_EQ(st.plan.calibration.input_range, (OffsetDigits{62462, 15, 0, 0}));
  // Pivot digit 1: d0 = 7232 + 5 + 3 % 2, d1 = 20 % 15, d2 = d3 = 0 -> 334918 + 1025 = 335943.
  const std::vector<int> high{1, 40000, 5, 3, 20, 9, 9};
  // Pivot digit 0: d0 = 32769 % 32768 + 30000 % 29695, d1 = 17 % 16 -> 65842 + 1025 = 66867.
  const std::vector<int> low{2, 32769, 30000, 17, 4, 4};
  std::vector<int> both = high;
  both.insert(both.end(), low.begin(), low.end());
  // Offsets in the order the entries run: the entry drawn last runs first.
  const struct {
    std::vector<int> rands;
    std::vector<std::uint64_t> skips;
  } rows[] = {{high, {335872}}, {low, {66560}}, {both, {66560, 335872}}, {{}, {}}};
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.rands.size() << " values");
    g_rand = r.rands;
    g_used = 0;
    s.num_iterations = static_cast<std::uint32_t>(r.skips.size());
    ASSERT_EQ(build_plan(st, s), 0);
    EXPECT_EQ(g_used, r.rands.size());
    ASSERT_EQ(st.plan.size, r.skips.size());
    for (std::size_t i = 0; i < r.skips.size(); ++i) {
      EXPECT_EQ(st.plan.entries[i].skip_offset, r.skips[i]);
      EXPECT_EQ(st.plan.entries[i].seek_offset, 1024u);
    }
  }
}

// With both sides drawing, each entry takes its input digits, then its output digits; the
// entry drawn last runs first.
TEST_F(PlanTest, BothSidesDrawInputFirstInEachEntry) {
  RunOwners st;
  script(st);
  Settings s{.input_blocksize = 1, .output_blocksize = 1, .max_records = 1, .num_iterations = 2};
  open_files(st, s, 103, 203);  // ranges 100 and 200: one non-zero digit each
  st.context.shape.iterations_given = true;
  ASSERT_EQ(calibrate(st, s), 0);
  // Per side: the pivot, digit 0, then one value for each digit above it.
  g_rand = {0, 37, 0, 0, 0, 0, 150, 0, 0, 0, 0, 5, 0, 0, 0, 0, 99, 0, 0, 0};
  ASSERT_EQ(build_plan(st, s), 0);
  EXPECT_EQ(g_used, g_rand.size());
  ASSERT_EQ(st.plan.size, 2u);
  EXPECT_EQ(std::tuple(st.plan.entries[0].skip_offset, st.plan.entries[0].seek_offset),
            std::tuple(6u, 100u));
  EXPECT_EQ(std::tuple(st.plan.entries[1].skip_offset, st.plan.entries[1].seek_offset),
            std::tuple(38u, 151u));
}

// Drawn offsets are rounded down to whole blocks of any size, not only powers of two.
TEST_F(PlanTest, DrawnOffsetsRoundDownToWholeBlocks) {
  // clang-format off
  const struct { std::uint64_t block; int draw; std::uint64_t offset; } rows[] = {
      {1000, 3998, 3000}, {1000, 998, 0}, {1000, 999, 1000}, {3, 10, 9}, {1536, 4000, 3072},
      {1024, 3998, 3072}, {1024, 1022, 0}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.block << " " << r.draw);
    fake::reset();
    RunOwners st;
    script(st);
    Settings s{.input_blocksize = r.block, .output_blocksize = 512, .max_records = 1};
    open_files(st, s, r.block + 2 + 5000, -1);  // a range of 5000: digit 0 only
    st.context.shape.iterations_given = true;
    ASSERT_EQ(calibrate(st, s), 0);
    g_rand = {0, r.draw, 0, 0, 0};
    g_used = 0;
    ASSERT_EQ(build_plan(st, s), 0);
    EXPECT_EQ(st.plan.entries[0].skip_offset, r.offset);  // the draw + 1, rounded down
  }
}

TEST_F(PlanTest, ReportShowsTheOffsetsThatApply) {
  const std::string skip = "skip: 5368709120\n", seek = "seek: 1024\n";
  const std::string iteration = "\nRunning iteration 3 with ", plain = "\nRunning with ";
  const std::string tail = " (in bytes) as follows:\n";
  // clang-format off
  const struct { bool skip, seek, iterations; std::uint32_t verbose; const PlatformProfile& profile;
                 std::string text; } rows[] = {
      {true, true, true, 1, posix_profile, iteration + "skip and seek" + tail + skip + seek},
      {true, true, true, 1, win32_profile, iteration + "skip and seek" + tail +
                                           "skip: low 1073741824   high 1\nseek: low 1024   high 0\n"},
      {true, true, false, 2, posix_profile, plain + "skip and seek" + tail + skip + seek},
      {true, false, true, 1, posix_profile, iteration + "skip" + tail + skip},
      {true, false, false, 1, posix_profile, plain + "skip" + tail + skip},
      {false, true, true, 1, posix_profile, iteration + "seek" + tail + seek},
      {false, true, false, 1, posix_profile, plain + "seek" + tail + seek},
      {false, false, true, 1, posix_profile, ""},
      {true, true, true, 0, posix_profile, ""}};
  // clang-format on
  for (const auto& r : rows) {
    RunOwners st;
    script(st);
    st.files.apply_skip = r.skip;
    st.files.apply_seek = r.seek;
    st.context.shape.iterations_given = r.iterations;
    testing::internal::CaptureStderr();
    report_entry(st.files, st.context.shape, Settings{.verboseflag = r.verbose},
                 PlanEntry{5368709120, 1024}, 3, r.profile);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), r.text);
  }
}

}  // namespace
}  // namespace kolvane

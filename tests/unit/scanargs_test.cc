#include "cli/scanargs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "run/endpoints.h"

namespace kolvane {
namespace {

// The settings point into the words, so each test's words are kept for the whole run.
ScanResult scan(const std::vector<std::string>& words, const PlatformProfile& profile) {
  static std::deque<std::string> kept;
  std::vector<const char*> argv{kept.emplace_back("kolvane").c_str()};
  for (const std::string& w : words) argv.push_back(kept.emplace_back(w).c_str());
  return scan_words(static_cast<int>(argv.size()), argv.data(), profile);
}

// Scans `words`: with a `rejection`, checks that exact refusal and gives nothing; otherwise
// checks the words were accepted and gives the settings.
std::optional<Settings> accepted_or_refused(const std::vector<std::string>& words,
                                            const char* rejection) {
  const ScanResult r = scan(words, posix_profile);
  if (rejection != nullptr) {
    EXPECT_FALSE(r.accepted);
    EXPECT_EQ(r.rejection, rejection);
    return std::nullopt;
  }
  EXPECT_TRUE(r.accepted) << r.rejection;
  if (!r.accepted)
    return std::nullopt;
  return r.settings;
}

const std::string kDio =
    " for dio.\nValid value for dio is 1, 2 or 3.\n   1: direct read  + buffered write.\n"
    "   2: direct write + buffered read.\n   3: direct read  + direct write.\n";

TEST(ScanWords, RejectsTheFirstBadWordWithItsMessage) {
  const struct {
    std::vector<std::string> words;
    std::string message;
    const PlatformProfile* profile = &posix_profile;
  } cases[] = {
      // clang-format off
      {{"foo"}, "unrecognized option foo\n"}, {{"bs=1", "--help"}, "unrecognized option --help\n"},
      {{"conv=NOTRUNC"}, "unrecognized option value conv=NOTRUNC\n"},
      {{"conv=notrunc,sync"}, "unrecognized option value conv=notrunc,sync\n"},
      {{"conv="}, "unrecognized option value conv=\n"}, {{"dio=abc"}, "invalid number abc\n"},
      {{"dio=4"}, "Invalid value 4" + kDio}, {{"dio=0"}, "Invalid value 0" + kDio},
      {{"dio=2147483647"}, "Invalid value 2147483647" + kDio},
      {{"dio=2147483648"}, "invalid number 2147483648\n"},
      {{"dio=4294967297"}, "invalid number 4294967297\n"}, {{"dio=-1"}, "invalid number -1\n"},
      {{"dio="}, "invalid number \n"}, {{"count="}, "invalid number \n"},
      {{"skip=k"}, "invalid number k\n"}, {{"seek=x5"}, "invalid number x5\n"},
      {{"count=2x"}, "invalid number 2x\n"}, {{"skip=-1"}, "invalid number -1\n"},
      {{"iterations=4294967296"}, "invalid number 4294967296\n"},
      {{"verbose=4294967296"}, "invalid number 4294967296\n"},
      {{"count=99999999999999999999"}, "invalid number 99999999999999999999\n"},
      {{"count=17179869184g"}, "invalid number 17179869184g\n"},
      {{"count=2x4g"}, "invalid number 2x4g\n", &win32_profile},
      {{"skip=4294967296"}, "invalid number 4294967296\n", &win32_profile},
      {{"foo=-1"}, "unrecognized option foo=-1\n"},
      {{"foo=abc"}, "unrecognized option foo=abc\n"}, {{"=5"}, "unrecognized option =5\n"},
      {{"bs=0"}, "invalid number 0\n"}, {{"ibs=0k"}, "invalid number 0k\n"},
      {{"obs=abc"}, "invalid number abc\n"}, {{"bs="}, "invalid number \n"},
      {{"count==5"}, "invalid number =5\n"}, {{"skip=12q"}, "invalid number 12q\n"},
      {{"iterations=4gx4g"}, "invalid number 4gx4g\n"},
      {{"bs=4g"}, "invalid number 4g\n", &win32_profile},
      {{"ibs=1k", "obs=0", "foo"}, "invalid number 0\n"},
      {{"foo", "bs=0"}, "unrecognized option foo\n"},
      // clang-format on
  };
  for (const auto& c : cases) {
    const ScanResult r = scan(c.words, *c.profile);
    EXPECT_FALSE(r.accepted) << testing::PrintToString(c.words);
    EXPECT_EQ(r.rejection, c.message) << testing::PrintToString(c.words);
  }
}

TEST(ScanWords, StoresNumbersLastOneWinning) {
  const struct Case {
    std::vector<std::string> words;
    std::uint64_t ibs = 512, obs = 512, skip = 0, seek = 0, count = UINT64_MAX;
    std::uint32_t iterations = 1, verbose = 0, r_dio = 0, w_dio = 0;
    bool count_given = false, iterations_given = false;
    const PlatformProfile* profile = &posix_profile;
  } cases[] = {
      // clang-format off
      {.words = {}}, {.words = {"ibs=1k", "bs=4k"}, .ibs = 4096, .obs = 4096},
      {.words = {"bs=4k", "ibs=1k"}, .ibs = 1024, .obs = 4096},
      {.words = {"ibs=4k"}, .ibs = 4096}, {.words = {"obs=2x3"}, .obs = 6},
      {.words = {"bs=4g"}, .ibs = 4294967296, .obs = 4294967296},
      {.words = {"bs=4294967295"}, .ibs = 4294967295, .obs = 4294967295, .profile = &win32_profile},
      {.words = {"skip=16g", "seek=1kx1k"}, .skip = 17179869184, .seek = 1048576},
      {.words = {"seek=3 x"}, .seek = 3},
      {.words = {"count=2x4g"}, .count = 8589934592, .count_given = true},
      {.words = {"count=4gx2"}, .count = 8589934592, .count_given = true,
       .profile = &win32_profile},
      {.words = {"count=5", "count=7"}, .count = 7, .count_given = true},
      {.words = {"count=1", "count=0", "skip=2"}, .skip = 2, .count = 0, .count_given = true},
      {.words = {"iterations=4294967295"}, .iterations = 4294967295, .iterations_given = true},
      {.words = {"iterations=9", "verbose=4294967295"}, .iterations = 9, .verbose = 4294967295,
       .iterations_given = true},
      {.words = {"dio=3"}, .r_dio = 1, .w_dio = 1}, {.words = {"dio=1", "dio=2"}, .w_dio = 1},
      {.words = {"dio=+2"}, .w_dio = 1},
      // clang-format on
  };
  for (const Case& c : cases) {
    const ScanResult r = scan(c.words, *c.profile);
    const Settings& s = r.settings;
    ASSERT_TRUE(r.accepted) << r.rejection;
    EXPECT_EQ(std::tuple(s.input_blocksize, s.output_blocksize, s.skip_records, s.seek_records,
                         s.max_records, s.num_iterations, s.verboseflag, s.r_dio, s.w_dio,
                         r.count_given, r.iterations_given),
              std::tuple(c.ibs, c.obs, c.skip, c.seek, c.count, c.iterations, c.verbose, c.r_dio,
                         c.w_dio, c.count_given, c.iterations_given))
        << testing::PrintToString(c.words);
  }
}

TEST(ScanWords, StoresNamesMappingZeroAndNull) {
  const struct {
    std::vector<std::string> words;
    const char *input, *output;  // nullptr: absent
    unsigned conv;
  } cases[] = {
      // clang-format off
      {{}, nullptr, nullptr, 0}, {{"if=/dev/zero", "of=/dev/null"}, "zero", "nul", 0},
      {{"if=\\dev\\zero", "of=\\dev\\null"}, "zero", "nul", 0},
      {{"if=zero", "of=nul", "conv=notrunc"}, "zero", "nul", kConvNotrunc},
      {{"if=/dev/zero/", "of=/DEV/NULL"}, "/dev/zero/", "/DEV/NULL", 0},
      {{"if=a=b", "of="}, "a=b", "", 0},
      {{"if=x", "if=y", "of=p", "of=q"}, "y", "q", 0},
      {{"conv=notrunc", "conv=fsync"}, nullptr, nullptr, kConvNotrunc | kConvFsync},
      {{"conv=fdatasync,notrunc"}, nullptr, nullptr, kConvNotrunc | kConvFdatasync},
      {{"conv=notrunc,notrunc,fsync"}, nullptr, nullptr, kConvNotrunc | kConvFsync},
      // clang-format on
  };
  for (const auto& c : cases) {
    const ScanResult r = scan(c.words, posix_profile);
    const Settings& s = r.settings;
    ASSERT_TRUE(r.accepted) << r.rejection;
    EXPECT_STREQ(s.input_file, c.input) << testing::PrintToString(c.words);
    EXPECT_STREQ(s.output_file, c.output) << testing::PrintToString(c.words);
    EXPECT_EQ(s.conv, c.conv) << testing::PrintToString(c.words);
  }
}

// The side each form of if= and of= gives: the bare words too are the zero source and the null
// sink; anything else, even the other side's word, is a file by that name.
TEST(ScanWords, EachNameFormGivesItsSide) {
  using In = InputSide;
  using Out = OutputSide;
  const struct {
    std::vector<std::string> words;
    InputSide input;
    OutputSide output;
  } cases[] = {
      // clang-format off
      {{}, In::standard_input, Out::standard_output},
      {{"if=/dev/zero", "of=/dev/null"}, In::zero_source, Out::null_sink},
      {{"if=\\dev\\zero", "of=\\dev\\null"}, In::zero_source, Out::null_sink},
      {{"if=zero", "of=nul"}, In::zero_source, Out::null_sink},
      {{"if=nul", "of=zero"}, In::named, Out::named},
      {{"if=/dev/zero/", "of=/DEV/NULL"}, In::named, Out::named},
      {{"if=in", "of="}, In::named, Out::named},
      // clang-format on
  };
  for (const auto& c : cases) {
    const ScanResult r = scan(c.words, posix_profile);
    ASSERT_TRUE(r.accepted) << r.rejection;
    const Endpoints ends = decide_endpoints(r.settings);
    EXPECT_EQ(ends.input, c.input) << testing::PrintToString(c.words);
    EXPECT_EQ(ends.output, c.output) << testing::PrintToString(c.words);
  }
}

// The measuring words: each off unless given; a value that is no number is "invalid number",
// a number the word does not take is "unrecognized option value".
TEST(ScanWords, MeasuringWords) {
  const struct {
    std::vector<std::string> words;
    const char* rejection;  // nullptr: accepted
    bool report;
    std::uint32_t progress, runtime;
    bool seed_given;
    std::uint32_t seed;
    bool uniform;
    const char* json;
  } cases[] = {
      // clang-format off
      {{}, nullptr, false, 0, 0, false, 0, false, nullptr},
      {{"report=1", "progress=5", "runtime=30", "seed=7", "distribution=uniform", "json=-"},
       nullptr, true, 5, 30, true, 7, true, "-"},
      {{"report=1", "report=0"}, nullptr, false, 0, 0, false, 0, false, nullptr},
      {{"seed=0"}, nullptr, false, 0, 0, true, 0, false, nullptr},
      {{"seed=4294967295"}, nullptr, false, 0, 0, true, 4294967295u, false, nullptr},
      {{"seed=4k"}, nullptr, false, 0, 0, true, 4096, false, nullptr},
      {{"runtime=4294967295"}, nullptr, false, 0, 4294967295u, false, 0, false, nullptr},
      {{"json=a=b.json"}, nullptr, false, 0, 0, false, 0, false, "a=b.json"},
      {{"report=2"}, "unrecognized option value report=2\n", false, 0, 0, false, 0, false, nullptr},
      {{"report=x"}, "invalid number x\n", false, 0, 0, false, 0, false, nullptr},
      {{"report="}, "invalid number \n", false, 0, 0, false, 0, false, nullptr},
      {{"progress=0"}, "unrecognized option value progress=0\n", false, 0, 0, false, 0, false, nullptr},
      {{"runtime=0"}, "unrecognized option value runtime=0\n", false, 0, 0, false, 0, false, nullptr},
      {{"runtime=4294967296"}, "unrecognized option value runtime=4294967296\n", false, 0, 0, false, 0, false, nullptr},
      {{"runtime=1m"}, "invalid number 1m\n", false, 0, 0, false, 0, false, nullptr},
      {{"progress=2x3"}, "invalid number 2x3\n", false, 0, 0, false, 0, false, nullptr},
      {{"progress=+5"}, "invalid number +5\n", false, 0, 0, false, 0, false, nullptr},
      {{"runtime= 5"}, "invalid number  5\n", false, 0, 0, false, 0, false, nullptr},
      {{"runtime=99999999999999999999"}, "invalid number 99999999999999999999\n", false, 0, 0, false, 0, false, nullptr},
      {{"seed=4294967296"}, "unrecognized option value seed=4294967296\n", false, 0, 0, false, 0, false, nullptr},
      {{"seed=-1"}, "invalid number -1\n", false, 0, 0, false, 0, false, nullptr},
      {{"distribution=normal"}, "unrecognized option value distribution=normal\n", false, 0, 0, false, 0, false, nullptr},
      {{"distribution="}, "unrecognized option value distribution=\n", false, 0, 0, false, 0, false, nullptr},
      {{"json="}, "unrecognized option value json=\n", false, 0, 0, false, 0, false, nullptr},
      {{"conv=notrunc,"}, "unrecognized option value conv=notrunc,\n", false, 0, 0, false, 0, false, nullptr},
      {{"conv=fsync,sync"}, "unrecognized option value conv=fsync,sync\n", false, 0, 0, false, 0, false, nullptr},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    const std::optional<Settings> scanned = accepted_or_refused(c.words, c.rejection);
    if (!scanned)
      continue;
    const Settings& s = *scanned;
    EXPECT_EQ(s.report, c.report);
    EXPECT_EQ(s.progress_seconds, c.progress);
    EXPECT_EQ(s.runtime_seconds, c.runtime);
    EXPECT_EQ(s.seed_given, c.seed_given);
    EXPECT_EQ(s.seed, c.seed);
    EXPECT_EQ(s.offset_law == OffsetLaw::uniform, c.uniform);
    EXPECT_STREQ(s.json_file, c.json);
  }
}

// The laws of distribution= with their parameter's bounds, and span= as a size.
TEST(ScanWords, DistributionLawsAndSpan) {
  const struct {
    const char* word;
    OffsetLaw law;  // digitwise: refused
    double parameter;
    std::uint64_t span;
  } cases[] = {
      {"distribution=zipf:1.2", OffsetLaw::zipf, 1.2, 0},
      {"distribution=zipf:0.5", OffsetLaw::zipf, 0.5, 0},
      {"distribution=pareto:0.2", OffsetLaw::pareto, 0.2, 0},
      {"distribution=normal:100", OffsetLaw::normal, 100, 0},
      {"distribution=normal:.5", OffsetLaw::normal, 0.5, 0},
      {"span=10g", OffsetLaw::digitwise, 0, 10ull << 30},
      {"distribution=zipf:0", OffsetLaw::digitwise, 0, 0},
      {"distribution=zipf:", OffsetLaw::digitwise, 0, 0},
      {"distribution=zipf:-1", OffsetLaw::digitwise, 0, 0},
      {"distribution=zipf:1e3", OffsetLaw::digitwise, 0, 0},
      {"distribution=zipf:inf", OffsetLaw::digitwise, 0, 0},
      {"distribution=pareto:0.5", OffsetLaw::digitwise, 0, 0},
      {"distribution=normal:100.5", OffsetLaw::digitwise, 0, 0},
      {"distribution=normal:1.2.3", OffsetLaw::digitwise, 0, 0},
      {"distribution=Zipf:1", OffsetLaw::digitwise, 0, 0},
      {"span=0", OffsetLaw::digitwise, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    const bool refused = c.law == OffsetLaw::digitwise && c.span == 0;
    const std::optional<Settings> s = accepted_or_refused(
        {c.word},
        refused ? ("unrecognized option value " + std::string(c.word) + "\n").c_str() : nullptr);
    if (!s)
      continue;
    EXPECT_EQ(s->offset_law, c.law);
    EXPECT_EQ(s->law_parameter, c.parameter);
    EXPECT_EQ(s->span_bytes, c.span);
  }
}

// The words stay as typed, so that the system shows the command as it was given, whether the
// scanner accepts them or stops at a bad one.
// plot= takes any name, the last word winning; an empty one is refused as json= is.
TEST(ScanWords, PlotFile) {
  const struct {
    std::vector<std::string> words;
    const char* rejection;
    const char* plot;
  } cases[] = {
      {{}, nullptr, nullptr},
      {{"plot=run.svg"}, nullptr, "run.svg"},
      {{"plot=a.svg", "plot=b=c.svg", "json=r.json"}, nullptr, "b=c.svg"},
      {{"plot="}, "unrecognized option value plot=\n", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    const std::optional<Settings> scanned = accepted_or_refused(c.words, c.rejection);
    if (!scanned)
      continue;
    EXPECT_STREQ(scanned->plot_file, c.plot);
  }
}

TEST(ScanWords, LeavesTheWordsAsTyped) {
  const std::vector<std::vector<std::string>> cases = {
      {"if=a=b", "of=c", "conv=notrunc", "bs=4k", "count=2", "skip=1", "seek=3 x"},
      {"iterations=2", "verbose=1", "dio=3"},
      {"conv=bad"},
      {"foo=1"},
      {"bs=0"},
      {"dio=9"},
      {"count=2", "noequals"}};
  for (const PlatformProfile* profile : {&posix_profile, &win32_profile}) {
    for (const auto& words : cases) {
      std::vector<std::vector<char>> copies;
      std::vector<const char*> argv{"kolvane"};
      for (const std::string& w : words) copies.emplace_back(w.c_str(), w.c_str() + w.size() + 1);
      for (const auto& c : copies) argv.push_back(c.data());
      scan_words(static_cast<int>(argv.size()), argv.data(), *profile);
      for (std::size_t i = 0; i < words.size(); ++i) {
        EXPECT_EQ(std::string(copies[i].data(), copies[i].size() - 1), words[i]);
      }
    }
  }
}

TEST(ScanWords, CheckingWordsTakeTheirOwnValuesOnly) {
  struct Case {
    std::vector<std::string> words;
    const char* rejection;
    bool stamped;
    std::uint32_t verify;
  };
  const Case cases[] = {
      {{}, nullptr, false, kVerifyOff},
      {{"pattern=random", "verify=1"}, nullptr, true, kVerifyReadBack},
      {{"pattern=random", "pattern=zero", "verify=2", "verify=0"}, nullptr, false, kVerifyOff},
      {{"verify=2"}, nullptr, false, kVerifyCheckOnly},
      {{"verify=3"}, "unrecognized option value verify=3\n", false, 0},
      {{"verify=1k"}, "unrecognized option value verify=1k\n", false, 0},
      {{"verify=-1"}, "invalid number -1\n", false, 0},
      {{"verify="}, "invalid number \n", false, 0},
      {{"pattern=Random"}, "unrecognized option value pattern=Random\n", false, 0},
      {{"pattern="}, "unrecognized option value pattern=\n", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    const std::optional<Settings> scanned = accepted_or_refused(c.words, c.rejection);
    if (!scanned)
      continue;
    EXPECT_EQ(scanned->stamped, c.stamped);
    EXPECT_EQ(scanned->verify, c.verify);
  }
}

}  // namespace
}  // namespace kolvane

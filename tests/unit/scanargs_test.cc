#include "cli/scanargs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <tuple>
#include <vector>

namespace kolvane {
namespace {

// The scanner writes into the words and the settings point into them, so each test's words
// are mutable copies kept for the whole run.
ScanResult scan(const std::vector<std::string>& words, const PlatformProfile& profile) {
  static std::deque<std::string> kept;
  std::vector<char*> argv{kept.emplace_back("kolvane").data()};
  for (const std::string& w : words) argv.push_back(kept.emplace_back(w).data());
  return scan_words(static_cast<int>(argv.size()), argv.data(), profile);
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
      {{"conv="}, "unrecognized option value conv=\n"}, {{"dio=abc"}, "Invalid value 0" + kDio},
      {{"dio=4"}, "Invalid value 4" + kDio}, {{"dio=4294967295"}, "Invalid value -1" + kDio},
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
      {.words = {"skip=", "seek=3 x"}, .seek = 3},
      {.words = {"count=5", "count=7"}, .count = 7, .count_given = true},
      {.words = {"count=1", "count=", "skip=2"}, .skip = 2, .count = 0, .count_given = true},
      {.words = {"iterations=4294967296"}, .iterations = 0, .iterations_given = true},
      {.words = {"iterations=9", "verbose=4294967297"}, .iterations = 9, .verbose = 1,
       .iterations_given = true},
      {.words = {"dio=3"}, .r_dio = 1, .w_dio = 1}, {.words = {"dio=1", "dio=2"}, .w_dio = 1},
      {.words = {"dio=4294967297"}, .r_dio = 1},
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
    const char *input, *output, *conv;  // nullptr: absent
  } cases[] = {
      // clang-format off
      {{}, nullptr, nullptr, nullptr}, {{"if=/dev/zero", "of=/dev/null"}, "zero", "nul", nullptr},
      {{"if=\\dev\\zero", "of=\\dev\\null"}, "zero", "nul", nullptr},
      {{"if=zero", "of=nul", "conv=notrunc"}, "zero", "nul", "notrunc"},
      {{"if=/dev/zero/", "of=/DEV/NULL"}, "/dev/zero/", "/DEV/NULL", nullptr},
      {{"if=a=b", "of="}, "a=b", "", nullptr},
      {{"if=x", "if=y", "of=p", "of=q"}, "y", "q", nullptr},
      // clang-format on
  };
  for (const auto& c : cases) {
    const ScanResult r = scan(c.words, posix_profile);
    const Settings& s = r.settings;
    ASSERT_TRUE(r.accepted) << r.rejection;
    EXPECT_STREQ(s.input_file, c.input) << testing::PrintToString(c.words);
    EXPECT_STREQ(s.output_file, c.output) << testing::PrintToString(c.words);
    EXPECT_STREQ(s.conv_opt, c.conv) << testing::PrintToString(c.words);
  }
}

}  // namespace
}  // namespace kolvane

#include "cli/scanargs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kolvane {
namespace {

// Runs the scanner over mutable copies of the words, kept alive as long as the result, since
// the settings point into them.
class Scan {
 public:
  Scan(std::vector<std::string> words, const PlatformProfile& profile) : words_(std::move(words)) {
    words_.insert(words_.begin(), "kolvane");
    for (std::string& w : words_) argv_.push_back(w.data());
    argv_.push_back(nullptr);
    result = scan_words(static_cast<int>(words_.size()), argv_.data(), profile);
  }
  Scan(const Scan&) = delete;
  ScanResult result;

 private:
  std::vector<std::string> words_;
  std::vector<char*> argv_;
};

std::string dio_lines(const char* d) {
  return std::string("Invalid value ") + d + " for dio.\n" +
         "Valid value for dio is 1, 2 or 3.\n"
         "   1: direct read  + buffered write.\n"
         "   2: direct write + buffered read.\n"
         "   3: direct read  + direct write.\n";
}

TEST(ScanWords, RejectsTheFirstBadWordWithItsMessage) {
  const struct {
    std::vector<std::string> words;
    std::string message;
    const PlatformProfile* profile = &posix_profile;
  } cases[] = {
      {{"foo"}, "unrecognized option foo\n"},
      {{"bs=1k", "--help"}, "unrecognized option --help\n"},
      {{"conv=NOTRUNC"}, "unrecognized option value conv=NOTRUNC\n"},
      {{"conv=notrunc,sync"}, "unrecognized option value conv=notrunc,sync\n"},
      {{"conv="}, "unrecognized option value conv=\n"},
      {{"dio=abc"}, dio_lines("0")},
      {{"dio=0"}, dio_lines("0")},
      {{"dio=4"}, dio_lines("4")},
      {{"dio=4294967295"}, dio_lines("-1")},
      {{"foo=abc"}, "unrecognized option foo=abc\n"},
      {{"=5"}, "unrecognized option =5\n"},
      {{"bs=0"}, "invalid number 0\n"},
      {{"ibs=0k"}, "invalid number 0k\n"},
      {{"obs=abc"}, "invalid number abc\n"},
      {{"bs="}, "invalid number \n"},
      {{"count==5"}, "invalid number =5\n"},
      {{"skip=12q"}, "invalid number 12q\n"},
      {{"iterations=4gx4g"}, "invalid number 4gx4g\n"},
      {{"bs=4g"}, "invalid number 4g\n", &win32_profile},
      {{"ibs=1k", "obs=0", "foo"}, "invalid number 0\n"},
      {{"foo", "bs=0"}, "unrecognized option foo\n"},
  };
  for (const auto& c : cases) {
    Scan scan(c.words, *c.profile);
    EXPECT_FALSE(scan.result.accepted) << c.words.back();
    EXPECT_EQ(scan.result.rejection, c.message) << c.words.back();
  }
}

TEST(ScanWords, StoresNumbersLastOneWinning) {
  const struct {
    std::vector<std::string> words;
    std::uint64_t ibs = 512, obs = 512, skip = 0, seek = 0, count = UINT64_MAX;
    std::uint32_t iterations = 1, verbose = 0, r_dio = 0, w_dio = 0;
    bool count_given = false, iterations_given = false;
    const PlatformProfile* profile = &posix_profile;
  } cases[] = {
      {.words = {}},
      {.words = {"ibs=1k", "bs=4k"}, .ibs = 4096, .obs = 4096},
      {.words = {"bs=4k", "ibs=1k"}, .ibs = 1024, .obs = 4096},
      {.words = {"ibs=4k"}, .ibs = 4096},
      {.words = {"obs=2x3"}, .obs = 6},
      {.words = {"bs=4g"}, .ibs = 4294967296, .obs = 4294967296},
      {.words = {"bs=4294967295"}, .ibs = 4294967295, .obs = 4294967295, .profile = &win32_profile},
      {.words = {"skip=16g", "seek=1kx1k"}, .skip = 17179869184, .seek = 1048576},
      {.words = {"skip=", "skip=3 x"}, .skip = 3},
      {.words = {"count=5", "count=7"}, .count = 7, .count_given = true},
      {.words = {"count="}, .count = 0, .count_given = true},
      {.words = {"count=1", "skip=2"}, .skip = 2, .count = 1, .count_given = true},
      {.words = {"iterations=4294967296"}, .iterations = 0, .iterations_given = true},
      {.words = {"iterations=9", "verbose=4294967297"},
       .iterations = 9,
       .verbose = 1,
       .iterations_given = true},
      {.words = {"dio=3"}, .r_dio = 1, .w_dio = 1},
      {.words = {"dio=1", "dio=2"}, .r_dio = 0, .w_dio = 1},
      {.words = {"dio=4294967297"}, .r_dio = 1, .w_dio = 0},
  };
  for (const auto& c : cases) {
    Scan scan(c.words, *c.profile);
    const ScanResult& r = scan.result;
    const std::string where = c.words.empty() ? "(none)" : c.words.front();
    ASSERT_TRUE(r.accepted) << where << ": " << r.rejection;
    EXPECT_EQ(r.rejection, "") << where;
    EXPECT_EQ(r.settings.input_blocksize, c.ibs) << where;
    EXPECT_EQ(r.settings.output_blocksize, c.obs) << where;
    EXPECT_EQ(r.settings.skip_records, c.skip) << where;
    EXPECT_EQ(r.settings.seek_records, c.seek) << where;
    EXPECT_EQ(r.settings.max_records, c.count) << where;
    EXPECT_EQ(r.settings.num_iterations, c.iterations) << where;
    EXPECT_EQ(r.settings.verboseflag, c.verbose) << where;
    EXPECT_EQ(r.settings.r_dio, c.r_dio) << where;
    EXPECT_EQ(r.settings.w_dio, c.w_dio) << where;
    EXPECT_EQ(r.count_given, c.count_given) << where;
    EXPECT_EQ(r.iterations_given, c.iterations_given) << where;
  }
}

TEST(ScanWords, StoresNamesAndMapsTheSpecialFiles) {
  const struct {
    std::vector<std::string> words;
    const char *input, *output, *conv;  // nullptr: absent
  } cases[] = {
      {{}, nullptr, nullptr, nullptr},
      {{"if=/dev/zero", "of=/dev/null"}, "zero", "nul", nullptr},
      {{"if=\\dev\\zero", "of=\\dev\\null"}, "zero", "nul", nullptr},
      {{"if=zero", "of=nul", "conv=notrunc"}, "zero", "nul", "notrunc"},
      {{"if=/dev/zero/", "of=/DEV/NULL"}, "/dev/zero/", "/DEV/NULL", nullptr},
      {{"if=a=b", "of="}, "a=b", "", nullptr},
      {{"if=x", "if=y", "of=p", "of=q"}, "y", "q", nullptr},
  };
  for (const auto& c : cases) {
    Scan scan(c.words, posix_profile);
    ASSERT_TRUE(scan.result.accepted) << scan.result.rejection;
    EXPECT_STREQ(scan.result.settings.input_file, c.input);
    EXPECT_STREQ(scan.result.settings.output_file, c.output);
    EXPECT_STREQ(scan.result.settings.conv_opt, c.conv);
  }
}

}  // namespace
}  // namespace kolvane

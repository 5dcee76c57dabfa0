#include "cli/parse_integer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace kolvane {
namespace {

struct Row {
  const char* text;
  std::uint64_t value;  // 64-bit number reader
  int invalid;
  // The 32-bit reader's value where it differs (always valid then); otherwise the same as above.
  std::optional<std::uint64_t> narrow = std::nullopt;
};

// clang-format off
const Row kRows[] = {{"", 0, 0}, {"512", 512, 0}, {"2b", 1024, 0}, {"1k", 1024, 0},
  {"1K", 1024, 0}, {"8k", 8192, 0}, {"1m", 1048576, 0}, {"1g", 1073741824, 0},
  {"1G", 1073741824, 0}, {"4g", 4294967296, 0}, {"16g", 17179869184, 0}, {"2x3x4", 24, 0},
  {"1kx4", 4096, 0}, {"4X1k", 4096, 0}, {"1kx1k", 1048576, 0}, {"10 junk", 10, 0},
  {"  7", 7, 0}, {"+5", 5, 0}, {"k", 0, 0}, {"x5", 0, 0}, {"2x", 0, 0}, {"0x10", 0, 0},
  {"-1", UINT64_MAX, 0, 4294967295}, {"99999999999999999999", UINT64_MAX, 0, 4294967295},
  {"4294967296", 4294967296, 0, 4294967295}, {"17179869184g", 0, 0, 4611686017353646080},
  {"4294967296x4294967296", 0, 1, 18446744065119617025u},
  {"2x4294967296", 8589934592, 0, 8589934590}, {"2x4g", 8589934592, 0, 0}, {"12q", 0, 1},
  {"1kb", 0, 1}, {"3k5", 0, 1}, {"5\t", 0, 1}, {"abc", 0, 1}, {"=5", 0, 1},
  {"-", 0, 1}, {"-99999999999999999999", UINT64_MAX, 0, 4294967295}};
// clang-format on

TEST(ParseInteger, EveryRowAtBothWidths) {
  for (const Row& row : kRows) {
    const std::string what = std::string("\"") + row.text + '"';
    int invalid = 0;
    EXPECT_EQ(parse_integer(row.text, invalid, 64), row.value) << what;
    EXPECT_EQ(invalid, row.invalid) << what;
    invalid = 0;
    EXPECT_EQ(parse_integer(row.text, invalid, 32), row.narrow.value_or(row.value)) << what;
    EXPECT_EQ(invalid, row.narrow ? 0 : row.invalid) << "32-bit " << what;
    int raised = 1;  // the flag is only ever set
    parse_integer(row.text, raised, 64);
    EXPECT_EQ(raised, 1) << what;
  }
}

// The nesting depth of a product is set by the argument word, so a long one must not exhaust
// the stack; an error at the deepest level still makes the whole value 0.
TEST(ParseInteger, HundredThousandOperandProduct) {
  std::string ones;
  for (int i = 0; i < 99998; ++i) ones += "1x";
  const Row cases[] = {{"1x2", 2, 0}, {"4gx4g", 0, 1}, {"1x2q", 0, 1}};
  for (const Row& c : cases) {
    int invalid = 0;
    EXPECT_EQ(parse_integer((ones + c.text).c_str(), invalid, 64), c.value) << c.text;
    EXPECT_EQ(invalid, c.invalid) << c.text;
  }
}

}  // namespace
}  // namespace kolvane

#include "cli/parse_integer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace kolvane {
namespace {

// The value of a text at the 64-bit and at the 32-bit number width; kBad: refused (the flag is
// raised and the value is 0).
using Value = std::optional<std::uint64_t>;
constexpr Value kBad = std::nullopt;

struct Row {
  const char* text;
  Value wide, narrow;
};

// clang-format off
const Row kRows[] = {{"512", 512, 512}, {"2b", 1024, 1024}, {"1k", 1024, 1024},
  {"1K", 1024, 1024}, {"8k", 8192, 8192}, {"1m", 1048576, 1048576}, {"1g", 1073741824, 1073741824},
  {"1G", 1073741824, 1073741824}, {"4g", 4294967296, 4294967296},
  {"16g", 17179869184, 17179869184}, {"2x3x4", 24, 24}, {"1kx4", 4096, 4096},
  {"4X1k", 4096, 4096}, {"1kx1k", 1048576, 1048576}, {"10 junk", 10, 10}, {"  7", 7, 7},
  {"+5", 5, 5}, {"0x10", 0, 0}, {"4gx2", 8589934592, 8589934592},
  {"4294967295", 4294967295, 4294967295},
  {"18446744073709551615", UINT64_MAX, kBad}, {"15gx1g", 16106127360ull << 30, 16106127360ull << 30},
  // An operand without a digit, a sign, or a number, unit product or product that does not fit.
  {"", kBad, kBad}, {"k", kBad, kBad}, {"x5", kBad, kBad}, {"2x", kBad, kBad},
  {"+", kBad, kBad}, {" ", kBad, kBad}, {"-1", kBad, kBad}, {"-0", kBad, kBad},
  {"2x-3", kBad, kBad}, {"18446744073709551616", kBad, kBad},
  {"99999999999999999999", kBad, kBad}, {"4294967296", 4294967296, kBad},
  {"17179869184g", kBad, kBad}, {"17179869183g", 18446744072635809792u, kBad},
  {"4294967296x4294967296", kBad, kBad},
  {"2x4294967296", 8589934592, kBad}, {"2x4g", 8589934592, kBad}, {"2x2x2g", 8589934592, kBad},
  {"12q", kBad, kBad}, {"1kb", kBad, kBad}, {"3k5", kBad, kBad}, {"5\t", kBad, kBad},
  {"abc", kBad, kBad}, {"=5", kBad, kBad}, {"-", kBad, kBad},
  {"-99999999999999999999", kBad, kBad}};
// clang-format on

TEST(ParseInteger, EveryRowAtBothWidths) {
  for (const Row& row : kRows) {
    const std::string what = std::string("\"") + row.text + '"';
    for (const auto& [bits, expected] : {std::pair{64u, row.wide}, std::pair{32u, row.narrow}}) {
      int invalid = 0;
      EXPECT_EQ(parse_integer(row.text, invalid, bits), expected.value_or(0)) << bits << what;
      EXPECT_EQ(invalid, expected ? 0 : 1) << bits << what;
      int raised = 1;  // the flag is only ever set
      parse_integer(row.text, raised, bits);
      EXPECT_EQ(raised, 1) << bits << what;
    }
  }
}

// The nesting depth of a product is set by the argument word, so a long one must not exhaust
// the stack; an error at the deepest level still makes the whole value 0.
TEST(ParseInteger, HundredThousandOperandProduct) {
  std::string ones;
  for (int i = 0; i < 99998; ++i) ones += "1x";
  const Row cases[] = {{"1x2", 2, 2}, {"4gx4g", kBad, kBad}, {"1x2q", kBad, kBad}};
  for (const Row& c : cases) {
    int invalid = 0;
    EXPECT_EQ(parse_integer((ones + c.text).c_str(), invalid, 64), c.wide.value_or(0)) << c.text;
    EXPECT_EQ(invalid, c.wide ? 0 : 1) << c.text;
  }
}

}  // namespace
}  // namespace kolvane

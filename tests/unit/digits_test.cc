#include "plan/digits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kolvane {
namespace {

constexpr std::uint32_t F = 0xFFFF;

TEST(Digits, AddAndSubtract) {
  const struct {
    bool add;
    OffsetDigits a, b, result;
  } cases[] = {
      // clang-format off
      {true, {F, F, 0, 0}, {1}, {0, 0, 1, 0}}, {true, {1}, {F, F, F, F}, {}},
      {true, {0, 0, 0, F}, {0, 0, 0, 1}, {}},  // the carry out of d3 is lost
      {true, {0x30000}, {}, {0, 3, 0, 0}},  // the whole upper half carries
      {false, {0, 1, 0, 0}, {1}, {F, 0, 0, 0}}, {false, {5}, {7}, {F - 1, F, F, F}},
      {false, {0, 16, 0, 0}, {2049}, {63487, 15, 0, 0}}, {false, {1, 2, 3, 4}, {}, {1, 2, 3, 4}},
      {false, {1, 2, 3, 4}, {1, 2, 3, 4}, {}},
      // Near 2^63: larger minus smaller stays at or below the sign digit, the reverse goes above.
      {false, {F, F, F, 0x7FFF}, {1}, {F - 1, F, F, 0x7FFF}},
      {false, {1}, {F, F, F, 0x7FFF}, {2, 0, 0, 0x8000}},
      // clang-format on
  };
  for (const auto& c : cases) {
    OffsetDigits a = c.a;
    c.add ? addcomponents(a, c.b) : subcomponents(a, c.b);
    EXPECT_EQ(a, c.result) << c.add << ' ' << join_digits(c.a) << ' ' << join_digits(c.b);
  }
  OffsetDigits a{0x8000, F, 1, 2};
  addcomponents(a, a);  // the same array as both operands
  EXPECT_EQ(a, (OffsetDigits{0, F, 3, 4}));
}

TEST(Digits, SplitJoinAndMin) {
  const std::pair<std::int64_t, OffsetDigits> cases[] = {{0, {0, 0, 0, 0}},
                                                         {1048576, {0, 16, 0, 0}},
                                                         {1045502, {62462, 15, 0, 0}},
                                                         {4294967296, {0, 0, 1, 0}},
                                                         {INT64_MAX, {F, F, F, 0x7FFF}}};
  for (const auto& [value, digits] : cases) {
    EXPECT_EQ(split_digits(value), digits) << value;
    EXPECT_EQ(join_digits(digits), static_cast<std::uint64_t>(value)) << value;
  }
  EXPECT_EQ(join_digits({0, 0, 0, F}), 0xFFFF000000000000u);
  EXPECT_EQ(min(UINT64_MAX, 0), 0u);
  EXPECT_EQ(min(0, UINT64_MAX), 0u);
  EXPECT_EQ(min(std::uint64_t{1} << 63, 5), 5u);
}

// Hands out the scripted values in order, repeating the last; counts the calls.
std::vector<int> script;
std::size_t calls = 0;
int scripted() {
  return script[std::min(calls++, script.size() - 1)];
}

class RandomValue : public testing::Test {
 protected:
  void SetUp() override { random.script(&scripted); }
  RandomSource random;
};

TEST_F(RandomValue, OneDrawPer32767AndOneBelowTheRest) {
  const struct {
    std::uint32_t n;
    std::vector<int> script;
    std::size_t calls;
    std::uint32_t result;
  } cases[] = {
      // clang-format off
      {0, {2147483647}, 0, 0}, {1, {2147483647}, 1, 0}, {16, {2147483647}, 1, 15}, {16, {37}, 1, 5},
      {32767, {2147483647}, 1, 1}, {32767, {32766}, 1, 32766}, {32768, {2147483647}, 2, 32767},
      {32768, {32773, 9}, 2, 5},  // a full draw keeps the low 15 bits
      {62462, {2147483647}, 2, 32767 + 637}, {62462, {40000, 100}, 2, 7232 + 100},
      {62462, {32767, 29694}, 2, 62461}, {65535, {2147483647}, 3, 65534},
      {65536, {2147483647}, 3, 32767 + 32767 + 1}, {65536, {0, 0, 2}, 3, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    script = c.script;
    calls = 0;
    const std::uint32_t r = generaterandomvalue(random, c.n);
    EXPECT_EQ(calls, c.calls) << "n=" << c.n;
    EXPECT_EQ(r, c.result) << "n=" << c.n << " first value " << c.script.front();
    EXPECT_TRUE(c.n == 0 || r < c.n) << "n=" << c.n << " gave " << r;
  }
}

}  // namespace
}  // namespace kolvane

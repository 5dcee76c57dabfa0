#include "engine/digits.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kolvane {
namespace {

TEST(Digits, AddAndSubtract) {
  const struct {
    bool add;
    OffsetDigits a, b, result;
  } cases[] = {
      {true, {65535, 65535, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}},
      {true, {0, 0, 0, 65535}, {0, 0, 0, 1}, {0, 0, 0, 0}},  // carry out of d3 lost
      {true, {1, 0, 0, 0}, {65535, 65535, 65535, 65535}, {0, 0, 0, 0}},
      {true, {0x30000, 0, 0, 0}, {0, 0, 0, 0}, {0, 3, 0, 0}},  // the whole upper half carries
      {false, {0, 1, 0, 0}, {1, 0, 0, 0}, {65535, 0, 0, 0}},
      {false, {5, 0, 0, 0}, {7, 0, 0, 0}, {65534, 65535, 65535, 65535}},
      {false, {0, 16, 0, 0}, {2049, 0, 0, 0}, {63487, 15, 0, 0}},
      {false, {1, 2, 3, 4}, {0, 0, 0, 0}, {1, 2, 3, 4}},
      {false, {1, 2, 3, 4}, {1, 2, 3, 4}, {0, 0, 0, 0}},
      // Near 2^63: larger minus smaller stays at or below the sign digit, the reverse goes above.
      {false, {65535, 65535, 65535, 32767}, {1, 0, 0, 0}, {65534, 65535, 65535, 32767}},
      {false, {1, 0, 0, 0}, {65535, 65535, 65535, 32767}, {2, 0, 0, 32768}},
  };
  for (const auto& c : cases) {
    OffsetDigits a = c.a;
    c.add ? addcomponents(a, c.b) : subcomponents(a, c.b);
    EXPECT_EQ(a, c.result) << (c.add ? "add " : "sub ") << join_digits(c.a) << ", "
                           << join_digits(c.b);
  }
  OffsetDigits a{0x8000, 0xFFFF, 1, 2};
  addcomponents(a, a);
  EXPECT_EQ(a, (OffsetDigits{0, 0xFFFF, 3, 4}));
}

TEST(Digits, SplitAndJoin) {
  const struct {
    std::int64_t value;
    OffsetDigits digits;
  } cases[] = {{0, {0, 0, 0, 0}},
               {1048576, {0, 16, 0, 0}},
               {1045502, {62462, 15, 0, 0}},
               {4294967296, {0, 0, 1, 0}},
               {INT64_MAX, {65535, 65535, 65535, 32767}}};
  for (const auto& c : cases) {
    EXPECT_EQ(split_digits(c.value), c.digits) << c.value;
    EXPECT_EQ(join_digits(c.digits), static_cast<std::uint64_t>(c.value)) << c.value;
  }
  EXPECT_EQ(join_digits({0, 0, 0, 0xFFFF}), 0xFFFF000000000000u);
}

TEST(Digits, MinIsUnsigned) {
  EXPECT_EQ(min(UINT64_MAX, 0), 0u);
  EXPECT_EQ(min(0, UINT64_MAX), 0u);
  EXPECT_EQ(min(std::uint64_t{1} << 63, 5), 5u);
  EXPECT_EQ(min(7, 7), 7u);
}

// Hands out the scripted values in order, repeating the last; counts the calls.
std::vector<int> script;
std::size_t calls = 0;
int scripted() {
  const int r = script[calls < script.size() ? calls : script.size() - 1];
  ++calls;
  return r;
}

class RandomValue : public testing::Test {
 protected:
  void SetUp() override { saved_ = random_source, random_source = &scripted; }
  void TearDown() override { random_source = saved_; }

 private:
  RandomSource saved_ = nullptr;
};

TEST_F(RandomValue, ConsumesOneDrawPer32767AndOneBelowTheRest) {
  const struct {
    std::uint32_t n;
    std::vector<int> script;
    std::size_t calls;
    std::uint32_t result;
  } cases[] = {
      {0, {2147483647}, 0, 0},
      {1, {2147483647}, 1, 0},
      {16, {2147483647}, 1, 15},
      {16, {37}, 1, 5},
      {32767, {2147483647}, 1, 1},
      {32767, {32766}, 1, 32766},
      {32768, {2147483647}, 2, 32767},
      {32768, {32773, 9}, 2, 5},  // full draws keep the low 15 bits
      {62462, {2147483647}, 2, 32767 + 637},
      {62462, {40000, 100}, 2, 7232 + 100},
      {62462, {32767, 29694}, 2, 62461},
      {65535, {2147483647}, 3, 65534},
      {65536, {2147483647}, 3, 32767 + 32767 + 1},
      {65536, {0, 0, 2}, 3, 0},
  };
  for (const auto& c : cases) {
    script = c.script;
    calls = 0;
    const std::uint32_t r = generaterandomvalue(c.n);
    EXPECT_EQ(calls, c.calls) << "n=" << c.n;
    EXPECT_EQ(r, c.result) << "n=" << c.n << " first draw " << c.script.front();
    if (c.n > 0)
      EXPECT_LT(r, c.n) << "n=" << c.n;
  }
}

}  // namespace
}  // namespace kolvane

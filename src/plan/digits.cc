#include "plan/digits.h"

namespace kolvane {

std::uint64_t min(std::uint64_t a, std::uint64_t b) {
  return a > b ? b : a;
}

void addcomponents(OffsetDigits& a, const OffsetDigits& b) {
  OffsetDigits sum{};
  std::uint32_t carry = 0;
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t t = a[i] + b[i] + carry;
    sum[i] = t & 0xFFFF;
    carry = t >> 16;  // the carry out of the top digit is dropped
  }
  a = sum;
}

void subcomponents(OffsetDigits& a, const OffsetDigits& b) {
  OffsetDigits complement;
  for (int i = 0; i < 4; ++i) complement[i] = 0xFFFF - b[i];
  addcomponents(complement, OffsetDigits{1, 0, 0, 0});
  addcomponents(a, complement);
}

std::uint32_t generaterandomvalue(RandomSource& random, std::uint32_t n) {
  std::uint32_t sum = 0;
  while (n > 32767) {
    sum += static_cast<std::uint32_t>(random.next() % 32768);
    n -= 32767;
  }
  if (n != 0)
    sum += static_cast<std::uint32_t>(random.next()) % n;
  return sum;
}

OffsetDigits split_digits(std::int64_t v) {
  OffsetDigits d;
  for (int i = 0; i < 4; ++i) {
    d[i] = static_cast<std::uint32_t>(v % 65536);
    v /= 65536;
  }
  return d;
}

std::uint64_t join_digits(const OffsetDigits& d) {
  const std::uint32_t low = d[1] * 65536u + d[0];
  const std::uint32_t high = d[3] * 65536u + d[2];
  return (std::uint64_t{high} << 32) | low;
}

}  // namespace kolvane

#include "cli/parse_integer.h"

#include <vector>

#include "platform/profile.h"

namespace kolvane {
namespace {

bool is_c_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// strtoul with base 10 at the given width: white space, a sign, digits; an overflowing
// magnitude reads as the maximum whatever the sign; no digits reads 0 and leaves `pos` at the
// start of the text.
std::uint64_t read_number(const char*& pos, std::uint64_t max) {
  const char* p = pos;
  while (is_c_space(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (*p < '0' || *p > '9') return 0;
  std::uint64_t n = 0;
  bool overflow = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const std::uint64_t digit = static_cast<std::uint64_t>(*p - '0');
    if (overflow || n > (max - digit) / 10) {
      overflow = true;
    } else {
      n = n * 10 + digit;
    }
  }
  pos = p;
  if (overflow) return max;
  return negative ? (0 - n) & max : n;
}

std::uint64_t unit_multiplier(char c) {
  switch (c) {
    case 'b': case 'B': return 512;
    case 'k': case 'K': return 1024;
    case 'm': case 'M': return 1048576;
    case 'g': case 'G': return 1073741824;
    default: return 0;
  }
}

bool ends_operand(char c) { return c == '\0' || c == ' '; }
bool is_times(char c) { return c == 'x' || c == 'X'; }

}  // namespace

std::uint64_t parse_integer(const char* text, int& invalid, unsigned number_bits) {
  const std::uint64_t max = number_bits >= 64 ? UINT64_MAX : (std::uint64_t{1} << number_bits) - 1;
  // The operands of the product, left to right. A loop rather than recursion: the nesting depth
  // would be set by the argument word.
  std::vector<std::uint64_t> operands;
  const char* pos = text;
  for (;;) {
    std::uint64_t n = read_number(pos, max);
    const char c = *pos;
    if (!ends_operand(c) && !is_times(c)) {
      const std::uint64_t unit = unit_multiplier(c);
      if (unit == 0) {
        invalid = 1;
        return 0;
      }
      n *= unit;
      ++pos;
    }
    operands.push_back(n);
    if (ends_operand(*pos)) break;
    if (!is_times(*pos)) {
      invalid = 1;
      return 0;
    }
    ++pos;
  }
  // Group to the right: a × (b × (c × ...)), each level checking its own product.
  std::uint64_t value = operands.back();
  for (std::size_t i = operands.size() - 1; i-- > 0;) {
    const std::uint64_t n = operands[i];
    const std::uint64_t m = value & max;
    const std::uint64_t product = n * m;
    if (m != 0 && product / m != n) {
      invalid = 1;
      return 0;
    }
    value = product;
  }
  return value;
}

std::uint64_t parse_integer(const char* text, int& invalid) {
  return parse_integer(text, invalid, this_platform().number_bits);
}

}  // namespace kolvane

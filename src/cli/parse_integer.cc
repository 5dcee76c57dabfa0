#include "cli/parse_integer.h"

#include <vector>

namespace kolvane {
namespace {

bool is_c_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A decimal number at the given width: white space, an optional "+", then at least one digit.
// No digit, a "-" sign or a value above `max` is refused (false): a number means what was typed.
bool read_number(const char*& pos, std::uint64_t max, std::uint64_t& n) {
  const char* p = pos;
  while (is_c_space(static_cast<unsigned char>(*p))) ++p;
  if (*p == '+')
    ++p;
  if (*p < '0' || *p > '9')
    return false;
  n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const std::uint64_t digit = static_cast<std::uint64_t>(*p - '0');
    if (n > (max - digit) / 10)
      return false;
    n = n * 10 + digit;
  }
  pos = p;
  return true;
}

std::uint64_t unit_multiplier(char c) {
  switch (c) {
    case 'b':
    case 'B':
      return 512;
    case 'k':
    case 'K':
      return 1024;
    case 'm':
    case 'M':
      return 1048576;
    case 'g':
    case 'G':
      return 1073741824;
    default:
      return 0;
  }
}

bool ends_operand(char c) {
  return c == '\0' || c == ' ';
}
bool is_times(char c) {
  return c == 'x' || c == 'X';
}

}  // namespace

std::uint64_t parse_integer(const char* text, int& invalid, unsigned number_bits) {
  const std::uint64_t max = number_bits >= 64 ? UINT64_MAX : (std::uint64_t{1} << number_bits) - 1;
  const auto refuse = [&invalid] {
    invalid = 1;
    return std::uint64_t{0};
  };
  // The operands of the product, left to right. A loop rather than recursion: the nesting depth
  // would be set by the argument word.
  std::vector<std::uint64_t> operands;
  const char* pos = text;
  for (;;) {
    std::uint64_t n = 0;
    if (!read_number(pos, max, n))
      return refuse();
    const char c = *pos;
    if (!ends_operand(c) && !is_times(c)) {
      const std::uint64_t unit = unit_multiplier(c);
      if (unit == 0 || n > UINT64_MAX / unit)
        return refuse();
      n *= unit;
      ++pos;
    }
    operands.push_back(n);
    if (ends_operand(*pos))
      break;
    if (!is_times(*pos))
      return refuse();
    ++pos;
  }
  // Group to the right: a × (b × (c × ...)), each level checking its own product. What stands
  // after an "x" must fit the number width, as the number itself must.
  std::uint64_t value = operands.back();
  for (std::size_t i = operands.size() - 1; i-- > 0;) {
    const std::uint64_t n = operands[i];
    if (value > max || (value != 0 && n > UINT64_MAX / value))
      return refuse();
    value *= n;
  }
  return value;
}

}  // namespace kolvane

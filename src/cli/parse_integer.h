#pragma once

#include <cstdint>

namespace kolvane {

// Evaluates a size expression: a decimal number read as strtoul reads it, at most one unit
// letter (b k m g), and optionally "x" and another expression that multiplies it (grouping to
// the right, each product checked for overflow). Sets `invalid` to 1 on a malformed text or an
// overflowing product and then returns 0; never clears it. Prints nothing.
// `number_bits` is the width of the number reader (64, or 32 in the Windows program, where the
// operand after an "x" is also cut to 32 bits).
std::uint64_t parse_integer(const char* text, int& invalid, unsigned number_bits);

// The same at this platform's width.
std::uint64_t parse_integer(const char* text, int& invalid);

}  // namespace kolvane

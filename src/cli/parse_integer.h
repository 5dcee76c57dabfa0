#pragma once

#include <cstdint>

namespace kolvane {

// Evaluates a size expression: a decimal number (leading white space and a "+" allowed), at
// most one unit letter (b k m g), and optionally "x" and another expression that multiplies it
// (grouping to the right). Sets `invalid` to 1 and returns 0 when the text is malformed, has an
// operand without a digit or with a "-" sign, or when a number, a unit product or a product
// does not fit; never clears it. Prints nothing. `number_bits` is the width of the numbers (64,
// or 32 in the Windows program, where what stands after an "x" must fit it too).
std::uint64_t parse_integer(const char* text, int& invalid, unsigned number_bits);

}  // namespace kolvane

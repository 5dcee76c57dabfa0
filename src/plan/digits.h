// Byte counts and offsets as four base-65536 digits, least significant first, in 32-bit
// slots. The plan does all its range and offset arithmetic here, digit by digit, and draws
// random offsets one digit at a time from 15-bit pieces of rand(), so a seed always gives the
// same offsets on every platform's generator.
#pragma once

#include <array>
#include <cstdint>

#include "run/random_source.h"

namespace kolvane {

using OffsetDigits = std::array<std::uint32_t, 4>;

// A top digit above this marks a difference that went below zero.
inline constexpr std::uint32_t kNegativeDigit = 0x7FFF;

std::uint64_t min(std::uint64_t a, std::uint64_t b);

// a := (a + b) mod 2^64. a and b may be the same array.
void addcomponents(OffsetDigits& a, const OffsetDigits& b);
// a := (a - b) mod 2^64.
void subcomponents(OffsetDigits& a, const OffsetDigits& b);

// 0 for n = 0, otherwise a value in 0..n-1: the sum of 15-bit draws, one per 32767 of n, and
// a last draw below the remainder. Consumes exactly that many values of `random`.
std::uint32_t generaterandomvalue(RandomSource& random, std::uint32_t n);

OffsetDigits split_digits(std::int64_t v);
std::uint64_t join_digits(const OffsetDigits& d);

}  // namespace kolvane

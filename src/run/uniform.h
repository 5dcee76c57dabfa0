// distribution=uniform: a 64-bit generator of the program's own (xoshiro256**, seeded through
// splitmix64), so that a seed draws the same offsets in every build, whatever the C library's
// rand() is, and every block-aligned offset of a range is equally likely.
#pragma once

#include <cstdint>

namespace kolvane {

class UniformSource {
 public:
  explicit UniformSource(std::uint64_t seed);

  std::uint64_t next();

  // A value in 0..n-1, each equally likely (n > 0): values from the short last stretch of the
  // generator's range are drawn again rather than folded onto the low ones.
  std::uint64_t below(std::uint64_t n);

 private:
  std::uint64_t s_[4] = {};
};

}  // namespace kolvane

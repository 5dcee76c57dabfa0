// The digit-wise draw's generator against the C library it stands in for: built into the
// back end's test program of each platform, so it runs natively against glibc and, in the
// Windows build, under wine against msvcrt.
#include "run/random_source.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/profile.h"

namespace kolvane {
namespace {

// For each seed, the values rand() gives after srand(seed), from generators of this platform's
// algorithm that draw in turns: each keeps a sequence of its own.
TEST(RandomSource, EachGeneratorGivesTheCLibrarySequenceOfItsSeed) {
  constexpr int kValues = 4000;
  const std::uint32_t seeds[] = {0, 1, 7, 2147483647u, 4294967295u};
  std::vector<std::vector<int>> wanted;
  std::vector<RandomSource> generators;
  for (const std::uint32_t seed : seeds) {
    std::srand(seed);
    std::vector<int>& values = wanted.emplace_back();
    for (int i = 0; i < kValues; ++i) values.push_back(std::rand());
    generators.emplace_back(this_platform().rand_algorithm).seed(seed);
  }
  for (int i = 0; i < kValues; ++i) {
    for (std::size_t g = 0; g < generators.size(); ++g)
      ASSERT_EQ(generators[g].next(), wanted[g][i]) << "seed " << seeds[g] << ", value " << i;
  }
}

}  // namespace
}  // namespace kolvane

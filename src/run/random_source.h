// The generator the digit-wise draw of offsets consumes: the platform C library's rand(), made
// again as an object with its own state, so that each run (and later each worker) draws from a
// sequence of its own and a seed still gives the values rand() gave after srand() with it.
#pragma once

#include <array>
#include <cstdint>

#include "platform/profile.h"

namespace kolvane {

class RandomSource {
 public:
  // Values a test wants drawn instead of the generator's, one per call.
  using Script = int (*)();

  // Seeded as rand() is before any srand(): with 1.
  explicit RandomSource(RandAlgorithm algorithm = this_platform().rand_algorithm);

  // As srand(seed): the next values are those rand() gives after it.
  void seed(std::uint32_t seed);

  // The next value, as rand() would return it: 0..2^31-1 or 0..32767, by the algorithm.
  int next() { return script_ != nullptr ? script_() : generate(); }

  // From here on every value comes from `script` (nullptr: from the generator again).
  void script(Script script) { script_ = script; }

 private:
  int generate();

  RandAlgorithm algorithm_;
  Script script_ = nullptr;
  // additive_feedback: the last 31 words in a ring; front_ is the word 31 back, which the next
  // one replaces, and rear_ the word 3 back. linear_congruential: the state in words_[0].
  std::array<std::uint32_t, 31> words_{};
  std::uint32_t front_ = 0;
  std::uint32_t rear_ = 0;
};

}  // namespace kolvane

// mix=R: whether a mixed run's next I/O reads the target or writes it. A stream of its own,
// seeded from the run's seed apart from the offsets' generators, so that mix=70 and mix=0 with
// one seed draw the same offsets; each choice an independent draw, not a fixed pattern.
#pragma once

#include <cstdint>

#include "run/uniform.h"

namespace kolvane {

class MixChoice {
 public:
  MixChoice(std::uint32_t seed, std::uint32_t percent)
      : uniform_(std::uint64_t{seed} ^ 0x6D69785F63686F69ULL), percent_(percent) {}
  // True: a read, with a chance of percent %; false: a write.
  bool reads() { return uniform_.below(100) < percent_; }

 private:
  UniformSource uniform_;
  std::uint32_t percent_;
};

}  // namespace kolvane

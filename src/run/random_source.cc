#include "run/random_source.h"

namespace kolvane {
namespace {

constexpr std::uint32_t kWords = 31;
// The feedback tap: each new word adds the one 31 back and the one 3 back.
constexpr std::uint32_t kTap = 3;
// Values drawn and dropped after seeding, before the first one handed out.
constexpr int kWarmUp = 10 * kWords;

}  // namespace

RandomSource::RandomSource(RandAlgorithm algorithm) : algorithm_(algorithm) {
  seed(1);
}

void RandomSource::seed(std::uint32_t seed) {
  if (algorithm_ == RandAlgorithm::linear_congruential) {
    words_[0] = seed;
    return;
  }
  // The seed taken as a signed 32-bit word (0 as 1), then 16807 × the previous word modulo
  // 2^31 - 1 by Schrage's method, which keeps each product inside 32 bits and gives a negative
  // seed's words as the C library does.
  std::int64_t word = static_cast<std::int32_t>(seed == 0 ? 1 : seed);
  words_[0] = static_cast<std::uint32_t>(word);
  for (std::uint32_t i = 1; i < kWords; ++i) {
    const std::int64_t hi = word / 127773;
    const std::int64_t lo = word % 127773;
    word = 16807 * lo - 2836 * hi;
    if (word < 0)
      word += 2147483647;
    words_[i] = static_cast<std::uint32_t>(word);
  }
  // Words 31 to 33 repeat words 0 to 2, which are still in place: the first new word, the 34th,
  // is word 3 + word 31, stored over word 3.
  front_ = kTap;
  rear_ = 0;
  for (int i = 0; i < kWarmUp; ++i) generate();
}

int RandomSource::generate() {
  if (algorithm_ == RandAlgorithm::linear_congruential) {
    words_[0] = words_[0] * 214013u + 2531011u;
    return static_cast<int>((words_[0] >> 16) & 0x7FFF);
  }
  std::uint32_t& word = words_[front_];
  word += words_[rear_];  // modulo 2^32
  const int value = static_cast<int>(word >> 1);
  front_ = front_ + 1 == kWords ? 0 : front_ + 1;
  rear_ = rear_ + 1 == kWords ? 0 : rear_ + 1;
  return value;
}

}  // namespace kolvane

#include "pattern/stamp.h"

#include <xxhash.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace kolvane {
namespace {

constexpr std::array<unsigned char, 8> kMagic = {'K', 'v', 'S', 't', 'a', 'm', 'p', '1'};

// Field positions; stamp.h has the table.
constexpr std::size_t kOffsetAt = 8;
constexpr std::size_t kLengthAt = 16;
constexpr std::size_t kIterationAt = 24;
constexpr std::size_t kSeedAt = 32;
constexpr std::size_t kWordsAt = 36;
constexpr std::size_t kDataSumAt = 40;
constexpr std::size_t kHeaderSumAt = 48;
static_assert(kHeaderSumAt + 8 == kStampHeaderSize);

template <typename T>
T to_little(T v) {
  if constexpr (std::endian::native == std::endian::big) {
    T swapped = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      swapped = static_cast<T>((swapped << 8) | ((v >> (8 * i)) & 0xFF));
    }
    return swapped;
  }
  return v;
}

template <typename T>
void store_le(std::byte* at, T v) {
  v = to_little(v);
  std::memcpy(at, &v, sizeof v);
}

template <typename T>
T load_le(const std::byte* at) {
  T v;
  std::memcpy(&v, at, sizeof v);
  return to_little(v);
}

// A bijective 64-bit mixer (the splitmix64 finalizer), to spread a seed and an offset over
// the generator's state.
constexpr std::uint64_t mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

constexpr std::uint64_t kStep = 0x9E3779B97F4A7C15u;

// The block's data come from kLanes independent xoshiro256** generators, word w of the block
// (bytes 8w..8w+7, little-endian) being output w / kLanes of lane w % kLanes. The lanes share
// no state, so the compiler keeps them side by side in vector registers; their arithmetic is
// shifts, adds and xors only (x5 and x9 are shifts and adds), which plain SSE2 does. Two lanes
// fill one 128-bit register; four or eight measured slower here (the state spills).
constexpr std::size_t kLanes = 2;

// The whole block from byte 0 (the header is written over the first bytes afterwards). The
// state lives in local arrays, one element per lane, so that it stays in registers.
void generate(std::span<std::byte> block, std::uint64_t offset, std::uint32_t seed) {
  // Every lane's four state words from the stream's key, which mixes the offset and the seed:
  // mix is a bijection, so one seed gives every offset its own key and one offset gives every
  // seed its own key. A lane's mixed state words are distinct, so never all zero.
  const std::uint64_t key = mix(offset ^ mix(seed + kStep));
  std::uint64_t s0[kLanes], s1[kLanes], s2[kLanes], s3[kLanes];
  for (std::size_t j = 0; j < kLanes; ++j) {
    s0[j] = mix(key + (4 * j + 1) * kStep);
    s1[j] = mix(key + (4 * j + 2) * kStep);
    s2[j] = mix(key + (4 * j + 3) * kStep);
    s3[j] = mix(key + (4 * j + 4) * kStep);
  }
  constexpr std::size_t kGroup = 8 * kLanes;
  const auto step = [&](std::byte* out) {
    for (std::size_t j = 0; j < kLanes; ++j) {
      const std::uint64_t x = s1[j] * 5;
      store_le(out + 8 * j, ((x << 7) | (x >> 57)) * 9);
      const std::uint64_t t = s1[j] << 17;
      s2[j] ^= s0[j];
      s3[j] ^= s1[j];
      s1[j] ^= s2[j];
      s0[j] ^= s3[j];
      s2[j] ^= t;
      s3[j] = (s3[j] << 45) | (s3[j] >> 19);
    }
  };
  std::byte* p = block.data();
  std::byte* const whole_end = p + block.size() / kGroup * kGroup;
  for (; p != whole_end; p += kGroup) {
    step(p);
  }
  if (const std::size_t tail = block.size() % kGroup; tail != 0) {
    std::byte last[kGroup];
    step(last);
    std::memcpy(p, last, tail);
  }
}

std::uint64_t data_sum(std::span<const std::byte> block) {
  return XXH3_64bits(block.data() + kStampHeaderSize, block.size() - kStampHeaderSize);
}

std::uint64_t header_sum(std::span<const std::byte> block) {
  return XXH3_64bits(block.data(), kHeaderSumAt);
}

}  // namespace

bool fill_stamped_block(std::span<std::byte> block, std::uint64_t offset, std::uint32_t seed,
                        std::uint64_t iteration, std::uint32_t words) {
  if (block.size() < kMinStampedBlock) {
    return false;
  }
  std::byte* b = block.data();
  generate(block, offset, seed);
  std::memcpy(b, kMagic.data(), kMagic.size());
  store_le<std::uint64_t>(b + kOffsetAt, offset);
  store_le<std::uint64_t>(b + kLengthAt, block.size());
  store_le<std::uint64_t>(b + kIterationAt, iteration);
  store_le<std::uint32_t>(b + kSeedAt, seed);
  store_le<std::uint32_t>(b + kWordsAt, words);
  store_le<std::uint64_t>(b + kDataSumAt, data_sum(block));
  store_le<std::uint64_t>(b + kHeaderSumAt, header_sum(block));
  return true;
}

std::uint32_t words_fingerprint(std::span<const std::byte> words) {
  const auto fingerprint = static_cast<std::uint32_t>(XXH3_64bits(words.data(), words.size()));
  return fingerprint != 0 ? fingerprint : 1;
}

StampCheck check_stamped_block(std::span<const std::byte> block, std::uint64_t offset,
                               std::uint32_t seed) {
  StampCheck check;
  if (block.size() < kStampHeaderSize ||
      std::memcmp(block.data(), kMagic.data(), kMagic.size()) != 0) {
    check.verdict = StampVerdict::no_header;
    return check;
  }
  const std::byte* b = block.data();
  if (load_le<std::uint64_t>(b + kHeaderSumAt) != header_sum(block)) {
    check.verdict = StampVerdict::bad_checksum;
    return check;
  }
  check.header_intact = true;
  check.found = {.offset = load_le<std::uint64_t>(b + kOffsetAt),
                 .length = load_le<std::uint64_t>(b + kLengthAt),
                 .iteration = load_le<std::uint64_t>(b + kIterationAt),
                 .seed = load_le<std::uint32_t>(b + kSeedAt),
                 .words = load_le<std::uint32_t>(b + kWordsAt)};
  if (check.found.offset != offset) {
    check.verdict = StampVerdict::other_offset;
  } else if (check.found.seed != seed) {
    check.verdict = StampVerdict::other_seed;
  } else if (check.found.length != block.size()) {
    check.verdict = StampVerdict::other_length;
  } else if (load_le<std::uint64_t>(b + kDataSumAt) != data_sum(block)) {
    check.verdict = StampVerdict::bad_checksum;
  } else {
    check.verdict = StampVerdict::good;
  }
  return check;
}

std::string describe_stamp_check(const StampCheck& check) {
  switch (check.verdict) {
    case StampVerdict::good:
      return "good";
    case StampVerdict::no_header:
      return "no block header";
    case StampVerdict::bad_checksum:
      return "bad checksum";
    case StampVerdict::other_offset:
      return "block written for offset " + std::to_string(check.found.offset);
    case StampVerdict::other_seed:
      return "block written with seed " + std::to_string(check.found.seed);
    case StampVerdict::other_length:
      return "block written with length " + std::to_string(check.found.length);
  }
  return "unknown verdict";
}

std::optional<std::size_t> first_difference(std::span<const std::byte> written,
                                            std::span<const std::byte> read) {
  const std::size_t common = std::min(written.size(), read.size());
  // memcmp runs at memory speed; only the chunk that differs is searched byte by byte.
  constexpr std::size_t kChunk = 4096;
  for (std::size_t at = 0; at < common; at += kChunk) {
    const std::size_t n = std::min(kChunk, common - at);
    if (std::memcmp(written.data() + at, read.data() + at, n) != 0) {
      for (std::size_t i = at;; ++i) {
        if (written[i] != read[i]) {
          return i;
        }
      }
    }
  }
  if (written.size() != read.size()) {
    return common;
  }
  return std::nullopt;
}

}  // namespace kolvane

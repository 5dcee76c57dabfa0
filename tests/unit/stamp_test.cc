#include "pattern/stamp.h"

#include <gtest/gtest.h>
#include <xxhash.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace kolvane {
namespace {

using Block = std::vector<std::byte>;

Block stamped(std::size_t length, std::uint64_t offset, std::uint32_t seed,
              std::uint64_t iteration = 1) {
  Block b(length);
  EXPECT_TRUE(fill_stamped_block(b, offset, seed, iteration));
  return b;
}

std::string hex(const Block& b, std::size_t from, std::size_t n) {
  std::string s;
  char two[3];
  for (std::size_t i = from; i < from + n; ++i) {
    std::snprintf(two, sizeof two, "%02x", static_cast<unsigned>(b[i]));
    s += two;
  }
  return s;
}

std::uint64_t le64(const Block& b, std::size_t at) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    v |= static_cast<std::uint64_t>(b[at + i]) << (8 * i);
  }
  return v;
}

// The layout is what other runs, and other builds, read back: any change to the header, the
// sums or the generator shows here. The same values hold for the Linux and the Windows build.
// The data bytes were checked once against a separate model of the stream that stamp.cc
// describes (the key, the lanes' seeding, xoshiro256**), not only recorded from this code.
TEST(Stamp, GoldenBlocksPinTheLayoutAndTheGenerator) {
  const Block b = stamped(512, 0x123456789ABCDE00u, 0xC0FFEE01u, 7);
  EXPECT_EQ(hex(b, 0, 8), "4b765374616d7031");   // magic "KvStamp1"
  EXPECT_EQ(hex(b, 8, 8), "00debc9a78563412");   // offset
  EXPECT_EQ(hex(b, 16, 8), "0002000000000000");  // length 512
  EXPECT_EQ(hex(b, 24, 8), "0700000000000000");  // iteration
  EXPECT_EQ(hex(b, 32, 8), "01eeffc000000000");  // seed, reserved
  // The data sum covers the data alone, the header sum the header before it, sums included.
  EXPECT_EQ(le64(b, 40), XXH3_64bits(b.data() + 56, 512 - 56));
  EXPECT_EQ(le64(b, 48), XXH3_64bits(b.data(), 48));
  EXPECT_EQ(hex(b, 40, 16), "4bdc2f2163a4455f9b84d906d222526f");
  EXPECT_EQ(hex(b, 56, 24), "09c08c8fed00ec6419d7a6f4f911efd737b472f327f6b9de");
  EXPECT_EQ(hex(b, 488, 24), "57a215888fe3662fa7a2fc82e99aeab442c4bf018b6e0432");

  // A large block and one whose length is not a whole number of generator words.
  const struct {
    std::size_t length;
    std::uint64_t offset;
    std::uint32_t seed;
    std::uint64_t digest;
  } cases[] = {
      {std::size_t{1} << 20, 0, 1, 10886663039734994694u},
      {1000, 1000 * 12345, 0xFFFFFFFFu, 2238025962666402950u},
  };
  for (const auto& c : cases) {
    const Block big = stamped(c.length, c.offset, c.seed);
    EXPECT_EQ(XXH3_64bits(big.data(), big.size()), c.digest) << c.length;
    EXPECT_EQ(check_stamped_block(big, c.offset, c.seed).verdict, StampVerdict::good);
  }
}

TEST(Stamp, EveryCorruptionGetsItsVerdict) {
  constexpr std::uint64_t kOffset = 8192;
  constexpr std::uint32_t kSeed = 42;
  constexpr std::size_t kLength = 4096;
  const auto flip = [](std::size_t at) { return [at](Block& b) { b[at] ^= std::byte{0x10}; }; };
  const auto replace = [](Block other) { return [other](Block& b) { b = other; }; };
  const struct {
    const char* corruption;
    std::function<void(Block&)> corrupt;
    StampVerdict verdict;
    std::string text;
  } cases[] = {
      {"none", [](Block&) {}, StampVerdict::good, "good"},
      {"another iteration", replace(stamped(kLength, kOffset, kSeed, 99)), StampVerdict::good,
       "good"},
      {"first data byte", flip(56), StampVerdict::bad_checksum, "bad checksum"},
      {"a data byte", flip(2000), StampVerdict::bad_checksum, "bad checksum"},
      {"last data byte", flip(kLength - 1), StampVerdict::bad_checksum, "bad checksum"},
      {"magic", flip(3), StampVerdict::no_header, "no block header"},
      {"all zero", [](Block& b) { std::fill(b.begin(), b.end(), std::byte{0}); },
       StampVerdict::no_header, "no block header"},
      {"other data", [](Block& b) { std::fill(b.begin(), b.end(), std::byte{0xA5}); },
       StampVerdict::no_header, "no block header"},
      // A damaged header is not believed: a flipped bit in a field is not a misplaced block.
      {"offset field", flip(9), StampVerdict::bad_checksum, "bad checksum"},
      {"length field", flip(17), StampVerdict::bad_checksum, "bad checksum"},
      {"iteration field", flip(24), StampVerdict::bad_checksum, "bad checksum"},
      {"seed field", flip(32), StampVerdict::bad_checksum, "bad checksum"},
      {"reserved field", flip(39), StampVerdict::bad_checksum, "bad checksum"},
      {"data sum", flip(40), StampVerdict::bad_checksum, "bad checksum"},
      {"header sum", flip(55), StampVerdict::bad_checksum, "bad checksum"},
      // Whole blocks that are intact but not the one expected here.
      {"block for another offset", replace(stamped(kLength, 4096, kSeed)),
       StampVerdict::other_offset, "block written for offset 4096"},
      {"block for offset 2^63", replace(stamped(kLength, std::uint64_t{1} << 63, kSeed)),
       StampVerdict::other_offset, "block written for offset 9223372036854775808"},
      {"block with another seed", replace(stamped(kLength, kOffset, 4294967295u)),
       StampVerdict::other_seed, "block written with seed 4294967295"},
      {"another offset and seed", replace(stamped(kLength, 0, 7)), StampVerdict::other_offset,
       "block written for offset 0"},
      {"longer block, its start read",
       [&](Block& b) {
         const Block longer = stamped(2 * kLength, kOffset, kSeed);
         std::copy_n(longer.begin(), kLength, b.begin());
       },
       StampVerdict::other_length, "block written with length 8192"},
      {"block cut short", [](Block& b) { b.resize(kLength / 2); }, StampVerdict::other_length,
       "block written with length 4096"},
      {"less than a header", [](Block& b) { b.resize(kStampHeaderSize - 1); },
       StampVerdict::no_header, "no block header"},
  };
  for (const auto& c : cases) {
    Block b = stamped(kLength, kOffset, kSeed);
    c.corrupt(b);
    const StampCheck check = check_stamped_block(b, kOffset, kSeed);
    EXPECT_EQ(check.verdict, c.verdict) << c.corruption;
    EXPECT_EQ(describe_stamp_check(check), c.text) << c.corruption;
  }
}

TEST(Stamp, GoodCheckReportsTheHeader) {
  const Block b = stamped(4096, 1 << 20, 5, 123456789012u);
  const StampCheck check = check_stamped_block(b, 1 << 20, 5);
  ASSERT_EQ(check.verdict, StampVerdict::good);
  EXPECT_EQ(check.found.offset, 1u << 20);
  EXPECT_EQ(check.found.length, 4096u);
  EXPECT_EQ(check.found.seed, 5u);
  EXPECT_EQ(check.found.iteration, 123456789012u);
}

TEST(Stamp, RefusesBlocksShorterThan512) {
  Block b(kMinStampedBlock - 1, std::byte{0x5A});
  EXPECT_FALSE(fill_stamped_block(b, 0, 1, 1));
  EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](std::byte x) { return x == std::byte{0x5A}; }));
}

// How many of the data bytes (after the header) are the same in both blocks.
std::size_t same_data_bytes(const Block& a, const Block& b) {
  std::size_t same = 0;
  for (std::size_t i = kStampHeaderSize; i < a.size(); ++i) {
    same += a[i] == b[i];
  }
  return same;
}

TEST(Stamp, DataDependOnOffsetAndSeedOnly) {
  constexpr std::size_t kLength = 65536;
  const Block base = stamped(kLength, 1 << 20, 1000, 1);
  const struct {
    const char* change;
    Block other;
    bool same_data;
  } cases[] = {
      {"a later iteration", stamped(kLength, 1 << 20, 1000, 2), true},
      {"iteration 2^64-1", stamped(kLength, 1 << 20, 1000, UINT64_MAX), true},
      {"the next block", stamped(kLength, (1 << 20) + kLength, 1000, 1), false},
      {"512 bytes on", stamped(kLength, (1 << 20) + 512, 1000, 1), false},
      {"offset 2^63 higher", stamped(kLength, (1 << 20) | (std::uint64_t{1} << 63), 1000, 1),
       false},
      {"the next seed", stamped(kLength, 1 << 20, 1001, 1), false},
      {"seed 0", stamped(kLength, 1 << 20, 0, 1), false},
  };
  const std::size_t data = kLength - kStampHeaderSize;
  for (const auto& c : cases) {
    const std::size_t same = same_data_bytes(base, c.other);
    if (c.same_data) {
      EXPECT_EQ(same, data) << c.change;
      EXPECT_EQ(hex(base, 0, 24), hex(c.other, 0, 24)) << c.change;
      EXPECT_EQ(hex(base, 32, 16), hex(c.other, 32, 16)) << c.change;  // seed to data sum
    } else {
      // Unrelated bytes agree one time in 256: far from every byte, and far from most.
      EXPECT_LT(same, data / 100) << c.change;
    }
  }
}

// Incompressible: no 64-bit word comes twice in a megabyte (a stuck or repeating generator,
// or two lanes started alike, would), and every byte value is about as common as the others.
TEST(Stamp, DataLookRandom) {
  const Block b = stamped(std::size_t{1} << 20, 0, 3);
  std::vector<std::uint64_t> words;
  for (std::size_t at = kStampHeaderSize; at + 8 <= b.size(); at += 8) {
    words.push_back(le64(b, at));
  }
  std::sort(words.begin(), words.end());
  EXPECT_EQ(std::adjacent_find(words.begin(), words.end()), words.end());

  std::array<double, 256> counts{};
  for (std::size_t i = kStampHeaderSize; i < b.size(); ++i) {
    ++counts[static_cast<unsigned>(b[i])];
  }
  const double expected = static_cast<double>(b.size() - kStampHeaderSize) / 256;
  double chi2 = 0;
  for (double n : counts) {
    chi2 += (n - expected) * (n - expected) / expected;
  }
  // 255 degrees of freedom: above 350 happens by chance about once in 100000 blocks.
  EXPECT_LT(chi2, 350) << "byte values are unevenly spread";
}

TEST(Stamp, FirstDifference) {
  constexpr std::size_t kLength = std::size_t{1} << 20;
  const Block written = stamped(kLength, 0, 9);
  const auto flipped = [&](std::vector<std::size_t> at) {
    Block b = written;
    for (std::size_t i : at) {
      b[i] ^= std::byte{1};
    }
    return b;
  };
  const struct {
    const char* read_back;
    Block read;
    std::optional<std::size_t> first;
  } cases[] = {
      {"the same", written, std::nullopt},
      {"first byte", flipped({0}), 0},
      {"last byte of the first chunk", flipped({4095}), 4095},
      {"first byte of the second chunk", flipped({4096}), 4096},
      {"two bytes, far apart", flipped({kLength - 1, 70000}), 70000},
      {"last byte", flipped({kLength - 1}), kLength - 1},
      {"a short read", Block(written.begin(), written.begin() + 5000), 5000},
      {"a short read that also differs",
       [&] {
         Block b(written.begin(), written.begin() + 5000);
         b[4999] ^= std::byte{1};
         return b;
       }(),
       4999},
      {"nothing", Block{}, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(first_difference(written, c.read), c.first) << c.read_back;
  }
  EXPECT_EQ(first_difference(Block{}, Block{}), std::nullopt);
}

}  // namespace
}  // namespace kolvane

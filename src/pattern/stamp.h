// Stamped blocks: incompressible, reproducible data with a header that says what the block is,
// so that a block read back can be told good, corrupted, misplaced or never written.
//
// A block of `length` bytes (at least 512) written for byte `offset` of the output:
//
//   bytes   field        type (little-endian whatever the host)
//    0..7   magic        the ASCII bytes "KvStamp1"
//    8..15  offset       u64, the byte offset the block is written for
//   16..23  length       u64, the block length
//   24..31  iteration    u64, the run's iteration, for information only
//   32..35  seed         u32
//   36..39  words        u32, a fingerprint of the words that shape the run's offsets; 0:
//                        unknown (blocks of earlier versions, which wrote zero here)
//   40..47  data sum     u64, XXH3-64 of bytes 56..length-1
//   48..55  header sum   u64, XXH3-64 of bytes 0..47 (so it covers the data sum too)
//   56..    data         bytes 56.. of the generator's stream for (seed, offset)
//
// Every byte is covered: a change in the data breaks the data sum, a change in bytes 0..47
// breaks the header sum, a change in the header sum breaks itself. Two sums instead of one let
// the header be trusted on its own: a whole block that landed at the wrong offset has an intact
// header naming where it belongs, while a flipped bit in its offset field is damage, and the
// check reports the two differently instead of inventing an offset.
//
// The data depend on the seed and the offset alone: a block rewritten by a later iteration at
// the same offset differs only in its iteration field and its header sum. The words field lets a
// check tell a block of its own run from one that a run with other words wrote at the same
// place: a check that plans other offsets than the writing run did is not looking at damage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kolvane {

inline constexpr std::size_t kStampHeaderSize = 56;
inline constexpr std::size_t kMinStampedBlock = 512;

// Fills `block` with the stamped block for `offset`, `seed` and `iteration`. Returns false and
// leaves the block untouched when it is shorter than kMinStampedBlock.
[[nodiscard]] bool fill_stamped_block(std::span<std::byte> block, std::uint64_t offset,
                                      std::uint32_t seed, std::uint64_t iteration,
                                      std::uint32_t words = 0);

// The words field for the words of a run in a fixed byte form: a hash of them, never 0.
std::uint32_t words_fingerprint(std::span<const std::byte> words);

enum class StampVerdict {
  good,
  no_header,     // the magic is absent: never written, or overwritten by something else
  bad_checksum,  // the header or the data were changed after the block was stamped
  other_offset,  // an intact block stamped for another offset (found.offset)
  other_seed,    // an intact block stamped with another seed (found.seed)
  other_length,  // an intact header of a block of another length (found.length)
};

// What the block's header says, as far as the verdict could read it.
struct StampFields {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::uint64_t iteration = 0;
  std::uint32_t seed = 0;
  std::uint32_t words = 0;
};

struct StampCheck {
  StampVerdict verdict = StampVerdict::no_header;
  // The magic and the header sum are good, so every field of `found` is as it was stamped
  // (the data may still be damaged).
  bool header_intact = false;
  StampFields found;  // meaningful when the header is intact
};

// Checks a block read back from `offset` against the one stamped for `offset` and `seed` with
// the block's own length (block.size()). In this order: the magic, the header sum, the offset,
// the seed, the length, the data sum. The iteration and the words are not checked.
StampCheck check_stamped_block(std::span<const std::byte> block, std::uint64_t offset,
                               std::uint32_t seed);

// The end of the error line for a verdict other than good, after "...at offset N: ", without
// the line end: "block written for offset 8192", "bad checksum", "no block header", ...
std::string describe_stamp_check(const StampCheck& check);

// The index of the first byte where `read` differs from `written`, or none when they are equal.
// When one is a prefix of the other, the index is the shorter one's size.
std::optional<std::size_t> first_difference(std::span<const std::byte> written,
                                            std::span<const std::byte> read);

}  // namespace kolvane

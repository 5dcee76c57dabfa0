// How a run's work is shared out among its workers, with no I/O in it: which iterations each
// runs, which blocks of a single copy each copies, which part of the output a writing worker
// keeps to, the seed each draws from, and what an unfinished split copy may count.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace kolvane {

// Worker w of n runs iterations w, w + n, w + 2n, ... of `total`: this many.
std::uint32_t iterations_of(std::uint32_t worker, std::uint32_t workers, std::uint32_t total);

// The blocks [first, end) of a single copy of `blocks` blocks that worker w of n copies:
// [w x blocks / n, (w + 1) x blocks / n), every block exactly once, the remainder spread.
struct BlockRange {
  std::uint64_t first = 0;
  std::uint64_t end = 0;
  std::uint64_t size() const { return end - first; }
};
BlockRange blocks_of(std::uint32_t worker, std::uint32_t workers, std::uint64_t blocks);

// The seed worker w draws from: a run of many hosts gives rank r's workers the seeds after
// those of the ranks before it (rank 0 alone: seed + w), mod 2^32.
std::uint32_t worker_seed(std::uint32_t seed, std::uint32_t rank, std::uint32_t workers,
                          std::uint32_t worker);

// Where the entries of a repeated run may start: offsets fixed + r, r below range, rounded down
// to whole blocks, each entry `span` bytes long.
struct StartRange {
  std::uint64_t fixed = 0;
  std::uint64_t range = 0;
};
// The part of `whole` that worker w of n keeps to, so that no entry of one worker overlaps an
// entry of another: the bytes the whole's entries may cover, cut into n parts of whole
// `block`s. Absent when a part cannot hold one entry.
std::optional<StartRange> start_range_of(std::uint32_t worker, std::uint32_t workers,
                                         StartRange whole, std::uint64_t span, std::uint64_t block);

// A split copy that ended early (a failure or a stop): each worker copied a prefix of its own
// range, `copied[w]` blocks of `ranges[w]`. The records count the blocks copied in order from
// the copy's first; the blocks copied past the first gap are listed apart, so that a copy taken
// up again knows where to start and what is already there.
struct CopiedSpan {
  std::uint64_t first = 0;  // the block's number, counting from the copy's first
  std::uint64_t blocks = 0;
};
struct SplitCopyEnd {
  std::uint32_t last_counted = 0;  // the workers up to this one count in the records
  std::vector<CopiedSpan> beyond;
};
SplitCopyEnd split_copy_end(const std::vector<BlockRange>& ranges,
                            const std::vector<std::uint64_t>& copied);

}  // namespace kolvane

#include "workers/share.h"

namespace kolvane {

std::uint32_t iterations_of(std::uint32_t worker, std::uint32_t workers, std::uint32_t total) {
  return worker < total ? (total - worker - 1) / workers + 1 : 0;
}

BlockRange blocks_of(std::uint32_t worker, std::uint32_t workers, std::uint64_t blocks) {
  // w x blocks / n without a product that could pass 2^64: with blocks = q x n + r, it is
  // w x q + w x r / n, and w x r stays below 2^16.
  const std::uint64_t q = blocks / workers;
  const std::uint64_t r = blocks % workers;
  const std::uint64_t w = worker;
  return {w * q + w * r / workers, (w + 1) * q + (w + 1) * r / workers};
}

std::uint32_t worker_seed(std::uint32_t seed, std::uint32_t rank, std::uint32_t workers,
                          std::uint32_t worker) {
  // Unsigned arithmetic wraps: mod 2^32 as the seeds are.
  return seed + rank * workers + worker;
}

std::optional<StartRange> start_range_of(std::uint32_t worker, std::uint32_t workers,
                                         StartRange whole, std::uint64_t span,
                                         std::uint64_t block) {
  // The whole's entries cover [fixed, fixed + range - 1 + span). Parts of whole blocks keep the
  // fixed offset's place within a block, so that an entry rounded down stays in its part.
  const std::uint64_t covered = whole.range + span;
  const std::uint64_t part = covered / workers / block * block;
  if (part <= span)
    return std::nullopt;
  return StartRange{whole.fixed + worker * part, part - span};
}

SplitCopyEnd split_copy_end(const std::vector<BlockRange>& ranges,
                            const std::vector<std::uint64_t>& copied) {
  SplitCopyEnd end;
  std::uint32_t w = 0;
  while (w + 1 < ranges.size() && copied[w] == ranges[w].size()) ++w;
  end.last_counted = w;
  for (++w; w < ranges.size(); ++w) {
    if (copied[w] != 0)
      end.beyond.push_back({ranges[w].first, copied[w]});
  }
  return end;
}

}  // namespace kolvane

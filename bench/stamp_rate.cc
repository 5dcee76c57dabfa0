// How fast blocks are stamped (generated with their checksums) and checked, against memcpy of
// the same blocks: one core, data in the cache as a copier's buffers would be.
//
//   kolvane_stamp_rate [MIB_PER_ROUND [ROUNDS]]     (defaults 16 and 200)
//
// Each row stamps MIB_PER_ROUND MiB in blocks of its size, at successive offsets, ROUNDS times,
// and keeps the fastest round of each kind: on a shared machine many short rounds find the
// moments when the core was the program's alone. Rates in GB/s (10^9 bytes per second).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pattern/stamp.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile unsigned sink;  // keeps the work from being optimised away

template <typename Work>
double best_rate(std::size_t bytes_per_round, int rounds, Work work) {
  double best = 0;
  for (int r = 0; r < rounds; ++r) {
    const auto t0 = Clock::now();
    work();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    const double rate = static_cast<double>(bytes_per_round) / s / 1e9;
    if (rate > best) {
      best = rate;
    }
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 16;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 200;
  if (mib == 0 || rounds <= 0) {
    std::fprintf(stderr, "usage: %s [MIB_PER_ROUND [ROUNDS]]\n", argv[0]);
    return 2;
  }
  const std::size_t total = mib << 20;
  std::printf("| block | stamp GB/s | check GB/s | memcpy GB/s | stamp / memcpy |\n");
  std::printf("| ---: | ---: | ---: | ---: | ---: |\n");
  for (const std::size_t size : {std::size_t{4096}, std::size_t{65536}, std::size_t{1} << 20}) {
    std::vector<std::byte> block(size), source(size);
    const std::size_t blocks = total / size;
    bool filled = kolvane::fill_stamped_block(source, 0, 1, 1);
    const double stamp = best_rate(blocks * size, rounds, [&] {
      for (std::size_t i = 0; i < blocks; ++i) {
        filled &= kolvane::fill_stamped_block(block, i * size, 12345, 1);
      }
      sink = sink + static_cast<unsigned>(block[size - 1]);
    });
    unsigned bad = 0;
    const double check = best_rate(blocks * size, rounds, [&] {
      for (std::size_t i = 0; i < blocks; ++i) {
        // Every block checked is the last one stamped: checking costs the same for any.
        bad += kolvane::check_stamped_block(block, (blocks - 1) * size, 12345).verdict !=
               kolvane::StampVerdict::good;
      }
    });
    const double copy = best_rate(blocks * size, rounds, [&] {
      for (std::size_t i = 0; i < blocks; ++i) {
        source[0] = static_cast<std::byte>(i);
        std::memcpy(block.data(), source.data(), size);
        sink = sink + static_cast<unsigned>(block[size - 1]);
      }
    });
    if (!filled || bad != 0) {
      std::fprintf(stderr, "a block was not stamped, or %u checks of good blocks failed\n", bad);
      return 1;
    }
    std::printf("| %zu | %.2f | %.2f | %.2f | %.2f |\n", size, stamp, check, copy, stamp / copy);
  }
  return 0;
}

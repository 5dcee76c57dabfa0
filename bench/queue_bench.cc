// Random direct reads through the platform's I/O queue, for comparison with fio's io_uring
// engine on the same file. Not a test: it prints what it measured.
//
//   cmake --build out/linux --target kolvane_queue_bench
//   out/linux/kolvane_queue_bench FILE SECONDS DEPTH...   (FILE: a large file, read directly)
//
// Each depth keeps the queue full of 4 KiB reads at random 4 KiB-aligned offsets for SECONDS,
// then prints the I/Os per second and the CPU time (user + system) per I/O.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "platform/io_queue.h"
#include "platform/platform.h"

namespace {

constexpr std::uint32_t kBlock = 4096;

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int run(kolvane::FileHandle file, std::uint64_t blocks, double seconds, std::uint32_t depth) {
  using namespace kolvane;
  auto* buffers = static_cast<unsigned char*>(alloc_aligned(std::uint64_t{depth} * kBlock));
  if (buffers == nullptr) return 1;
  std::string error;
  auto queue = open_io_queue(
      {depth, {{file, IoDirection::read, true}}, {{buffers, std::uint64_t{depth} * kBlock}}},
      error);
  if (queue == nullptr) {
    std::fputs(error.c_str(), stderr);
    free_aligned(buffers);
    return 1;
  }
  std::mt19937_64 random(42);
  std::uniform_int_distribution<std::uint64_t> pick(0, blocks - 1);
  std::vector<std::uint32_t> free_slots;
  for (std::uint32_t s = 0; s < depth; ++s) free_slots.push_back(s);
  std::vector<IoCompletion> done;
  std::uint64_t ios = 0;
  int status = 0;
  const double cpu_start = cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  bool filling = true;
  while (filling || queue->pending() != 0) {
    if (filling && std::chrono::steady_clock::now() >= end) filling = false;
    while (filling && !free_slots.empty()) {
      const std::uint32_t s = free_slots.back();
      free_slots.pop_back();
      queue->queue(IoDirection::read, file, buffers + std::uint64_t{s} * kBlock, kBlock,
                   pick(random) * kBlock, s);
    }
    if (!queue->submit() || !queue->reap(done, true)) {
      std::fputs(queue->failure_text().c_str(), stderr);
      status = 1;
      break;
    }
    for (const IoCompletion& c : done) {
      if (c.result != kBlock) {
        std::fprintf(stderr, "read failed or short: %lld (error %u)\n",
                     static_cast<long long>(c.result), c.error);
        status = 1;
        filling = false;
      }
      free_slots.push_back(static_cast<std::uint32_t>(c.tag));
      ++ios;
    }
    done.clear();
  }
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = cpu_seconds() - cpu_start;
  std::printf("depth %4u: %10.0f IOPS, %6.2f us CPU per I/O, %llu I/Os in %.2f s\n", depth,
              ios / elapsed, cpu / ios * 1e6, static_cast<unsigned long long>(ios), elapsed);
  queue.reset();
  free_aligned(buffers);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s FILE SECONDS DEPTH...\n", argv[0]);
    return 2;
  }
  const kolvane::FileHandle file = kolvane::open_input(argv[1], true);
  std::int64_t size = 0;
  if (file == kolvane::kNoFile || !kolvane::file_size(file, size) || size < kBlock) {
    std::fprintf(stderr, "%s: cannot open it for direct reads, or it is too small\n", argv[1]);
    return 2;
  }
  int status = 0;
  for (int i = 3; i < argc; ++i) {
    const auto depth = static_cast<std::uint32_t>(std::strtoul(argv[i], nullptr, 10));
    status |= run(file, static_cast<std::uint64_t>(size) / kBlock, std::atof(argv[2]), depth);
  }
  kolvane::close_file(file);
  return status;
}

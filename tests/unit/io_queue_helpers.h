// What the queue tests of both platforms share: temporary files, aligned buffers and a loop
// that keeps a queue full until a list of I/Os is done, the way the queued engine will.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/io_queue.h"
#include "platform/platform.h"

namespace kolvane::queue_test {

// The error a read gets from a file opened for writing only (EBADF, ERROR_ACCESS_DENIED);
// defined by each platform's queue test.
extern const std::uint32_t kReadOnWriteOnlyError;
// Whether the open that just failed was refused because the file system takes no direct I/O.
bool direct_refused();

// Each test gets its own directory under the system's temporary directory, removed after it.
class QueueFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Creates (or replaces) a file in the test's directory; returns its path.
  std::string make_file(const std::string& name, const std::vector<unsigned char>& bytes);
  std::string dir_;
};

std::vector<unsigned char> read_file(const std::string& path);
// n bytes counting up from `first`, wrapping every 251 so blocks of 4096 differ.
std::vector<unsigned char> pattern_bytes(std::size_t n, unsigned first);
// `count` distinct block offsets in a file of `blocks` blocks, in a scattered order (blocks
// repeat only when count > blocks).
std::vector<std::uint64_t> scattered_offsets(std::size_t count, std::uint64_t blocks,
                                             std::uint32_t block);

// `count` aligned slots of `size` bytes in one region, as the engine will allocate them.
class Buffers {
 public:
  Buffers(std::size_t count, std::size_t size);
  ~Buffers();
  Buffers(const Buffers&) = delete;
  Buffers& operator=(const Buffers&) = delete;
  unsigned char* slot(std::size_t i) const { return base_ + i * size_; }
  QueueRegion region() const { return {base_, count_ * size_}; }
  // The regions the queue is told of: the whole at first; a test may split it.
  std::vector<QueueRegion> regions;
  // What a write at this offset carries (zeros unless a test says otherwise).
  std::function<void(std::uint64_t offset, unsigned char* data, std::size_t n)> fill;

 private:
  unsigned char* base_;
  std::size_t count_, size_;
};

struct Done {
  std::uint64_t offset;
  std::int64_t result;
  std::uint32_t error;
  std::string text;
  std::vector<unsigned char> bytes;  // a read's bytes, as many as it returned
};

// Runs one I/O per offset through a queue of `depth` over `files`, refilling each slot as its
// completion is reaped; the completions come back in the order reaped. Checks on the way that
// every tag comes back once and that the queue was filled to its depth.
std::vector<Done> run_queue(std::uint32_t depth, const std::vector<QueueFile>& files,
                            Buffers& buffers, FileHandle file, IoDirection direction,
                            const std::vector<std::uint64_t>& offsets, std::uint32_t length);

// Each read came back with what a synchronous read of the same block gives: the same count
// (short or 0 at the end of the file) and the same bytes.
void expect_as_synchronous(FileHandle in, const std::vector<Done>& reads, std::uint32_t length);

// Reaps until nothing is pending.
std::vector<IoCompletion> drain(IoQueue& queue);

}  // namespace kolvane::queue_test

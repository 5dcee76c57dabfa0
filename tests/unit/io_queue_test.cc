// The platform's I/O queue against real temporary files, on both builds (the Windows one under
// wine): what it reads and writes must be what the synchronous calls read and write.
#include "platform/io_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "io_queue_helpers.h"
#include "platform/platform.h"

namespace kolvane {
namespace {

using namespace queue_test;

constexpr std::uint32_t kBlock = 4096;
constexpr std::uint64_t kBlocks = 256;  // a 1 MiB file

TEST_F(QueueFixture, ScatteredReadsGiveWhatSynchronousReadsGive) {
  const std::string path = make_file("in.img", pattern_bytes(kBlocks * kBlock, 11));
  const FileHandle in = open_input(path.c_str(), false);
  ASSERT_NE(in, kNoFile);
  for (const std::uint32_t depth : {1u, 8u, 64u}) {
    SCOPED_TRACE(depth);
    // Five times more I/Os than the depth, so that the queue is refilled as it drains.
    const std::vector<std::uint64_t> offsets = scattered_offsets(depth * 5, kBlocks, kBlock);
    Buffers buffers(depth, kBlock);
    const std::vector<Done> done = run_queue(depth, {{in, IoDirection::read}}, buffers, in,
                                             IoDirection::read, offsets, kBlock);
    ASSERT_EQ(done.size(), offsets.size());
    for (const Done& d : done) EXPECT_EQ(d.result, kBlock);
    expect_as_synchronous(in, done, kBlock);
  }
  close_file(in);
}

TEST_F(QueueFixture, ScatteredWritesLandWhereSynchronousWritesLand) {
  const std::vector<unsigned char> original = pattern_bytes(kBlocks * kBlock, 3);
  const std::string queued = make_file("queued.img", original);
  const std::string direct = make_file("synchronous.img", original);
  bool preexists = false;
  const FileHandle out = open_output(queued.c_str(), false, true, preexists);
  const FileHandle sync = open_output(direct.c_str(), false, true, preexists);
  ASSERT_NE(out, kNoFile);
  ASSERT_NE(sync, kNoFile);
  const std::uint32_t depth = 8;
  const std::vector<std::uint64_t> offsets = scattered_offsets(100, kBlocks, kBlock);
  Buffers buffers(depth, kBlock);
  // Each block written carries its own offset's pattern, so a block landing at the wrong
  // offset, or a buffer refilled before its write completed, shows in the bytes.
  buffers.fill = [](std::uint64_t offset, unsigned char* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<unsigned char>(offset / 4096 * 7 + i);
  };
  const std::vector<Done> done = run_queue(depth, {{out, IoDirection::write}}, buffers, out,
                                           IoDirection::write, offsets, kBlock);
  ASSERT_EQ(done.size(), offsets.size());
  std::vector<unsigned char> block(kBlock);
  for (const Done& d : done) {
    EXPECT_EQ(d.result, kBlock) << d.text;
    buffers.fill(d.offset, block.data(), kBlock);
    ASSERT_TRUE(set_position(sync, d.offset));
    ASSERT_TRUE(write_block(sync, block.data(), kBlock, false));
  }
  close_file(out);
  close_file(sync);
  const std::vector<unsigned char> got = read_file(queued);
  EXPECT_EQ(got.size(), original.size());
  EXPECT_TRUE(got == read_file(direct));
  EXPECT_FALSE(got == original);
}

TEST_F(QueueFixture, DirectReadsAndWritesAtDepthEight) {
  const std::uint64_t blocks = 128;
  const std::vector<unsigned char> data = pattern_bytes(blocks * kBlock, 4);
  const std::string in_path = make_file("in.img", data);
  const std::string out_path = make_file("out.img", std::vector<unsigned char>(blocks * kBlock));
  const FileHandle in = open_input(in_path.c_str(), true);
  if (in == kNoFile && direct_refused())
    GTEST_SKIP() << "the file system refuses direct I/O";
  ASSERT_NE(in, kNoFile);
  bool preexists = false;
  const FileHandle out = open_output(out_path.c_str(), true, true, preexists);
  ASSERT_NE(out, kNoFile);
  const std::vector<std::uint64_t> offsets = scattered_offsets(blocks, blocks, kBlock);
  Buffers buffers(8, kBlock);
  const std::vector<Done> read = run_queue(8, {{in, IoDirection::read, true}}, buffers, in,
                                           IoDirection::read, offsets, kBlock);
  ASSERT_EQ(read.size(), offsets.size());
  for (const Done& d : read) {
    ASSERT_EQ(d.result, kBlock) << "error " << d.error << " " << d.text;
    EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), data.begin() + d.offset));
  }
  // A transfer the direct file refuses at depth 1 (an odd offset into an odd address) is
  // refused the same way through the queue; where the system takes it, both take it.
  {
    unsigned char* odd = buffers.slot(0) + 1;
    ASSERT_TRUE(set_position(in, 100));
    const std::int64_t sync = read_block(in, odd, kBlock);
    const std::string sync_text = last_error_text();
    std::string error;
    auto queue = open_io_queue({1, {{in, IoDirection::read, true}}, {}}, error);
    ASSERT_NE(queue, nullptr) << error;
    ASSERT_TRUE(queue->queue(IoDirection::read, in, odd, kBlock, 100, 5));
    ASSERT_TRUE(queue->submit());
    const std::vector<IoCompletion> done = drain(*queue);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].result, sync);
    if (sync == -1) {
      EXPECT_EQ(done[0].text, sync_text);
    }
  }
  // The output gets the input's blocks back through direct writes, every one in its place.
  buffers.fill = [&](std::uint64_t offset, unsigned char* p, std::size_t n) {
    std::copy_n(data.begin() + offset, n, p);
  };
  const std::vector<Done> written = run_queue(8, {{out, IoDirection::write, true}}, buffers, out,
                                              IoDirection::write, offsets, kBlock);
  for (const Done& d : written) EXPECT_EQ(d.result, kBlock);
  close_file(in);
  close_file(out);
  EXPECT_TRUE(read_file(out_path) == data);
}

TEST_F(QueueFixture, ACopyThroughOneQueueOverTwoFilesGivesTheSameBytes) {
  // What the queued engine does with ibs = obs: each block read is written from the same
  // buffer once its read completes, reads and writes of the two files mixed in one queue.
  const std::vector<unsigned char> data = pattern_bytes(kBlocks * kBlock, 8);
  const FileHandle in = open_input(make_file("in.img", data).c_str(), false);
  const std::string out_path = make_file("out.img", {});
  bool preexists = false;
  const FileHandle out = open_output(out_path.c_str(), false, true, preexists);
  ASSERT_NE(in, kNoFile);
  ASSERT_NE(out, kNoFile);
  const std::uint32_t depth = 8;
  Buffers buffers(depth, kBlock);
  std::string error;
  auto queue = open_io_queue(
      {depth, {{in, IoDirection::read}, {out, IoDirection::write}}, buffers.regions}, error);
  ASSERT_NE(queue, nullptr) << error;
  const std::vector<std::uint64_t> offsets = scattered_offsets(kBlocks, kBlocks, kBlock);
  std::vector<std::uint32_t> free_slots = {0, 1, 2, 3, 4, 5, 6, 7};
  std::size_t next = 0, written = 0;
  std::vector<IoCompletion> done;
  // Tags: the slot in the low bits, the offset's index above, bit 63 for a write.
  constexpr std::uint64_t kWrite = std::uint64_t{1} << 63;
  while (written < offsets.size()) {
    while (next < offsets.size() && !free_slots.empty()) {
      const std::uint32_t s = free_slots.back();
      free_slots.pop_back();
      ASSERT_TRUE(queue->queue(IoDirection::read, in, buffers.slot(s), kBlock, offsets[next],
                               (std::uint64_t{next} << 8) | s));
      ++next;
    }
    ASSERT_TRUE(queue->submit()) << queue->failure_text();
    ASSERT_TRUE(queue->reap(done, true)) << queue->failure_text();
    for (const IoCompletion& c : done) {
      ASSERT_EQ(c.result, kBlock) << "error " << c.error << " " << c.text;
      const std::uint32_t s = c.tag & 0xFF;
      const std::size_t index = (c.tag & ~kWrite) >> 8;
      if (c.tag & kWrite) {
        ++written;
        free_slots.push_back(s);
      } else {
        ASSERT_TRUE(queue->queue(IoDirection::write, out, buffers.slot(s), kBlock, offsets[index],
                                 c.tag | kWrite));
      }
    }
    done.clear();
  }
  queue.reset();
  close_file(in);
  close_file(out);
  EXPECT_TRUE(read_file(out_path) == data);
}

TEST_F(QueueFixture, OffsetsBeyondFourGiBKeepTheirHighBits) {
  // A sparse file: 4 GiB and two blocks, written through the queue above 4 GiB, read back
  // with the synchronous calls, where a lost high half would put the block near 0.
  const std::uint64_t far = (std::uint64_t{1} << 32) + 2 * kBlock;
  const std::string path = make_file("sparse.img", {});
  bool preexists = false;
  const FileHandle out = open_output(path.c_str(), false, true, preexists);
  ASSERT_NE(out, kNoFile);
  Buffers buffers(2, kBlock);
  buffers.fill = [](std::uint64_t offset, unsigned char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(offset / kBlock + i);
  };
  const std::vector<std::uint64_t> offsets = {far, far - kBlock};
  for (const Done& d : run_queue(2, {{out, IoDirection::write}}, buffers, out, IoDirection::write,
                                 offsets, kBlock)) {
    EXPECT_EQ(d.result, kBlock) << "error " << d.error << " " << d.text;
  }
  close_file(out);
  const FileHandle in = open_input(path.c_str(), false);
  ASSERT_NE(in, kNoFile);
  std::int64_t size = 0;
  ASSERT_TRUE(file_size(in, size));
  EXPECT_EQ(size, static_cast<std::int64_t>(far + kBlock));
  const std::vector<Done> read =
      run_queue(2, {{in, IoDirection::read}}, buffers, in, IoDirection::read, {far, 0}, kBlock);
  ASSERT_EQ(read.size(), 2u);
  for (const Done& d : read) EXPECT_EQ(d.result, kBlock);
  expect_as_synchronous(in, read, kBlock);
  close_file(in);
}

TEST_F(QueueFixture, TheEndOfTheFileComesBackAsAtDepthOne) {
  // 2.5 blocks: a whole block, the short tail, then nothing past the end.
  const std::string path = make_file("short.img", pattern_bytes(kBlock * 5 / 2, 5));
  const FileHandle in = open_input(path.c_str(), false);
  ASSERT_NE(in, kNoFile);
  // At depth 1 every I/O reuses the one slot: a read past the end that left a stray
  // completion behind would be taken for the read after it.
  const std::vector<std::uint64_t> offsets = {kBlock,     40 * kBlock, 0,
                                              2 * kBlock, 3 * kBlock,  kBlock};
  for (const std::uint32_t depth : {1u, 4u}) {
    SCOPED_TRACE(depth);
    Buffers buffers(depth, kBlock);
    const std::vector<Done> done = run_queue(depth, {{in, IoDirection::read}}, buffers, in,
                                             IoDirection::read, offsets, kBlock);
    ASSERT_EQ(done.size(), offsets.size());
    expect_as_synchronous(in, done, kBlock);
  }
  close_file(in);
}

TEST_F(QueueFixture, AFailedCompletionKeepsItsTagAndTheSynchronousText) {
  const std::string path = make_file("wo.img", pattern_bytes(8 * kBlock, 1));
  bool preexists = false;
  const FileHandle out = open_output(path.c_str(), false, true, preexists);
  ASSERT_NE(out, kNoFile);
  std::string error;
  auto queue = open_io_queue({4, {{out, IoDirection::write}}, {}}, error);
  ASSERT_NE(queue, nullptr) << error;
  Buffers buffers(4, kBlock);
  // Writes around a read the output's access does not allow: only the read fails.
  ASSERT_TRUE(queue->queue(IoDirection::write, out, buffers.slot(0), kBlock, 0, 100));
  ASSERT_TRUE(queue->queue(IoDirection::read, out, buffers.slot(1), kBlock, kBlock, 101));
  ASSERT_TRUE(queue->queue(IoDirection::write, out, buffers.slot(2), kBlock, 2 * kBlock, 102));
  ASSERT_TRUE(queue->submit()) << queue->failure_text();
  std::vector<IoCompletion> done = drain(*queue);
  ASSERT_EQ(done.size(), 3u);
  std::sort(done.begin(), done.end(),
            [](const IoCompletion& a, const IoCompletion& b) { return a.tag < b.tag; });
  EXPECT_EQ(done[0].result, kBlock);
  EXPECT_EQ(done[2].result, kBlock);
  EXPECT_EQ(done[1].tag, 101u);
  EXPECT_EQ(done[1].result, -1);
  EXPECT_EQ(done[1].error, kReadOnWriteOnlyError);
  // The synchronous read of the same file fails the same way; its text is what is printed at
  // depth 1 after "error reading '%s': ".
  ASSERT_EQ(read_block(out, buffers.slot(3), kBlock), -1);
  EXPECT_EQ(done[1].text, last_error_text());
  EXPECT_EQ(queue->pending(), 0u);
  queue.reset();
  close_file(out);
}

TEST_F(QueueFixture, ReapingWithoutWaitingGathersEverythingInTime) {
  // An engine that polls (reaps without waiting while it has other work) must see every
  // completion sooner or later, not only the ones a wait would have collected.
  // Direct reads, since they complete later than the submission.
  const std::vector<unsigned char> data = pattern_bytes(64 * kBlock, 6);
  const FileHandle in = open_input(make_file("in.img", data).c_str(), true);
  if (in == kNoFile && direct_refused())
    GTEST_SKIP() << "the file system refuses direct I/O";
  ASSERT_NE(in, kNoFile);
  std::string error;
  Buffers buffers(8, kBlock);
  auto queue = open_io_queue({8, {{in, IoDirection::read, true}}, buffers.regions}, error);
  ASSERT_NE(queue, nullptr) << error;
  std::vector<IoCompletion> done;
  ASSERT_TRUE(queue->reap(done, false));  // nothing in flight: nothing, and no waiting
  EXPECT_TRUE(done.empty());
  for (std::uint64_t i = 0; i < 8; ++i) {
    ASSERT_TRUE(queue->queue(IoDirection::read, in, buffers.slot(i), kBlock, 8 * i * kBlock, i));
  }
  ASSERT_TRUE(queue->submit());
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (done.size() < 8 && std::chrono::steady_clock::now() < give_up) {
    ASSERT_TRUE(queue->reap(done, false)) << queue->failure_text();
  }
  ASSERT_EQ(done.size(), 8u);
  EXPECT_EQ(queue->pending(), 0u);
  for (const IoCompletion& c : done) {
    ASSERT_EQ(c.result, kBlock);
    EXPECT_TRUE(std::equal(buffers.slot(c.tag), buffers.slot(c.tag) + kBlock,
                           data.begin() + 8 * c.tag * kBlock));
  }
  queue.reset();
  close_file(in);
}

TEST_F(QueueFixture, TheQueueHoldsNoMoreThanItsDepthAndOnlyItsFiles) {
  const std::string path = make_file("d.img", pattern_bytes(8 * kBlock, 1));
  const FileHandle in = open_input(path.c_str(), false);
  const FileHandle other = open_input(path.c_str(), false);
  ASSERT_NE(in, kNoFile);
  std::string error;
  auto queue = open_io_queue({3, {{in, IoDirection::read}}, {}}, error);
  ASSERT_NE(queue, nullptr) << error;
  Buffers buffers(4, kBlock);
  EXPECT_FALSE(queue->queue(IoDirection::read, other, buffers.slot(0), kBlock, 0, 9));
  for (std::uint64_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(queue->queue(IoDirection::read, in, buffers.slot(i), kBlock, i * kBlock, i));
  }
  EXPECT_FALSE(queue->queue(IoDirection::read, in, buffers.slot(3), kBlock, 0, 3));
  EXPECT_EQ(queue->pending(), 3u);
  ASSERT_TRUE(queue->submit());
  EXPECT_EQ(drain(*queue).size(), 3u);
  EXPECT_TRUE(queue->queue(IoDirection::read, in, buffers.slot(3), kBlock, 0, 3));
  ASSERT_TRUE(queue->submit());
  EXPECT_EQ(drain(*queue).size(), 1u);
  queue.reset();

  for (const std::uint32_t depth : {0u, kMaxQueueDepth + 1}) {
    EXPECT_EQ(open_io_queue({depth, {{in, IoDirection::read}}, {}}, error), nullptr);
    EXPECT_EQ(error, "queue depth " + std::to_string(depth) + " is not in 1..4096\n");
  }
  auto deepest = open_io_queue({kMaxQueueDepth, {{in, IoDirection::read}}, {}}, error);
  EXPECT_NE(deepest, nullptr) << error;
  deepest.reset();
  close_file(in);
  close_file(other);
}

}  // namespace
}  // namespace kolvane

#include "io_queue_helpers.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kolvane::queue_test {

void QueueFixture::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const auto dir = std::filesystem::temp_directory_path() /
                   ("kolvane-queue-" + std::to_string(process_id()) + "-" + info->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  dir_ = dir.string();
}

void QueueFixture::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string QueueFixture::make_file(const std::string& name,
                                    const std::vector<unsigned char>& bytes) {
  const std::string path = (std::filesystem::path(dir_) / name).string();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(out.good()) << path;
  return path;
}

std::vector<unsigned char> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<unsigned char> pattern_bytes(std::size_t n, unsigned first) {
  std::vector<unsigned char> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>((first + i) % 251);
  return v;
}

std::vector<std::uint64_t> scattered_offsets(std::size_t count, std::uint64_t blocks,
                                             std::uint32_t block) {
  // Stepping by a number prime to the block count visits every block before any repeats.
  std::vector<std::uint64_t> offsets;
  std::uint64_t b = 17;
  for (std::size_t i = 0; i < count; ++i) {
    offsets.push_back(b * block);
    b = (b + 97) % blocks;
  }
  return offsets;
}

Buffers::Buffers(std::size_t count, std::size_t size)
    : base_(static_cast<unsigned char*>(alloc_aligned(count * size))), count_(count), size_(size) {
  regions = {region()};
  fill = [](std::uint64_t, unsigned char* data, std::size_t n) { std::fill_n(data, n, 0); };
}

Buffers::~Buffers() { free_aligned(base_); }

std::vector<Done> run_queue(std::uint32_t depth, const std::vector<QueueFile>& files,
                            Buffers& buffers, FileHandle file, IoDirection direction,
                            const std::vector<std::uint64_t>& offsets, std::uint32_t length) {
  std::vector<Done> done;
  std::string error;
  auto queue = open_io_queue({depth, files, buffers.regions}, error);
  EXPECT_NE(queue, nullptr) << error;
  if (queue == nullptr) return done;
  std::vector<std::size_t> free_slots;
  for (std::size_t s = depth; s-- > 0;) free_slots.push_back(s);
  std::vector<bool> returned(offsets.size());
  std::uint32_t most = 0;
  std::size_t next = 0;
  std::vector<IoCompletion> reaped;
  while (next < offsets.size() || queue->pending() != 0) {
    while (next < offsets.size() && !free_slots.empty()) {
      const std::size_t s = free_slots.back();
      if (direction == IoDirection::write) buffers.fill(offsets[next], buffers.slot(s), length);
      // The tag carries the I/O's index and its slot.
      const std::uint64_t tag = (std::uint64_t{next} << 16) | s;
      if (!queue->queue(direction, file, buffers.slot(s), length, offsets[next], tag)) {
        ADD_FAILURE() << "queue() refused I/O " << next;
        return done;
      }
      free_slots.pop_back();
      ++next;
    }
    most = std::max(most, queue->pending());
    if (!queue->submit() || !queue->reap(reaped, true)) {
      ADD_FAILURE() << queue->failure_text();
      return done;
    }
    for (IoCompletion& c : reaped) {
      const std::size_t index = c.tag >> 16, s = c.tag & 0xFFFF;
      if (index >= offsets.size() || returned[index]) {
        ADD_FAILURE() << "tag " << c.tag << " unknown or returned twice";
        return done;
      }
      returned[index] = true;
      Done d{offsets[index], c.result, c.error, std::move(c.text), {}};
      if (direction == IoDirection::read && c.result > 0) {
        d.bytes.assign(buffers.slot(s), buffers.slot(s) + c.result);
      }
      done.push_back(std::move(d));
      free_slots.push_back(s);
    }
    reaped.clear();
  }
  EXPECT_EQ(most, std::min<std::size_t>(depth, offsets.size()));
  return done;
}

void expect_as_synchronous(FileHandle in, const std::vector<Done>& reads, std::uint32_t length) {
  std::vector<unsigned char> expected(length);
  for (const Done& d : reads) {
    SCOPED_TRACE(::testing::Message() << "offset " << d.offset);
    ASSERT_TRUE(set_position(in, d.offset));
    const std::int64_t sync = read_block(in, expected.data(), length);
    EXPECT_EQ(d.result, sync) << "error " << d.error << " " << d.text;
    EXPECT_EQ(d.error, 0u);
    expected.resize(static_cast<std::size_t>(std::max<std::int64_t>(sync, 0)));
    EXPECT_TRUE(d.bytes == expected);
    expected.resize(length);
  }
}

std::vector<IoCompletion> drain(IoQueue& queue) {
  std::vector<IoCompletion> out;
  while (queue.pending() != 0) {
    const std::size_t before = out.size();
    if (!queue.reap(out, true) || out.size() == before) {
      ADD_FAILURE() << "nothing reaped: " << queue.failure_text();
      break;
    }
  }
  return out;
}

}  // namespace kolvane::queue_test

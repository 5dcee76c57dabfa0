// The Linux queue's own cases: io_uring refused, registration refused, direct I/O, and a
// failure the device itself gives (a loop device with 4096-byte sectors, where root allows).
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io_queue_helpers.h"
#include "platform/io_queue.h"
#include "platform/platform.h"
#include "platform/posix/uring_calls.h"

namespace kolvane {
namespace queue_test {
const std::uint32_t kReadOnWriteOnlyError = EBADF;
bool direct_refused() {
  return errno == EINVAL;
}
}  // namespace queue_test
namespace {

using namespace queue_test;

constexpr std::uint32_t kBlock = 4096;

struct Seam {
  std::vector<int> init_results;  // what each io_uring_queue_init call returns, in turn
  std::vector<unsigned> init_flags;
  int register_files = 0, register_buffers = 0;  // forced results; 0: the real call
  int file_calls = 0, buffer_calls = 0;
  std::vector<int> submit_results, wait_results;  // forced results, in turn; 0: the real call
} g;

// The next forced result from `results`, or 0 for the real call.
int forced(std::vector<int>& results) {
  if (results.empty())
    return 0;
  const int r = results.front();
  results.erase(results.begin());
  return r;
}

class UringQueue : public QueueFixture {
 protected:
  void SetUp() override {
    QueueFixture::SetUp();
    g = Seam{};
    UringCalls& c = uring_calls();
    c.queue_init = [](unsigned entries, struct io_uring* ring, unsigned flags) {
      g.init_flags.push_back(flags);
      const std::size_t n = g.init_flags.size() - 1;
      if (n < g.init_results.size() && g.init_results[n] != 0)
        return g.init_results[n];
      return real_uring_calls().queue_init(entries, ring, flags);
    };
    c.register_files = [](struct io_uring* ring, const int* files, unsigned count) {
      ++g.file_calls;
      return g.register_files != 0 ? g.register_files
                                   : real_uring_calls().register_files(ring, files, count);
    };
    c.register_buffers = [](struct io_uring* ring, const struct iovec* v, unsigned count) {
      ++g.buffer_calls;
      return g.register_buffers != 0 ? g.register_buffers
                                     : real_uring_calls().register_buffers(ring, v, count);
    };
    c.submit = [](struct io_uring* ring) {
      const int r = forced(g.submit_results);
      return r != 0 ? r : real_uring_calls().submit(ring);
    };
    c.wait_cqe = [](struct io_uring* ring, struct io_uring_cqe** cqe) {
      const int r = forced(g.wait_results);
      return r != 0 ? r : real_uring_calls().wait_cqe(ring, cqe);
    };
  }
  void TearDown() override {
    uring_calls() = real_uring_calls();
    QueueFixture::TearDown();
  }
};

TEST_F(UringQueue, RefusedIoUringIsReportedWithTheSystemsText) {
  const std::string path = make_file("in.img", pattern_bytes(kBlock, 0));
  const FileHandle in = open_input(path.c_str(), false);
  ASSERT_NE(in, kNoFile);
  // clang-format off
  const struct { std::vector<int> results; std::size_t calls; const char* text; } rows[] = {
      {{-EPERM}, 1, "io_uring is not available: Operation not permitted\n"},
      {{-ENOSYS}, 1, "io_uring is not available: Function not implemented\n"},
      // A kernel that does not know the preferred flags is asked again without them.
      {{-EINVAL, -ENOMEM}, 2, "io_uring is not available: Cannot allocate memory\n"}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    g = Seam{};
    g.init_results = r.results;
    std::string error;
    EXPECT_EQ(open_io_queue({8, {{in, IoDirection::read}}, {}}, error), nullptr);
    EXPECT_EQ(error, r.text);
    ASSERT_EQ(g.init_flags.size(), r.calls);
    EXPECT_EQ(g.init_flags.back() == 0, r.calls == 2);
  }
  // Only EINVAL is taken for unknown flags: the retry then works as the system allows.
  g = Seam{};
  g.init_results = {-EINVAL};
  std::string error;
  EXPECT_NE(open_io_queue({8, {{in, IoDirection::read}}, {}}, error), nullptr) << error;
  EXPECT_EQ(g.init_flags, (std::vector<unsigned>{g.init_flags[0], 0u}));
  close_file(in);
}

TEST_F(UringQueue, RefusedRegistrationStillMovesTheRightBytes) {
  const std::uint64_t blocks = 64;
  const std::vector<unsigned char> data = pattern_bytes(blocks * kBlock, 9);
  const FileHandle in = open_input(make_file("in.img", data).c_str(), false);
  ASSERT_NE(in, kNoFile);
  // clang-format off
  const struct { int files, buffers; } rows[] = {
      {0, 0}, {-EMFILE, 0}, {0, -ENOMEM}, {-EMFILE, -ENOMEM}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << "files " << r.files << " buffers " << r.buffers);
    g = Seam{};
    g.register_files = r.files;
    g.register_buffers = r.buffers;
    // Two registered buffers, told in the reverse of their order in memory, so that each I/O
    // must name the right one.
    Buffers buffers(8, kBlock);
    buffers.regions = {{buffers.slot(4), 4 * kBlock}, {buffers.slot(0), 4 * kBlock}};
    const std::vector<Done> done =
        run_queue(8, {{in, IoDirection::read}}, buffers, in, IoDirection::read,
                  scattered_offsets(40, blocks, kBlock), kBlock);
    EXPECT_EQ(g.file_calls, 1);
    EXPECT_EQ(g.buffer_calls, 1);
    ASSERT_EQ(done.size(), 40u);
    for (const Done& d : done) {
      ASSERT_EQ(d.result, kBlock) << std::strerror(static_cast<int>(d.error));
      EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), data.begin() + d.offset));
    }
  }
  close_file(in);
}

TEST_F(UringQueue, InterruptedCallsAreRetriedAndRefusedSubmissionsReported) {
  const std::vector<unsigned char> data = pattern_bytes(16 * kBlock, 3);
  const FileHandle in = open_input(make_file("in.img", data).c_str(), false);
  ASSERT_NE(in, kNoFile);
  // clang-format off
  const struct { std::vector<int> submit, wait; bool submitted; const char* text; } rows[] = {
      {{-EINTR, -EINTR}, {-EINTR}, true, ""},
      {{-EBUSY}, {}, false, "Device or resource busy\n"},
      {{-EINTR, -EAGAIN}, {}, false, "Resource temporarily unavailable\n"}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    g = Seam{};
    g.submit_results = r.submit;
    g.wait_results = r.wait;
    Buffers buffers(4, kBlock);
    std::string error;
    auto queue = open_io_queue({4, {{in, IoDirection::read}}, buffers.regions}, error);
    ASSERT_NE(queue, nullptr) << error;
    for (std::uint64_t i = 0; i < 4; ++i) {
      ASSERT_TRUE(queue->queue(IoDirection::read, in, buffers.slot(i), kBlock, i * kBlock, i));
    }
    EXPECT_EQ(queue->submit(), r.submitted);
    EXPECT_EQ(queue->failure_text(), r.text);
    EXPECT_TRUE(g.submit_results.empty());
    if (r.submitted) {
      const std::vector<IoCompletion> done = drain(*queue);
      ASSERT_EQ(done.size(), 4u);
      EXPECT_TRUE(g.wait_results.empty());
      for (const IoCompletion& c : done) {
        EXPECT_EQ(c.result, kBlock);
        EXPECT_TRUE(std::equal(buffers.slot(c.tag), buffers.slot(c.tag) + kBlock,
                               data.begin() + c.tag * kBlock));
      }
    }
    // Nothing the kernel was not given is waited for: the queue closes at once.
    queue.reset();
  }
  close_file(in);
}

// A loop device over an image, detached whatever happens.
class LoopDevice {
 public:
  LoopDevice(const std::string& image, unsigned sector) {
    const std::string command =
        "losetup -f --show --sector-size " + std::to_string(sector) + " " + image + " 2>/dev/null";
    if (FILE* p = popen(command.c_str(), "r")) {
      char line[256] = {};
      if (std::fgets(line, sizeof line, p) != nullptr)
        path_ = line;
      if (pclose(p) != 0)
        path_.clear();
    }
    while (!path_.empty() && path_.back() == '\n') path_.pop_back();
  }
  ~LoopDevice() {
    if (!path_.empty())
      (void)std::system(("losetup -d " + path_).c_str());
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST_F(UringQueue, ADirectReadTheDeviceRefusesFailsInFlight) {
  if (geteuid() != 0)
    GTEST_SKIP() << "loop devices need root";
  const std::vector<unsigned char> data = pattern_bytes(64 * kBlock, 2);
  const LoopDevice loop(make_file("disk.img", data), 4096);
  if (loop.path().empty())
    GTEST_SKIP() << "no loop device could be attached";
  const FileHandle dev = open_input(loop.path().c_str(), true);
  ASSERT_NE(dev, kNoFile) << std::strerror(errno);
  EXPECT_EQ(file_kind(dev), FileKind::device);
  std::string error;
  Buffers buffers(2, kBlock);
  {
    auto queue = open_io_queue({2, {{dev, IoDirection::read}}, {buffers.region()}}, error);
    ASSERT_NE(queue, nullptr) << error;
    ASSERT_TRUE(queue->queue(IoDirection::read, dev, buffers.slot(0), 512, 0, 1));
    ASSERT_TRUE(queue->queue(IoDirection::read, dev, buffers.slot(1), kBlock, 3 * kBlock, 2));
    ASSERT_TRUE(queue->submit()) << queue->failure_text();
    std::vector<IoCompletion> done = drain(*queue);
    ASSERT_EQ(done.size(), 2u);
    if (done[0].tag != 1)
      std::swap(done[0], done[1]);
    EXPECT_EQ(done[0].result, -1);
    EXPECT_EQ(done[0].error, std::uint32_t{EINVAL});
    EXPECT_EQ(done[1].result, kBlock);
    EXPECT_TRUE(std::equal(buffers.slot(1), buffers.slot(1) + kBlock, data.begin() + 3 * kBlock));
  }
  close_file(dev);
}

}  // namespace
}  // namespace kolvane

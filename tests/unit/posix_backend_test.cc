#include <errno.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_calls.h"

namespace kolvane {
namespace {

// Scripted read and write results: a byte count (at most the count asked), or one of these.
constexpr ssize_t kAll = -3;   // everything asked
constexpr ssize_t kIntr = -2;  // -1 with EINTR; a plain -1 fails with EIO
constexpr std::size_t kMax = kMaxTransferPerCall;

struct Script {
  std::vector<ssize_t> results;
  std::size_t next = 0, alignment = 0;
  std::vector<std::size_t> asks;
  std::string sink;
  int flags = 0;  // the descriptor's status flags, as fcntl reports them
  std::vector<int> flag_sets, write_flags, closed;
  std::vector<std::tuple<std::string, int, mode_t>> opens;
  bool exists = false, memalign_fails = false;
} g;

ssize_t step(std::size_t n) {
  g.asks.push_back(n);
  const ssize_t r = g.next < g.results.size() ? g.results[g.next++] : -1;
  if (r == kAll)
    return static_cast<ssize_t>(n);
  if (r >= 0)
    return std::min(r, static_cast<ssize_t>(n));
  errno = r == kIntr ? EINTR : EIO;
  return -1;
}

class PosixBackend : public testing::Test {
 protected:
  void SetUp() override {
    g = Script{};
    PosixCalls& c = posix_calls();
    c.read = [](int, void*, size_t n) { return step(n); };
    c.write = [](int, const void* data, size_t n) {
      g.write_flags.push_back(g.flags);
      const ssize_t r = step(n);
      g.sink.append(static_cast<const char*>(data),
                    static_cast<std::size_t>(std::max<ssize_t>(r, 0)));
      return r;
    };
    c.fcntl_get = [](int) { return g.flags; };
    c.fcntl_set = [](int, int flags) {
      g.flag_sets.push_back(g.flags = flags);
      return 0;
    };
    c.open = [](const char* path, int flags, mode_t mode) {
      g.opens.emplace_back(path, flags, flags & O_CREAT ? mode : 0);  // mode matters only then
      return 7;
    };
    c.access = [](const char*, int) { return g.exists ? 0 : -1; };
    c.close = [](int fd) {
      g.closed.push_back(fd);
      return 0;
    };
    c.memalign = [](void** memory, size_t alignment, size_t n) {
      g.alignment = alignment;
      return g.memalign_fails ? ENOMEM : real_posix_calls().memalign(memory, alignment, n);
    };
  }
  void TearDown() override { posix_calls() = real_posix_calls(); }
};

TEST_F(PosixBackend, WriteCompletesTheBlockOrFails) {
  // clang-format off
  const struct { std::vector<ssize_t> results; bool ok; std::string sink; } rows[] = {
      {{4, 4, kAll}, true, "hello world"}, {{kIntr, kAll}, true, "hello world"},
      {{0}, false, ""}, {{-1}, false, ""}, {{5, kIntr, 0}, false, "hello"}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.sink + (r.ok ? " ok" : " fails"));
    g = Script{};
    g.results = r.results;
    EXPECT_EQ(write_block(5, "hello world", 11, false), r.ok);
    EXPECT_EQ(g.sink, r.sink);
    EXPECT_EQ(g.asks.size(), r.results.size());
  }
}

TEST_F(PosixBackend, ReadContinuesOnlyAfterThePerCallMaximum) {
  const std::size_t big = std::size_t{3} << 30, rest = big - kMax;
  // Address space only: the scripted reads never touch it.
  void* space = mmap(nullptr, big, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(space, MAP_FAILED);
  // clang-format off
  const struct { std::uint64_t n; std::vector<ssize_t> results; std::int64_t got;
                 std::vector<std::size_t> asks; } rows[] = {
      {big, {kMax, kAll}, static_cast<std::int64_t>(big), {kMax, rest}},
      {big, {kMax, 100}, kMax + 100, {kMax, rest}},
      {big, {kMax, 0}, kMax, {kMax, rest}},
      {big, {kMax, -1}, -1, {kMax, rest}},
      {kMax, {kMax}, kMax, {kMax}},
      {big, {1000}, 1000, {kMax}},
      {4096, {100}, 100, {4096}},
      {4096, {kIntr, kAll}, 4096, {4096, 4096}},
      {4096, {-1}, -1, {4096}}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.n << " asked, " << r.got << " expected");
    g = Script{};
    g.results = r.results;
    EXPECT_EQ(read_block(3, space, r.n), r.got);
    EXPECT_EQ(g.asks, r.asks);
  }
  munmap(space, big);
}

TEST_F(PosixBackend, TailWriteLeavesTheDirectPathForThatWriteOnly) {
  const int direct = O_WRONLY | O_DIRECT;
  // clang-format off
  const struct { bool tail; int flags; ssize_t result; std::vector<int> sets; int during; } rows[] = {
      {true, direct, kAll, {O_WRONLY, direct}, O_WRONLY}, {true, direct, -1, {O_WRONLY, direct}, O_WRONLY},
      {true, O_WRONLY, kAll, {}, O_WRONLY}, {false, direct, kAll, {}, direct}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.tail << " " << r.flags << " " << r.result);
    g = Script{};
    g.flags = r.flags;
    g.results = {r.result};
    EXPECT_EQ(write_block(5, "abc", 3, r.tail), r.result == kAll);
    EXPECT_EQ(g.flag_sets, r.sets);
    EXPECT_EQ(g.write_flags, std::vector<int>{r.during});
  }
}

TEST_F(PosixBackend, OpenOutputFlags) {
  const int create = O_WRONLY | O_CREAT | O_TRUNC;
  const auto opened = [](const char* path, int flags) {
    return std::vector{
        std::tuple<std::string, int, mode_t>(path, flags, flags & O_CREAT ? 0600 : 0)};
  };
  // clang-format off
  const struct { const char* name; bool direct, notrunc, exists, preexists;
                 std::vector<std::tuple<std::string, int, mode_t>> opens; } rows[] = {
      {"out", false, false, true, false, opened("out", create)},
      {"out", true, false, false, false, opened("out", create | O_DIRECT)},
      {"out", false, true, true, true, opened("out", O_WRONLY)},
      {"out", true, true, true, true, opened("out", O_WRONLY | O_DIRECT)},
      {"out", false, true, false, false, {}},
      {"nul", true, true, false, true, opened("/dev/null", O_WRONLY)}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.name << r.direct << r.notrunc << r.exists);
    g = Script{};
    g.exists = r.exists;
    bool preexists = !r.preexists;
    EXPECT_EQ(open_output(r.name, r.direct, r.notrunc, preexists), r.opens.empty() ? kNoFile : 7);
    EXPECT_EQ(preexists, r.preexists);
    EXPECT_EQ(g.opens, r.opens);
  }
}

TEST_F(PosixBackend, AlignedBuffersAndTheirFailure) {
  for (const std::uint64_t n : {1u, 512u, 5000u}) {
    void* p = alloc_aligned(n);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 4096, 0u);
    free_aligned(p);
  }
  EXPECT_EQ(g.alignment, 4096u);
  g.memalign_fails = true;
  EXPECT_EQ(alloc_aligned(512), nullptr);
}

TEST_F(PosixBackend, StandardStreamsStayOpen) {
  close_file(0);
  close_file(1);
  close_file(9);
  EXPECT_EQ(g.closed, std::vector<int>{9});
}

}  // namespace
}  // namespace kolvane

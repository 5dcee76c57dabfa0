#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_calls.h"
#include "platform/signals.h"

namespace kolvane {

std::string wrong_access_text() {
  return std::string(std::strerror(EBADF)) + "\n";
}

namespace {

// Scripted read and write results: a byte count (at most the count asked), or one of these.
constexpr ssize_t kAll = -3;   // everything asked
constexpr ssize_t kIntr = -2;  // -1 with EINTR; a plain -1 fails with EIO
constexpr std::size_t kMax = kMaxTransferPerCall;
constexpr off_t kOwnPosition = -1;

struct Script {
  std::vector<ssize_t> results;
  std::size_t next = 0, alignment = 0;
  std::vector<std::size_t> asks;
  std::vector<off_t> offsets;  // of each read or write: kOwnPosition for the plain calls
  std::string sink;
  int flags = 0;          // the descriptor's status flags, as fcntl reports them
  int fail_flag_set = 0;  // the Nth fcntl_set fails with EBADF
  std::vector<int> flag_sets, write_flags, closed;
  std::vector<std::tuple<std::string, int, mode_t>> opens;
  bool exists = false, memalign_fails = false;
  bool writable = true;             // a stream has room for a write that does not wait
  mode_t kind = S_IFREG;            // what stat and fstat report the file to be
  off_t st_size = 0;                // fstat's size
  unsigned long long capacity = 0;  // a block device's, as the device reports it
  int fail_errno = 0;               // open, fstat, lseek, close and the device query fail so
} g;

// A call that fails as the script says, 0 otherwise.
int scripted() {
  if (g.fail_errno == 0)
    return 0;
  errno = g.fail_errno;
  return -1;
}

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

ssize_t read_at(std::size_t n, off_t at) {
  g.offsets.push_back(at);
  return step(n);
}

ssize_t write_at(const void* data, std::size_t n, off_t at) {
  g.offsets.push_back(at);
  g.write_flags.push_back(g.flags);
  const ssize_t r = step(n);
  g.sink.append(static_cast<const char*>(data), static_cast<std::size_t>(std::max<ssize_t>(r, 0)));
  return r;
}

class PosixBackend : public testing::Test {
 protected:
  void SetUp() override {
    g = Script{};
    PosixCalls& c = posix_calls();
    c.read = [](int, void*, size_t n) { return read_at(n, kOwnPosition); };
    c.pread = [](int, void*, size_t n, off_t at) { return read_at(n, at); };
    c.write = [](int, const void* data, size_t n) { return write_at(data, n, kOwnPosition); };
    c.pwrite = [](int, const void* data, size_t n, off_t at) { return write_at(data, n, at); };
    c.writable = [](int) { return g.writable; };
    c.fcntl_get = [](int) { return g.flags; };
    c.fcntl_set = [](int, int flags) {
      g.flag_sets.push_back(flags);
      if (static_cast<int>(g.flag_sets.size()) == g.fail_flag_set) {
        errno = EBADF;
        return -1;
      }
      g.flags = flags;
      return 0;
    };
    c.open = [](const char* path, int flags, mode_t mode) {
      g.opens.emplace_back(path, flags, flags & O_CREAT ? mode : 0);  // mode matters only then
      if (!g.exists && !(flags & O_CREAT)) {
        errno = ENOENT;
        return -1;
      }
      return scripted() == 0 ? 7 : -1;
    };
    c.stat = [](const char*, struct stat* st) {
      *st = {};
      st->st_mode = g.kind;
      return g.exists ? 0 : (errno = ENOENT, -1);
    };
    c.fstat = [](int, struct stat* st) {
      *st = {};
      st->st_mode = g.kind;
      st->st_size = g.st_size;
      return scripted();
    };
    c.device_size = [](int, unsigned long long* bytes) {
      *bytes = g.capacity;
      return scripted();
    };
    c.lseek = [](int, off_t at, int) { return scripted() == 0 ? at : off_t{-1}; };
    c.close = [](int fd) {
      g.closed.push_back(fd);
      return scripted();
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
    EXPECT_EQ(static_cast<bool>(write_block(5, "hello world", 11, false)), r.ok);
    EXPECT_EQ(g.sink, r.sink);
    EXPECT_EQ(g.asks.size(), r.results.size());
  }
}

// An interrupted read is made again unless a request is waiting to be answered: then the
// engine gets it back (to stop, or to show the counts and read again). A write to a stream and
// an open are given up only for a stop, with the bytes that went out; a positioned write is
// always finished.
TEST_F(PosixBackend, RequestsCutStreamCallsShortButNeverPositionedWrites) {
  // clang-format off
  const struct { StopRequest stop; bool status; std::int64_t read; bool open; } rows[] = {
      {StopRequest::none, false, 5, true},
      {StopRequest::interrupt, false, kReadInterrupted, false},
      {StopRequest::terminate, false, kReadInterrupted, false},
      {StopRequest::none, true, kReadInterrupted, true}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.stop) * 2 + r.status);
    g = Script{};
    g.exists = true;
    simulate_request(r.stop, r.status);
    char buffer[8];
    g.results = {kIntr, 5};
    EXPECT_EQ(read_block(5, buffer, 8), r.read);
    const bool stop = r.stop != StopRequest::none;
    g.results = {2, kIntr, kAll};
    g.next = 0;
    g.sink.clear();
    const Written written = write_block(5, "hello", 5, false);
    EXPECT_EQ(written.end, stop ? Written::End::stopped : Written::End::all);
    EXPECT_EQ(written.moved, stop ? 2u : 5u);
    EXPECT_EQ(g.sink, stop ? "he" : "hello");
    // After a stop, a stream with no room is not waited on; one with room takes at most PIPE_BUF.
    g.writable = false;
    g.results = {kAll};
    g.next = 0;
    g.sink.clear();
    EXPECT_EQ(static_cast<bool>(write_block(5, "hello", 5, false)), !stop);
    EXPECT_EQ(g.sink, stop ? "" : "hello");
    g.writable = true;
    g.asks.clear();
    const std::string big(PIPE_BUF + 1, 'x');
    g.results = {kAll, kAll};
    EXPECT_TRUE(write_block(5, big.data(), big.size(), false));
    EXPECT_EQ(g.asks.front(), stop ? PIPE_BUF : big.size());
    g.results = {kIntr, kAll};
    g.next = 0;
    g.sink.clear();
    EXPECT_TRUE(write_block_at(5, "hello", 5, 0, false));
    EXPECT_EQ(g.sink, "hello");
    posix_calls().open = [](const char*, int, mode_t) {
      return g.next++ == 0 ? (errno = EINTR, -1) : 7;
    };
    g.next = 0;
    EXPECT_EQ(open_input("in", false) != kNoFile, r.open);
    simulate_request(StopRequest::none, false);
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

// A positioned read or write is one pread or pwrite at the offset; a call cut short at the
// per-call limit, or a write cut short anywhere, goes on at the offset past what it moved.
TEST_F(PosixBackend, PositionedCallsGoOnPastWhatTheyMoved) {
  const std::size_t big = std::size_t{3} << 30;
  void* space = mmap(nullptr, big, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(space, MAP_FAILED);
  const off_t far = off_t{5} << 30;
  const auto read = [&] { return read_block_at(3, space, big, far) == kMax + 100; };
  const auto write = [] { return write_block_at(5, "hello world", 11, 7, false); };
  const auto tail = [] { return write_block_at(5, "hello world", 11, 7, true); };
  const auto plain = [] { return static_cast<bool>(write_block(5, "hello world", 11, false)); };
  // clang-format off
  const struct { const char* what; std::function<bool()> call; std::vector<ssize_t> results;
                 std::vector<off_t> offsets; } rows[] = {
      {"read past the limit", read, {kMax, 100}, {far, far + static_cast<off_t>(kMax)}},
      {"short writes", write, {4, kIntr, 4, kAll}, {7, 11, 11, 15}},
      {"tail", tail, {kAll}, {7}},
      {"standard stream", plain, {4, kAll}, {kOwnPosition, kOwnPosition}}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    g = Script{};
    g.flags = O_WRONLY | O_DIRECT;
    g.results = r.results;
    EXPECT_TRUE(r.call());
    EXPECT_EQ(g.offsets, r.offsets);
  }
  munmap(space, big);
}

// The direct path comes back after the tail, and a tail write that cannot leave it, or cannot
// restore it, fails: later blocks must not be cached silently.
TEST_F(PosixBackend, TailWriteLeavesTheDirectPathForThatWriteOnly) {
  const int direct = O_WRONLY | O_DIRECT;
  const std::vector<int> none;
  // clang-format off
  const struct { bool tail; int flags, fail_set; ssize_t result; bool ok; std::vector<int> sets, during; } rows[] = {
      {true, direct, 0, kAll, true, {O_WRONLY, direct}, {O_WRONLY}},
      {true, direct, 0, -1, false, {O_WRONLY}, {O_WRONLY}},
      {true, direct, 1, kAll, false, {O_WRONLY}, none},
      {true, direct, 2, kAll, false, {O_WRONLY, direct}, {O_WRONLY}},
      {true, O_WRONLY, 0, kAll, true, {}, {O_WRONLY}},
      {false, direct, 0, kAll, true, {}, {direct}}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message()
                 << r.tail << " " << r.flags << " " << r.fail_set << " " << r.result);
    g = Script{};
    g.flags = r.flags;
    g.fail_flag_set = r.fail_set;
    g.results = {r.result};
    EXPECT_EQ(static_cast<bool>(write_block(5, "abc", 3, r.tail)), r.ok);
    EXPECT_EQ(g.flag_sets, r.sets);
    EXPECT_EQ(g.write_flags, r.during);
    if (r.fail_set != 0) {
      EXPECT_EQ(last_error_text(), std::string(std::strerror(EBADF)) + "\n");
    }
  }
}

TEST_F(PosixBackend, OpenOutputFlags) {
  const int create = O_WRONLY | O_CREAT | O_TRUNC;
  const auto opened = [](const char* path, int flags) {
    return std::vector{
        std::tuple<std::string, int, mode_t>(path, flags, flags & O_CREAT ? 0600 : 0)};
  };
  // clang-format off
  const struct { const char* name; bool direct, notrunc, exists; mode_t kind; bool opened, preexists;
                 std::vector<std::tuple<std::string, int, mode_t>> opens; } rows[] = {
      {"out", false, false, true, S_IFREG, true, false, opened("out", create)},
      {"out", true, false, false, S_IFREG, true, false, opened("out", create | O_DIRECT)},
      {"out", false, true, true, S_IFREG, true, true, opened("out", O_WRONLY)},
      {"out", true, true, true, S_IFREG, true, true, opened("out", O_WRONLY | O_DIRECT)},
      // The open itself is the existence test: it fails, and nothing is created.
      {"out", false, true, false, S_IFREG, false, false, opened("out", O_WRONLY)},
      // A block device is claimed for this run alone, truncated or not.
      {"dev", false, false, true, S_IFBLK, true, false, opened("dev", O_WRONLY | O_EXCL)},
      {"dev", true, true, true, S_IFBLK, true, true, opened("dev", O_WRONLY | O_EXCL | O_DIRECT)},
      {"tty", false, false, true, S_IFCHR, true, false, opened("tty", create)},
      {"nul", true, true, true, S_IFREG, true, true, opened("/dev/null", O_WRONLY)}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.name << r.direct << r.notrunc << r.exists);
    g = Script{};
    g.exists = r.exists;
    g.kind = r.kind;
    bool preexists = !r.preexists;
    EXPECT_EQ(open_output(r.name, r.direct, r.notrunc, preexists), r.opened ? 7 : kNoFile);
    EXPECT_EQ(preexists, r.preexists);
    EXPECT_EQ(g.opens, r.opens);
  }
}

// Each failed call leaves its own errno's text for the message, even when later calls (the
// printing of the message's prefix, for one) change errno before the text is asked for.
TEST_F(PosixBackend, EveryFailureKeepsItsOwnSystemText) {
  char buffer[16];
  bool preexists = false;
  std::int64_t size = 0;
  // clang-format off
  const struct { const char* what; int fail_errno; std::vector<ssize_t> results; bool exists;
                 std::function<bool()> fails; int shown; } rows[] = {
      {"open input", EACCES, {}, true, [] { return open_input("in", false) == kNoFile; }, EACCES},
      {"open output", EROFS, {}, true, [&] { return open_output("out", false, false, preexists) == kNoFile; }, EROFS},
      {"notrunc, missing", 0, {}, false, [&] { return open_output("out", false, true, preexists) == kNoFile; }, ENOENT},
      {"size", EIO, {}, true, [&] { return !file_size(7, size); }, EIO},
      {"position", EINVAL, {}, true, [] { return !set_position(7, 5); }, EINVAL},
      {"read", 0, {-1}, true, [&] { return read_block(7, buffer, 16) == -1; }, EIO},
      {"write", 0, {-1}, true, [] { return !write_block(7, "abc", 3, false); }, EIO},
      {"write takes nothing", 0, {0}, true, [] { return !write_block(7, "abc", 3, false); }, ENOSPC},
      {"positioned read", 0, {-1}, true, [&] { return read_block_at(7, buffer, 16, 512) == -1; }, EIO},
      {"positioned write takes nothing", 0, {2, 0}, true, [] { return !write_block_at(7, "abc", 3, 512, false); }, ENOSPC},
      {"later write takes nothing", 0, {1, kIntr, 0}, true, [] { return !write_block(7, "abc", 3, false); }, ENOSPC},
      {"close", ENOSPC, {}, true, [] { return !close_file(7); }, ENOSPC}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    g = Script{};
    g.fail_errno = r.fail_errno;
    g.results = r.results;
    g.exists = r.exists;
    ASSERT_TRUE(r.fails());
    errno = EPERM;
    EXPECT_EQ(last_error_text(), std::string(std::strerror(r.shown)) + "\n");
  }
}

// A block device reports st_size 0; its capacity is the device's own.
TEST_F(PosixBackend, SizeIsTheCapacityOfABlockDevice) {
  // clang-format off
  const struct { mode_t kind; off_t st_size; unsigned long long capacity; std::int64_t size; } rows[] = {
      {S_IFREG, 5000, 1u << 20, 5000}, {S_IFBLK, 0, 1ull << 40, std::int64_t{1} << 40},
      {S_IFIFO, 0, 1u << 20, 0}, {S_IFCHR, 0, 1u << 20, 0}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.kind);
    g = Script{};
    g.kind = r.kind;
    g.st_size = r.st_size;
    g.capacity = r.capacity;
    std::int64_t size = -1;
    ASSERT_TRUE(file_size(7, size));
    EXPECT_EQ(size, r.size);
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
  EXPECT_TRUE(close_file(0));
  EXPECT_TRUE(close_file(1));
  EXPECT_TRUE(close_file(9));
  EXPECT_EQ(g.closed, std::vector<int>{9});
}

// The first stop request is noted for the run to answer; a second one, of either signal, ends
// the program at once by that signal, whatever the run is waiting on.
TEST(PosixSignals, ASecondStopRequestEndsTheProgramAtOnce) {
  const int pairs[][2] = {{SIGINT, SIGINT}, {SIGINT, SIGTERM}, {SIGTERM, SIGINT}};
  for (const auto& pair : pairs) {
    SCOPED_TRACE(std::to_string(pair[0]) + " then " + std::to_string(pair[1]));
    EXPECT_EXIT(
        {
          install_signal_handlers();
          raise(pair[0]);
          if (stop_requested() == StopRequest::none)
            _exit(1);
          raise(pair[1]);
          _exit(0);
        },
        testing::KilledBySignal(pair[1]), "");
  }
}

}  // namespace
}  // namespace kolvane

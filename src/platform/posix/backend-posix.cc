// The file operations over POSIX calls, with large-file offsets (_FILE_OFFSET_BITS=64 maps
// open, lseek and fstat to their 64-bit forms) and O_DIRECT for direct transfers.
#include <errno.h>
#include <stdlib.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/posix/posix_calls.h"
#include "platform/profile.h"

namespace kolvane {
namespace {

static_assert(sizeof(off_t) == 8, "the back end needs 64-bit file offsets");

constexpr mode_t kCreateMode = S_IRUSR | S_IWUSR;
constexpr int kStandardInput = 0;
constexpr int kStandardOutput = 1;

int real_open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int real_fcntl_get(int fd) { return ::fcntl(fd, F_GETFL); }
int real_fcntl_set(int fd, int flags) { return ::fcntl(fd, F_SETFL, flags); }
int real_fstat(int fd, struct stat* st) { return ::fstat(fd, st); }

const PosixCalls kRealCalls = {
    &real_open, &real_fstat,     &::lseek, &::read,   &::write,
    &real_fcntl_get, &real_fcntl_set, &::close, &::access, &::posix_memalign,
};

PosixCalls g_calls = kRealCalls;

int fd_of(FileHandle file) { return static_cast<int>(file); }

std::uint64_t min_size(std::uint64_t n) { return n > kMaxTransferPerCall ? kMaxTransferPerCall : n; }

// One write of n bytes, retried when interrupted; -1 on failure.
ssize_t write_once(int fd, const unsigned char* data, size_t n) {
  for (;;) {
    const ssize_t put = g_calls.write(fd, data, n);
    if (put >= 0 || errno != EINTR) return put;
  }
}

[[gnu::noinline]] bool write_all(int fd, const unsigned char* data, std::uint64_t n) {
  while (n != 0) {
    const ssize_t put = write_once(fd, data, static_cast<size_t>(min_size(n)));
    if (put <= 0) {
      // A write that takes nothing would never finish the block.
      if (put == 0) errno = EIO;
      return false;
    }
    data += put;
    n -= static_cast<std::uint64_t>(put);
  }
  return true;
}

// What write_all would do after its first call returned `put` for a block of n bytes: kept out
// of line so that the common case, one call taking the whole block, stays a few instructions.
[[gnu::noinline]] bool finish_write(int fd, const unsigned char* data, std::uint64_t n,
                                    ssize_t put) {
  if (put < 0) return errno == EINTR && write_all(fd, data, n);
  if (put == 0) {
    errno = EIO;
    return false;
  }
  return write_all(fd, data + put, n - static_cast<std::uint64_t>(put));
}

// Devices refuse direct transfers of odd lengths: this one block goes through the cache.
[[gnu::noinline]] bool write_past_direct(int fd, const unsigned char* data, std::uint64_t n) {
  const int flags = g_calls.fcntl_get(fd);
  const bool was_direct = flags != -1 && (flags & O_DIRECT) != 0;
  if (was_direct) g_calls.fcntl_set(fd, flags & ~O_DIRECT);
  const bool ok = write_all(fd, data, n);
  if (was_direct) {
    const int saved = errno;
    g_calls.fcntl_set(fd, flags);
    errno = saved;
  }
  return ok;
}

}  // namespace

PosixCalls& posix_calls() { return g_calls; }
const PosixCalls& real_posix_calls() { return kRealCalls; }

const PlatformProfile& this_platform() { return posix_profile; }

FileHandle open_input(const char* name, bool direct) {
  if (name == nullptr) return kStandardInput;
  return g_calls.open(name, O_RDONLY | (direct ? O_DIRECT : 0), 0);
}

bool output_exists(const char* name) { return g_calls.access(name, F_OK) == 0; }

FileHandle open_output(const char* name, bool direct, bool notrunc, bool& output_preexists) {
  if (name == nullptr) return kStandardOutput;
  if (std::strcmp(name, "nul") == 0) {
    output_preexists = true;
    return g_calls.open("/dev/null", O_WRONLY, 0);
  }
  output_preexists = output_exists(name);
  const int direct_flag = direct ? O_DIRECT : 0;
  if (!notrunc) {
    output_preexists = false;
    return g_calls.open(name, O_WRONLY | O_CREAT | O_TRUNC | direct_flag, kCreateMode);
  }
  if (!output_preexists) return kNoFile;
  return g_calls.open(name, O_WRONLY | direct_flag, 0);
}

bool file_size(FileHandle file, std::int64_t& size) {
  struct stat st;
  if (g_calls.fstat(fd_of(file), &st) != 0) return false;
  size = st.st_size;
  return true;
}

FileKind file_kind(FileHandle file) {
  struct stat st;
  if (g_calls.fstat(fd_of(file), &st) != 0) return FileKind::stream;
  if (S_ISREG(st.st_mode)) return FileKind::regular;
  if (S_ISBLK(st.st_mode)) return FileKind::device;
  return FileKind::stream;
}

bool set_position(FileHandle file, std::uint64_t offset) {
  return g_calls.lseek(fd_of(file), static_cast<off_t>(offset), SEEK_SET) != -1;
}

std::int64_t read_block(FileHandle file, void* buffer, std::uint64_t n) {
  // A block one call can carry: a call that returns the per-call maximum has then returned
  // the whole block, so any count it gives is the result.
  if (n <= kMaxTransferPerCall) {
    for (;;) {
      const ssize_t r = g_calls.read(fd_of(file), buffer, static_cast<size_t>(n));
      if (r >= 0) return r;
      if (errno != EINTR) return -1;
    }
  }
  auto* data = static_cast<unsigned char*>(buffer);
  std::uint64_t got = 0;
  for (;;) {
    const std::uint64_t want = n - got;
    const size_t ask = want > kMaxTransferPerCall ? kMaxTransferPerCall : want;
    const ssize_t r = g_calls.read(fd_of(file), data + got, ask);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    got += static_cast<std::uint64_t>(r);
    // Only a read cut at the per-call limit is continued; any other short count is a partial
    // record as the input gave it.
    if (static_cast<size_t>(r) != kMaxTransferPerCall || got == n) {
      return static_cast<std::int64_t>(got);
    }
  }
}

bool write_block(FileHandle file, const void* buffer, std::uint64_t n, bool unaligned_tail) {
  const int fd = fd_of(file);
  const auto* data = static_cast<const unsigned char*>(buffer);
  if (unaligned_tail) return write_past_direct(fd, data, n);
  if (n == 0 || n > kMaxTransferPerCall) return write_all(fd, data, n);
  const ssize_t put = g_calls.write(fd, data, static_cast<size_t>(n));
  if (put == static_cast<ssize_t>(n)) return true;
  return finish_write(fd, data, n, put);
}

void close_file(FileHandle file) {
  const int fd = fd_of(file);
  if (fd == kStandardInput || fd == kStandardOutput || fd < 0) return;
  g_calls.close(fd);
}

void* alloc_aligned(std::uint64_t n) {
  if (n > SIZE_MAX) return nullptr;
  void* memory = nullptr;
  if (g_calls.memalign(&memory, kBufferAlignment, static_cast<size_t>(n)) != 0) return nullptr;
  return memory;
}

void free_aligned(void* buffer) { ::free(buffer); }

// The POSIX program prints no system text after its error prefixes.
std::string last_error_text() { return {}; }

std::uint32_t process_id() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace kolvane

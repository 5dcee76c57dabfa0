// The system calls the POSIX back end makes, behind a table that tests can replace to make
// calls fail, come back short or be interrupted.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>

namespace kolvane {

struct PosixCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*fstat)(int fd, struct stat* st);
  int (*stat)(const char* path, struct stat* st);
  // A block device's capacity in bytes (the BLKGETSIZE64 request).
  int (*device_size)(int fd, unsigned long long* bytes);
  off_t (*lseek)(int fd, off_t offset, int whence);
  ssize_t (*read)(int fd, void* buffer, size_t n);
  ssize_t (*write)(int fd, const void* buffer, size_t n);
  int (*fcntl_get)(int fd);
  int (*fcntl_set)(int fd, int flags);
  int (*close)(int fd);
  int (*memalign)(void** memory, size_t alignment, size_t size);
  ssize_t (*pread)(int fd, void* buffer, size_t n, off_t offset);
  ssize_t (*pwrite)(int fd, const void* buffer, size_t n, off_t offset);
  // Whether a write would take bytes at once, without waiting (poll for POLLOUT, no timeout).
  bool (*writable)(int fd);
};

// The table in use; the real calls unless a test has swapped them.
PosixCalls& posix_calls();
const PosixCalls& real_posix_calls();

// Linux moves at most this many bytes in one read or write.
inline constexpr std::size_t kMaxTransferPerCall = 0x7FFFF000;

}  // namespace kolvane

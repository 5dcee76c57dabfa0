// The file operations over POSIX calls, with large-file offsets (_FILE_OFFSET_BITS=64 maps
// open, lseek and fstat to their 64-bit forms) and O_DIRECT for direct transfers.
#include <errno.h>
#include <limits.h>
#include <linux/fs.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/posix/posix_calls.h"
#include "platform/profile.h"
#include "platform/signals.h"

namespace kolvane {
namespace {

static_assert(sizeof(off_t) == 8, "the back end needs 64-bit file offsets");

constexpr mode_t kCreateMode = S_IRUSR | S_IWUSR;
constexpr int kStandardInput = 0;
constexpr int kStandardOutput = 1;
constexpr int kStandardError = 2;

int real_open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int real_fcntl_get(int fd) { return ::fcntl(fd, F_GETFL); }
int real_fcntl_set(int fd, int flags) { return ::fcntl(fd, F_SETFL, flags); }
int real_fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int real_stat(const char* path, struct stat* st) { return ::stat(path, st); }
int real_device_size(int fd, unsigned long long* bytes) {
  return ::ioctl(fd, BLKGETSIZE64, bytes);
}
bool real_writable(int fd) {
  pollfd p{fd, POLLOUT, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT) != 0;
}

const PosixCalls kRealCalls = {
    &real_open,      &real_fstat,     &real_stat, &real_device_size, &::lseek, &::read,   &::write,
    &real_fcntl_get, &real_fcntl_set, &::close,   &::posix_memalign, &::pread, &::pwrite,
    &real_writable,
};

PosixCalls g_calls = kRealCalls;

// The errno of the call that failed, taken at once: printing the error prefix is a call too,
// and may change errno before the text is asked for.
// One per thread: each worker tells its own failed call.
thread_local int g_error = 0;

// Every failure path returns through here, so the text printed is the failed call's.
template <typename Result>
Result failed(Result result, int error = errno) {
  g_error = error;
  return result;
}

// One system call, made again for as long as a signal interrupts it, unless `give_up` says the
// interruption is the caller's to answer. A read, a write or an open blocked on a pipe or
// terminal is given up for a stop, so the run ends with what it has instead of waiting on a
// peer that may never come; a write to a file the program positions never waits on a peer and
// is always finished, so no byte already read is lost there.
template <typename Call>
auto retry_interrupted(Call call, bool (*give_up)() = nullptr) {
  for (;;) {
    const auto result = call();
    if (result >= 0 || errno != EINTR || (give_up != nullptr && give_up())) return result;
  }
}

bool stop_pending() { return stop_requested() != StopRequest::none; }


int fd_of(FileHandle file) { return static_cast<int>(file); }

std::uint64_t min_size(std::uint64_t n) { return n > kMaxTransferPerCall ? kMaxTransferPerCall : n; }

// Where a call moves its bytes: at the descriptor's own position (a standard stream, whose
// position a shell may share), or at an offset the engine keeps, with one positioned call.
struct Place {
  int fd;
  bool positioned;
  off_t offset;

  // The bytes of a call went through: a positioned call's next one goes on after them.
  void advance(ssize_t moved) {
    if (positioned)
      offset += moved;
  }
};

Place at_position(FileHandle file) {
  return {fd_of(file), false, 0};
}
Place at_offset(FileHandle file, std::uint64_t offset) {
  return {fd_of(file), true, static_cast<off_t>(offset)};
}

ssize_t write_once(const Place& at, const unsigned char* data, std::uint64_t n) {
  auto ask = static_cast<size_t>(min_size(n));
  if (at.positioned)
    return retry_interrupted([&] { return g_calls.pwrite(at.fd, data, ask, at.offset); });
  // Once a stop is asked, a stream takes only what it takes at once (the bytes read before the
  // request, written as the run ends): a reader that does not read would otherwise swallow the
  // request. Up to PIPE_BUF bytes go into a pipe that has room without waiting.
  if (stop_pending()) {
    if (!g_calls.writable(at.fd)) {
      errno = EINTR;
      return -1;
    }
    ask = ask < PIPE_BUF ? ask : PIPE_BUF;
  }
  return retry_interrupted([&] { return g_calls.write(at.fd, data, ask); }, stop_pending);
}

// What follows a write call that did not take the whole block: `put` is its result. Kept out of
// line so that the common case, one call taking the whole block, stays a few instructions.
[[gnu::noinline]] Written finish_write(Place at, const unsigned char* data, std::uint64_t n,
                                       ssize_t put) {
  std::uint64_t moved = 0;
  for (;;) {
    if (put < 0 && errno == EINTR) return {Written::End::stopped, moved};
    if (put < 0) return failed(Written{Written::End::failed, moved});
    // A write that takes nothing would never finish the block: the device has no room.
    if (put == 0) return failed(Written{Written::End::failed, moved}, ENOSPC);
    data += put;
    n -= static_cast<std::uint64_t>(put);
    moved += static_cast<std::uint64_t>(put);
    at.advance(put);
    if (n == 0) return {Written::End::all, moved};
    put = write_once(at, data, n);
  }
}

Written write_all(const Place& at, const unsigned char* data, std::uint64_t n) {
  if (n == 0) return {};
  return finish_write(at, data, n, write_once(at, data, n));
}

// Devices refuse direct transfers of odd lengths: this one block goes through the cache. The
// direct path must come back afterwards, or every later block would silently be cached.
[[gnu::noinline]] Written write_past_direct(const Place& at, const unsigned char* data,
                                            std::uint64_t n) {
  const Written refused{Written::End::failed, 0};
  const int flags = g_calls.fcntl_get(at.fd);
  if (flags == -1) return failed(refused);
  const bool was_direct = (flags & O_DIRECT) != 0;
  if (was_direct && g_calls.fcntl_set(at.fd, flags & ~O_DIRECT) == -1)
    return failed(refused);
  const Written written = write_all(at, data, n);
  // A stopped write still leaves the direct path as it found it.
  if (written.end == Written::End::failed)
    return written;
  if (was_direct && g_calls.fcntl_set(at.fd, flags) == -1)
    return failed(Written{Written::End::failed, written.moved});
  return written;
}

Written write_from(const Place& at, const void* buffer, std::uint64_t n, bool unaligned_tail) {
  const auto* data = static_cast<const unsigned char*>(buffer);
  if (unaligned_tail)
    return write_past_direct(at, data, n);
  if (n == 0)
    return {};
  const ssize_t put = write_once(at, data, n);
  if (put == static_cast<ssize_t>(n))
    return {Written::End::all, n};
  return finish_write(at, data, n, put);
}

std::int64_t read_into(Place at, void* buffer, std::uint64_t n) {
  auto* data = static_cast<unsigned char*>(buffer);
  std::uint64_t got = 0;
  for (;;) {
    const size_t ask = static_cast<size_t>(min_size(n - got));
    // A status request is answered between reads too: the engine makes the read again.
    const ssize_t r = retry_interrupted(
        [&] {
          return at.positioned ? g_calls.pread(at.fd, data + got, ask, at.offset)
                               : g_calls.read(at.fd, data + got, ask);
        },
        request_pending);
    if (r < 0) {
      // Bytes of a very large block that came before the request are data all the same.
      if (errno == EINTR)
        return got != 0 ? static_cast<std::int64_t>(got) : kReadInterrupted;
      return failed(std::int64_t{-1});
    }
    got += static_cast<std::uint64_t>(r);
    at.advance(r);
    // Only a read cut at the per-call limit is continued; any other short count is a partial
    // record as the input gave it. A block one call can carry ends here after one call.
    if (static_cast<size_t>(r) != kMaxTransferPerCall || got == n) {
      return static_cast<std::int64_t>(got);
    }
  }
}

bool is_block_device(const char* name) {
  struct stat st;
  return g_calls.stat(name, &st) == 0 && S_ISBLK(st.st_mode);
}

FileHandle checked_open(const char* name, int flags, mode_t mode) {
  const int fd = retry_interrupted([&] { return g_calls.open(name, flags, mode); }, stop_pending);
  return fd >= 0 ? fd : failed(kNoFile);
}

// Only regular files, block devices and pipes (and sockets, which carry a stream the same way)
// can be the same file as the data: terminals and the null device are character devices.
bool identity_of(const struct stat& st, FileIdentity& identity) {
  if (S_ISCHR(st.st_mode) || S_ISDIR(st.st_mode)) return false;
  identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

}  // namespace

PosixCalls& posix_calls() { return g_calls; }
const PosixCalls& real_posix_calls() { return kRealCalls; }

const PlatformProfile& this_platform() { return posix_profile; }

FileHandle open_input(const char* name, bool direct) {
  if (name == nullptr) return kStandardInput;
  return checked_open(name, O_RDONLY | (direct ? O_DIRECT : 0), 0);
}

FileHandle open_output(const char* name, bool direct, bool notrunc, bool& output_preexists,
                       OutputAccess access) {
  if (name == nullptr) return kStandardOutput;
  const int write_mode = access == OutputAccess::read_write ? O_RDWR : O_WRONLY;
  if (std::strcmp(name, "nul") == 0) {
    output_preexists = true;
    return checked_open("/dev/null", O_WRONLY, 0);
  }
  const int direct_flag = direct ? O_DIRECT : 0;
  // O_EXCL on a block device claims it: a mounted file system or another claim refuses the
  // open (EBUSY) instead of having its blocks overwritten. Truncation means nothing there.
  if (is_block_device(name)) {
    const FileHandle fd = checked_open(name, write_mode | O_EXCL | direct_flag, 0);
    output_preexists = notrunc && fd != kNoFile;
    return fd;
  }
  if (!notrunc) {
    output_preexists = false;
    return checked_open(name, write_mode | O_CREAT | O_TRUNC | direct_flag, kCreateMode);
  }
  // Opening without O_CREAT is the existence test: no gap between asking and opening.
  const FileHandle fd = checked_open(name, write_mode | direct_flag, 0);
  output_preexists = fd != kNoFile;
  return fd;
}

bool name_is_stream(const char* name) {
  struct stat st;
  return g_calls.stat(name, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode) &&
         !S_ISDIR(st.st_mode);
}

bool name_is_device(const char* name) { return is_block_device(name); }

bool file_size(FileHandle file, std::int64_t& size) {
  struct stat st;
  if (g_calls.fstat(fd_of(file), &st) != 0) return failed(false);
  if (!S_ISBLK(st.st_mode)) {
    size = st.st_size;
    return true;
  }
  // The system reports a block device's st_size as 0: its capacity comes from the device.
  unsigned long long bytes = 0;
  if (g_calls.device_size(fd_of(file), &bytes) != 0) return failed(false);
  size = static_cast<std::int64_t>(bytes);
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
  if (g_calls.lseek(fd_of(file), static_cast<off_t>(offset), SEEK_SET) == -1) return failed(false);
  return true;
}

std::int64_t read_block(FileHandle file, void* buffer, std::uint64_t n) {
  return read_into(at_position(file), buffer, n);
}

Written write_block(FileHandle file, const void* buffer, std::uint64_t n, bool unaligned_tail) {
  return write_from(at_position(file), buffer, n, unaligned_tail);
}

std::int64_t read_block_at(FileHandle file, void* buffer, std::uint64_t n, std::uint64_t offset) {
  return read_into(at_offset(file, offset), buffer, n);
}

bool write_block_at(FileHandle file, const void* buffer, std::uint64_t n, std::uint64_t offset,
                    bool unaligned_tail) {
  return static_cast<bool>(write_from(at_offset(file, offset), buffer, n, unaligned_tail));
}

bool sync_file(FileHandle file, bool data_only) {
  const int fd = fd_of(file);
  if ((data_only ? ::fdatasync(fd) : ::fsync(fd)) != 0) return failed(false);
  return true;
}

bool close_file(FileHandle file) {
  const int fd = fd_of(file);
  if (fd == kStandardInput || fd == kStandardOutput || fd < 0) return true;
  // Never retried: Linux has released the descriptor even when close reports a failure.
  if (g_calls.close(fd) != 0) return failed(false);
  return true;
}

namespace {

constexpr mode_t kDocumentMode = 0666;  // less the umask, as the system applies it

bool document_in_place(const char* name, Replacement& r) {
  r.target = name;
  r.file = checked_open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kDocumentMode);
  return r.file != kNoFile;
}

// Where the document's file is: the name itself, or the file a symbolic link leads to.
bool document_target(const char* name, std::string& target) {
  struct stat link {};
  if (::lstat(name, &link) != 0 || !S_ISLNK(link.st_mode)) {
    target = name;
    return true;
  }
  char* resolved = ::realpath(name, nullptr);
  if (resolved == nullptr) return failed(false);
  target = resolved;
  std::free(resolved);
  return true;
}

}  // namespace

bool open_replacement(const char* name, Replacement& r) {
  r = Replacement{};
  struct stat st {};
  const bool exists = g_calls.stat(name, &st) == 0;
  // A link that leads nowhere yet creates the file it names, as writing through it always did.
  const bool dangling = !exists && ::lstat(name, &st) == 0;
  if ((exists && !S_ISREG(st.st_mode)) || dangling) return document_in_place(name, r);
  if (!document_target(name, r.target)) return false;
  const std::size_t slash = r.target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : r.target.substr(0, slash + 1);
  // A short hidden name of its own, whatever the document's name is long.
  static unsigned made = 0;
  for (;;) {
    r.temporary = folder + ".kolvane-" + std::to_string(::getpid()) + "-" +
                  std::to_string(made++) + ".tmp";
    const int fd = retry_interrupted([&] {
      return g_calls.open(r.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          kDocumentMode);
    });
    if (fd >= 0) {
      r.file = fd;
      break;
    }
    if (errno == EEXIST) continue;
    const int error = errno;
    r.temporary.clear();
    // A file the program may write in a folder it may not add to: in place, as before.
    if (exists && (error == EACCES || error == EPERM)) return document_in_place(name, r);
    return failed(false, error);
  }
  if (exists) {
    // The old file's mode and, where the system allows it, its owner carry over.
    static_cast<void>(::fchmod(static_cast<int>(r.file), st.st_mode & 07777));
    static_cast<void>(::fchown(static_cast<int>(r.file), st.st_uid, st.st_gid));
  }
  return true;
}

bool commit_replacement(Replacement& r) {
  const FileHandle file = r.file;
  r.file = kNoFile;
  if (r.temporary.empty()) return close_file(file);
  // Synced first: a crash after the rename must not leave an empty document in the old one's
  // place. File systems that cannot sync a file say so with EINVAL, which is not a failure.
  bool done = ::fsync(static_cast<int>(file)) == 0 || errno == EINVAL || failed(false);
  done = close_file(file) && done;
  if (done && ::rename(r.temporary.c_str(), r.target.c_str()) != 0) done = failed(false);
  if (!done) ::unlink(r.temporary.c_str());
  r.temporary.clear();
  return done;
}

void abandon_replacement(Replacement& r) {
  if (r.file != kNoFile) static_cast<void>(close_file(r.file));
  r.file = kNoFile;
  if (!r.temporary.empty()) ::unlink(r.temporary.c_str());
  r.temporary.clear();
}

void* alloc_aligned(std::uint64_t n) {
  if (n > SIZE_MAX) return nullptr;
  void* memory = nullptr;
  if (g_calls.memalign(&memory, kBufferAlignment, static_cast<size_t>(n)) != 0) return nullptr;
  return memory;
}

void free_aligned(void* buffer) { ::free(buffer); }

std::string last_error_text() { return std::string(std::strerror(g_error)) + "\n"; }

void fill_closed_standard_streams() {
  for (const int fd : {kStandardInput, kStandardOutput, kStandardError}) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one, since the ones below it are open by now.
    const int null = ::open("/dev/null", fd == kStandardInput ? O_RDONLY : O_WRONLY);
    if (null != fd && null >= 0) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
}

bool identity_of_name(const char* name, FileIdentity& identity) {
  struct stat st;
  return g_calls.stat(name, &st) == 0 && identity_of(st, identity);
}

bool identity_of_stream(StandardStream stream, FileIdentity& identity) {
  struct stat st;
  const int fd = stream == StandardStream::input    ? kStandardInput
                 : stream == StandardStream::output ? kStandardOutput
                                                    : kStandardError;
  return g_calls.fstat(fd, &st) == 0 && identity_of(st, identity);
}

bool error_stream_is_terminal(std::size_t& columns) {
  if (::isatty(kStandardError) == 0) return false;
  struct winsize size {};
  if (::ioctl(kStandardError, TIOCGWINSZ, &size) == 0 && size.ws_col != 0) columns = size.ws_col;
  return true;
}

std::uint32_t process_id() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace kolvane

// The I/O queue over overlapped I/O and one completion port. The engine's handles are
// synchronous (the depth-1 path needs them so), so the queue opens a second, overlapped handle
// to each file it serves (ReOpenFile), with the same access, sharing and direct-I/O flags, and
// associates it with the port. Win32 has no call that issues many I/Os at once: submit() makes
// one ReadFile or WriteFile per queued I/O; reaping takes many completions in one call.
#include <algorithm>
#include <cstring>

#include "platform/io_queue.h"
#include "platform/win32/win32_calls.h"

namespace kolvane {
namespace {

// One I/O: the OVERLAPPED comes first, so the pointer the port hands back is the slot's.
struct Slot {
  OVERLAPPED overlapped;
  HANDLE handle;
  IoDirection direction;
  void* buffer;
  DWORD length;
  std::uint64_t offset;
  std::uint64_t tag;
};

struct ServedFile {
  FileHandle original;
  HANDLE overlapped;
};

std::string text_of(DWORD code) {
  return system_error_text(code);
}

// A read at or past the end of a file fails with ERROR_HANDLE_EOF when overlapped, where the
// synchronous read returns 0 bytes: both are the end of the input, as at depth 1.
bool is_end_of_input(DWORD code) {
  return code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE;
}

IoCompletion completion_of(const Slot& slot, bool ok, DWORD bytes, DWORD code) {
  IoCompletion c;
  c.tag = slot.tag;
  if (ok) {
    c.result = bytes;
  } else if (slot.direction == IoDirection::read && is_end_of_input(code)) {
    c.result = 0;
  } else {
    c.result = -1;
    c.error = code;
    c.text = text_of(code);
  }
  return c;
}

// The flags open_input and open_output give a direct file: reads bypass the system cache,
// writes are written through.
DWORD direct_flags(const QueueFile& f) {
  if (!f.direct)
    return 0;
  return f.use == IoDirection::read ? FILE_FLAG_NO_BUFFERING : FILE_FLAG_WRITE_THROUGH;
}

class IocpQueue final : public IoQueue {
 public:
  explicit IocpQueue(const IoQueueSetup& setup);
  ~IocpQueue() override;

  // Opens the port and the overlapped handles; the whole message when that fails, else "".
  std::string start(const IoQueueSetup& setup);

  std::uint32_t depth() const override { return static_cast<std::uint32_t>(slots_.size()); }
  std::uint32_t pending() const override {
    return depth() - static_cast<std::uint32_t>(free_.size());
  }
  bool queue(IoDirection direction, FileHandle file, void* buffer, std::uint32_t length,
             std::uint64_t offset, std::uint64_t tag) override;
  bool submit() override;
  bool reap(std::vector<IoCompletion>& out, bool wait) override;
  const std::string& failure_text() const override { return failure_; }

 private:
  void release(Slot* slot) { free_.push_back(slot); }

  HANDLE port_ = nullptr;
  std::vector<ServedFile> files_;
  std::vector<Slot> slots_;  // never resized: the system holds pointers into it
  std::vector<Slot*> free_;
  std::vector<Slot*> queued_;        // not yet issued
  std::vector<IoCompletion> ready_;  // failed when issued: the port never hears of them
  std::uint32_t in_flight_ = 0;      // issued; each will come back through the port
  const bool spin_;                  // poll=1: ask the port over and over, never sleep
  std::vector<OVERLAPPED_ENTRY> entries_;
  std::string failure_;
};

IocpQueue::IocpQueue(const IoQueueSetup& setup)
    : slots_(setup.depth), spin_(setup.spin), entries_(setup.depth) {
  free_.reserve(setup.depth);
  queued_.reserve(setup.depth);
  for (Slot& s : slots_) free_.push_back(&s);
  std::reverse(free_.begin(), free_.end());
}

std::string IocpQueue::start(const IoQueueSetup& setup) {
  port_ = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  if (port_ == nullptr) {
    return "an I/O completion port is not available: " + text_of(GetLastError());
  }
  for (const QueueFile& f : setup.files) {
    const bool known = std::any_of(files_.begin(), files_.end(),
                                   [&](const ServedFile& s) { return s.original == f.file; });
    if (known)
      continue;
    const HANDLE original = reinterpret_cast<HANDLE>(f.file);
    // A file served both ways (an output whose blocks are read back) gets one handle that
    // reads and writes, with the flags of every use.
    DWORD access = 0;
    DWORD flags = FILE_FLAG_OVERLAPPED;
    for (const QueueFile& use : setup.files) {
      if (use.file != f.file)
        continue;
      access |= use.use == IoDirection::read ? GENERIC_READ : GENERIC_WRITE;
      flags |= direct_flags(use);
    }
    const HANDLE h = ReOpenFile(original, access, FILE_SHARE_READ | FILE_SHARE_WRITE, flags);
    if (h == INVALID_HANDLE_VALUE) {
      return "a file could not be opened again for overlapped I/O: " + text_of(GetLastError());
    }
    files_.push_back({f.file, h});
    if (CreateIoCompletionPort(h, port_, 0, 0) == nullptr) {
      return "a file could not join the I/O completion port: " + text_of(GetLastError());
    }
  }
  return {};
}

IocpQueue::~IocpQueue() {
  // Nothing may still write into the caller's buffers once the queue is gone: cancel what is in
  // flight and wait until the port has returned every I/O.
  for (const ServedFile& f : files_) {
    if (in_flight_ != 0)
      CancelIoEx(f.overlapped, nullptr);
  }
  while (in_flight_ != 0) {
    ULONG got = 0;
    if (!GetQueuedCompletionStatusEx(port_, entries_.data(), static_cast<ULONG>(entries_.size()),
                                     &got, INFINITE, FALSE)) {
      break;
    }
    in_flight_ -= std::min<std::uint32_t>(in_flight_, got);
  }
  for (const ServedFile& f : files_) CloseHandle(f.overlapped);
  if (port_ != nullptr)
    CloseHandle(port_);
}

bool IocpQueue::queue(IoDirection direction, FileHandle file, void* buffer, std::uint32_t length,
                      std::uint64_t offset, std::uint64_t tag) {
  if (free_.empty())
    return false;
  const auto served = std::find_if(files_.begin(), files_.end(),
                                   [&](const ServedFile& s) { return s.original == file; });
  if (served == files_.end())
    return false;
  Slot* slot = free_.back();
  free_.pop_back();
  *slot = Slot{{}, served->overlapped, direction, buffer, length, offset, tag};
  queued_.push_back(slot);
  return true;
}

bool IocpQueue::submit() {
  for (Slot* slot : queued_) {
    OVERLAPPED& ov = slot->overlapped;
    ov = OVERLAPPED{};
    ov.Offset = static_cast<DWORD>(slot->offset);
    ov.OffsetHigh = static_cast<DWORD>(slot->offset >> 32);
    const BOOL ok = slot->direction == IoDirection::read
                        ? ReadFile(slot->handle, slot->buffer, slot->length, nullptr, &ov)
                        : WriteFile(slot->handle, slot->buffer, slot->length, nullptr, &ov);
    // Done at once or pending, the port reports it either way; a call that failed at once
    // never reaches the port and completes here.
    const DWORD code = ok ? ERROR_SUCCESS : GetLastError();
    if (ok || code == ERROR_IO_PENDING) {
      ++in_flight_;
    } else {
      ready_.push_back(completion_of(*slot, false, 0, code));
      release(slot);
    }
  }
  queued_.clear();
  return true;
}

bool IocpQueue::reap(std::vector<IoCompletion>& out, bool wait) {
  if (!ready_.empty()) {
    for (IoCompletion& c : ready_) out.push_back(std::move(c));
    ready_.clear();
    wait = false;
  }
  if (in_flight_ == 0)
    return true;
  ULONG got = 0;
  // poll=1 asks without waiting until something came; otherwise one call, waiting or not.
  const DWORD timeout = wait && !spin_ ? INFINITE : 0;
  while (!GetQueuedCompletionStatusEx(port_, entries_.data(), in_flight_, &got, timeout, FALSE)) {
    const DWORD code = GetLastError();
    if (code != WAIT_TIMEOUT) {
      failure_ = text_of(code);
      return false;
    }
    if (!wait)
      return true;
  }
  for (ULONG i = 0; i < got; ++i) {
    auto* slot = reinterpret_cast<Slot*>(entries_[i].lpOverlapped);
    DWORD bytes = entries_[i].dwNumberOfBytesTransferred;
    // The entry carries no error code: the OVERLAPPED holds the status, and
    // GetOverlappedResult turns it into the code GetLastError would give.
    const bool ok = GetOverlappedResult(slot->handle, &slot->overlapped, &bytes, FALSE) != FALSE;
    const DWORD code = ok ? ERROR_SUCCESS : GetLastError();
    out.push_back(completion_of(*slot, ok, bytes, code));
    release(slot);
  }
  in_flight_ -= got;
  return true;
}

}  // namespace

std::unique_ptr<IoQueue> open_io_queue(const IoQueueSetup& setup, std::string& error) {
  error = queue_depth_error(setup.depth);
  if (!error.empty())
    return nullptr;
  if (setup.kernel_thread) {
    error = "the system has no thread that submits I/Os for a program\n";
    return nullptr;
  }
  auto queue = std::make_unique<IocpQueue>(setup);
  error = queue->start(setup);
  if (!error.empty())
    return nullptr;
  return queue;
}

}  // namespace kolvane

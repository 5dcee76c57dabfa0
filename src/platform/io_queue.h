// Many positioned reads and writes in flight at once, for the queued engine: queue them, submit
// what is queued in one go, reap what has completed. One back end per platform (io_uring on
// Linux, overlapped I/O with a completion port on Windows), chosen by CMake like the file
// operations of platform.h; the unit tests link an in-memory queue instead.
//
// The queue moves bytes and reports what the system said, nothing more: a short count is
// returned as it came, a failure keeps its tag, and what to print or stop is the engine's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/io_direction.h"
#include "platform/platform.h"

namespace kolvane {

// The deepest queue a run may ask for.
inline constexpr std::uint32_t kMaxQueueDepth = 4096;

// A file the queue will serve, the one direction it is used in (the input is read, the output
// written) and whether it was opened for direct transfers. On Windows the queue opens its own
// overlapped handle to it with that access and the same direct-I/O flag as open_input or
// open_output gave (the system has no call that reads those flags back from a handle); on
// Linux the descriptor is used as it is, O_DIRECT included.
struct QueueFile {
  FileHandle file = kNoFile;
  IoDirection use = IoDirection::read;
  bool direct = false;
};

// Memory the transfers will use. The queue may register it with the system (pinned, cheaper
// per I/O); a buffer given to queue() outside these regions still works, unregistered.
struct QueueRegion {
  void* data = nullptr;
  std::uint64_t size = 0;
};

// How a queue waits for completions. `spin` (poll=1): look at the completions over and over,
// never sleeping while I/Os are in flight: each is seen the moment it lands, for a CPU kept
// busy. (A spin of at most 50 us before each sleeping wait was measured and left out: with one
// I/O per hand-over it gained no rate on a virtual disk and cost a third of the rate on tmpfs.)
// `kernel_thread` (poll=2): a thread of the system's hands the I/Os over (Linux SQPOLL), so
// that queuing one takes no system call; platforms without one refuse it.
struct IoQueueSetup {
  std::uint32_t depth = 1;  // 1..kMaxQueueDepth I/Os queued or in flight at once
  std::vector<QueueFile> files;
  std::vector<QueueRegion> regions;
  bool spin = false;
  bool kernel_thread = false;
};

struct IoCompletion {
  std::uint64_t tag = 0;    // as given to queue()
  std::int64_t result = 0;  // bytes moved (possibly fewer than asked; 0 at the end of a file),
                            // or -1 for a failure
  std::uint32_t error = 0;  // the system's code for a failure (errno, or GetLastError's value)
  // What last_error_text() gives after the same failure of a synchronous call, so that the
  // message is the same at every depth ("" on POSIX, the system's lines on Windows).
  std::string text;
};

class IoQueue {
 public:
  IoQueue() = default;
  IoQueue(const IoQueue&) = delete;
  IoQueue& operator=(const IoQueue&) = delete;
  // Waits for every I/O still in flight before the queue lets go of anything, so that no
  // transfer lands in memory the caller frees afterwards.
  virtual ~IoQueue() = default;

  virtual std::uint32_t depth() const = 0;
  // I/Os queued or in flight and not yet reaped (never more than depth()).
  virtual std::uint32_t pending() const = 0;

  // Queues one positioned transfer of `length` bytes at byte `offset`. False, and nothing
  // queued, when pending() == depth() or the file is not one the queue was made for.
  virtual bool queue(IoDirection direction, FileHandle file, void* buffer, std::uint32_t length,
                     std::uint64_t offset, std::uint64_t tag) = 0;

  // Hands everything queued to the system, in one call where the system allows. False when the
  // system refused the submission itself (failure_text() says why); failures of single I/Os
  // come back from reap() instead.
  virtual bool submit() = 0;

  // Appends completions to `out`: with `wait`, at least one when anything is in flight,
  // otherwise only what is ready. False when waiting itself failed (failure_text() says why).
  virtual bool reap(std::vector<IoCompletion>& out, bool wait) = 0;


  // The system's text for the last failed submit() or reap(), one line ending in "\n".
  virtual const std::string& failure_text() const = 0;
};

// Why a depth cannot be had, as a whole message line; empty when it can.
inline std::string queue_depth_error(std::uint32_t depth) {
  if (depth >= 1 && depth <= kMaxQueueDepth)
    return {};
  return "queue depth " + std::to_string(depth) + " is not in 1.." +
         std::to_string(kMaxQueueDepth) + "\n";
}

// Creates the platform's queue. On failure returns nullptr and sets `error` to the whole
// message to print, ending in "\n" (for example "io_uring is not available: ..."): a queue the
// system refuses is never replaced by synchronous calls behind the caller's back.
std::unique_ptr<IoQueue> open_io_queue(const IoQueueSetup& setup, std::string& error);

}  // namespace kolvane

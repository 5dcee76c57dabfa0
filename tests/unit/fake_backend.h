// An in-memory back end: the engine runs against it without touching a disk. Files are byte
// vectors; every call is logged, and any call can be scripted to fail or come back short.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/signals.h"

namespace kolvane::fake {

struct File {
  std::string name;
  std::vector<unsigned char> data;
  std::uint64_t position = 0;
  bool open = true;
  // Failures and short counts, by call number on this file (1 for the first call).
  int fail_read_call = 0;
  int fail_write_call = 0;
  // Writes at these offsets, positioned or queued, are reported whole and store nothing.
  std::set<std::uint64_t> lost_writes_at;
  bool size_fails = false;
  bool seek_fails = false;
  bool close_fails = false;
  // Reads return at most this many bytes (a pipe or terminal gives short reads).
  std::uint64_t read_limit = UINT64_MAX;
  // What the file is: a regular file unless a test makes it a device or a stream.
  FileKind kind = FileKind::regular;
  int reads = 0;
  int writes = 0;
  // Requests from outside, arriving during a call (1 for the first): a stop or a status
  // request during a read (which the request then cuts short when `request_interrupts_read`),
  // a stop during a write.
  int stop_at_read = 0;
  int status_at_read = 0;
  bool request_interrupts_read = false;
  int stop_at_write = 0;
  // A stop cuts this write (of the file's position) short after `cut_after` bytes, as it does a
  // write waiting on a reader that does not read.
  int stop_cuts_write = 0;
  std::uint64_t cut_after = 0;
  bool sync_fails = false;
};

// The queued mode: open_io_queue gives an in-memory queue over these files. I/Os are
// numbered from 1 in the order they are queued; an I/O moves its bytes when it is reaped, so
// out-of-order completions land out of order. Every submitted I/O is ready at once: a reap
// with or without waiting gives the same completions.
struct QueueScript {
  bool refuse = false;  // open_io_queue fails with `refusal`
  std::string refusal = "io_uring is not available: Operation not permitted\n";
  // The I/Os in flight at a reap complete in this order: those listed here first, in the
  // order listed, then the others oldest first (newest first with `newest_first`).
  std::vector<int> order;
  bool newest_first = false;
  std::map<int, std::uint64_t> short_at;  // I/O number -> the bytes it moves (fewer than asked)
  std::map<int, std::uint32_t> fail_at;   // I/O number -> its error code; it moves nothing
  std::string fail_text = "fake failure\n";
  std::size_t reap_limit = SIZE_MAX;  // completions one reap gives at most
  bool submit_fails = false;          // submit() and reap() fail as a whole, with a failure_text()
  bool reap_fails = false;
};

struct System {
  std::map<FileHandle, File> files;
  // "read 3 512", "write 4 512", positioned "pread 3 512 @1024" and "pwrite 4 512 @0",
  // "close 3", "alloc 512", ...; queued I/Os as
  // "queue read 3 512 @4096 #7" (handle, length, offset, tag), "submit 4", "reap 2".
  std::vector<std::string> log;
  int fail_alloc_call = 0;  // the Nth alloc_aligned fails
  int allocs = 0;
  int live_buffers = 0;
  std::map<const void*, std::uint64_t> buffer_sizes;  // live aligned buffers and their sizes
  QueueScript queue;
  int live_queues = 0;
  int queued = 0;                  // I/Os queued so far, all queues
  std::uint32_t most_pending = 0;  // the most I/Os queued or in flight at once
  // Faults of the caller: a buffer freed while an I/O into it was in flight, and queues
  // destroyed with submitted I/Os not reaped.
  int freed_in_flight = 0;
  int destroyed_in_flight = 0;
  FileHandle next_handle = 3;
  // The requests simulate_request and the files' scripts set; install_signal_handlers counts.
  StopRequest stop = StopRequest::none;
  bool status = false;
  int installs = 0;
  // Documents (json=, plot=) go to "<name>.tmp" and take the name's place when committed,
  // unless written in place (as a FIFO's are). A stop arrives while the one named
  // `stop_on_document` is written, the first time: as its open waits on a FIFO's reader, as it
  // cuts the write short, or (terminate) during a write that completes.
  bool documents_in_place = false;
  std::string stop_on_document;
  enum class DocumentStop { at_open, cutting_write, during_write } document_stop{};
};

System& sys();
// Clears all files, scripts and the log.
void reset();
// A file the engine can open by name (open_input / open_output find it by name); the name "-"
// stands for standard input or output, which the engine opens without a name.
FileHandle add_file(const std::string& name, std::vector<unsigned char> data);
File& file(FileHandle h);
// n bytes counting up from `first` (mod 256), so copied ranges are easy to check.
std::vector<unsigned char> pattern(std::size_t n, unsigned first = 0);

}  // namespace kolvane::fake

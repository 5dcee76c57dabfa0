// The driver of the platform's I/O queue under a queued run: the memory and the queue, the
// slots the run's jobs run in, the hand-over of each I/O and the reaping of what completed, the
// write path every job shares (the null sink, a direct tail, a short write, the read-back of
// verify=1), the first failure, and the records a bad block takes back. What a job is (an
// entry's chain of I/Os, or one block of a single copy) is the run shape's (QueueJobs).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "cli/settings.h"
#include "engine/engine.h"
#include "engine/verify.h"
#include "platform/io_queue.h"
#include "run/exit_status.h"
#include "run/run_context.h"
#include "run/run_files.h"
#include "run/transfer_state.h"

namespace kolvane {

// What a slot's I/O in flight is: a read or a write of the job's, or the read-back of the
// block it wrote.
enum class Wait : std::uint8_t { nothing, read, write, check };

// The I/O a slot has in flight: when it was queued, where, how long and from which memory (the
// rest of a short write is queued again from where it ended).
struct InFlight {
  Wait wait = Wait::nothing;
  IoStart began;
  FileHandle file = kNoFile;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  const unsigned char* data = nullptr;
};

// The block a slot last wrote, whole however many pieces it went out in: what its read-back
// checks, and where it stands in plan order for its records.
struct WrittenBlock {
  const unsigned char* data = nullptr;
  std::uint64_t length = 0;
  std::uint64_t offset = 0;
  bool partial = false;
  PlanOrder order{};
};

// One job's place in the queue: its memory, and at most one I/O queued or in flight.
struct Slot {
  unsigned char* in = nullptr;    // ibs bytes
  unsigned char* out = nullptr;   // obs bytes
  unsigned char* back = nullptr;  // obs bytes, for a block read back (verify=1)
  bool busy = false;              // a job holds the slot
  // The job's unit in plan order (an entry, or a single copy's block), numbered from 1: what
  // a bad block stops and takes the records back from.
  std::uint64_t unit = 0;
  InFlight io;
  WrittenBlock written;

  // A new job takes the slot, with nothing in flight or written yet.
  void take(std::uint64_t job_unit) {
    busy = true;
    unit = job_unit;
    io = InFlight{};
    written = WrittenBlock{};
  }
};

// A shape of queued run: how its jobs start, go on and count.
class QueueJobs {
 public:
  QueueJobs() = default;
  QueueJobs(const QueueJobs&) = delete;
  QueueJobs& operator=(const QueueJobs&) = delete;
  virtual ~QueueJobs() = default;

  // Starts a job in the free slot: false when none can start now, which ends the round.
  virtual bool start(Slot& slot) = 0;
  // A read of the job's (not a read-back) completed with `got` bytes.
  virtual void read_completed(Slot& slot, std::uint64_t got) = 0;
  // A block was written whole (or taken by the null sink): its records out.
  virtual void count_write(Slot& slot, bool partial) = 0;
  // After a block is written (and read back and judged): the job goes on.
  virtual void block_done(Slot& slot) = 0;
  // After each round of starts and each batch reaped: what waits its turn is counted. True
  // when something was.
  virtual bool settle() { return false; }
  // Whether the job keeps its slot with no I/O in flight: a single copy's block, read and
  // waiting its turn to be counted and written.
  virtual bool holds(const Slot& /*slot*/) const { return false; }
};

class QueueDriver {
 public:
  QueueDriver(const RunFiles& files, TransferState& transfer, RunContext& run, const Settings& s);

  // Obtains the memory and the queue: none, or the failure (2 when the
  // system refuses the queue, 6 for the memory).
  Failure open();
  // Keeps the jobs' I/Os in flight until none is left. Returns none, or the first failure.
  Failure run(QueueJobs& jobs);

  std::vector<Slot>& slots() { return slots_; }
  std::size_t index(const Slot& slot) const {
    return static_cast<std::size_t>(&slot - slots_.data());
  }

  // Queue one I/O of the slot: true when it is in flight; nothing is queued once the run has
  // failed. `wait`: what the slot waits for, when not the plain read or write.
  bool issue_io(Slot& t, IoDirection d, FileHandle file, unsigned char* buffer,
                std::uint64_t length, std::uint64_t offset, Wait wait = Wait::nothing);
  // Writes the block at `at` in plan order: true when it is in flight. The null sink takes
  // nothing, its block counting at once, and a direct tail goes out past the queue.
  bool issue_write(Slot& t, const unsigned char* data, std::uint64_t n, std::uint64_t offset,
                   PlanOrder at);
  // verify=2: the block at `at`, read at `offset`, counts and is checked.
  void check_block(PlanOrder at, std::uint64_t got, const unsigned char* read,
                   std::uint64_t offset);

  // The records of the units after the first bad block are taken back at the end: a run of
  // one I/O at a time never got to them.
  void count_record(const PlanOrder& at, std::uint64_t RecordTotals::*field);
  // Once a bad block's meaning is settled: the units after it in plan order, and it, stop;
  // those before it go on, so every block before the bad one is written and checked.
  bool halted(const Slot& t) const {
    return check != nullptr && check->settled() && t.unit >= check->first_bad().entry;
  }

  // A slot is free once its job has no I/O in flight and holds nothing: the job ended, failed
  // or was stopped. Asked after each start, completion and block counted in turn.
  void release_if_idle(Slot& t) {
    if (t.io.wait == Wait::nothing && !jobs_->holds(t))
      t.busy = false;
  }

  bool failed() const { return failure_.failed(); }
  // The first failure's status stays; a later one's message follows the first's, as both
  // would have been printed where they happened.
  void fail(const Failure& failure) {
    if (!failed())
      failure_ = failure;
    else if (failure.failed())
      failure_.message += failure.message;
  }
  // After each I/O: true once a stop request or the time limit came (nothing new starts).
  bool after_io();

  // What the run is: the driver's files, where the queue's reads and writes go; the records
  // and run flags the driver reads afterwards (the queue keeps its memory in memory_, not the
  // transfer's buffers); the settings, read once.
  const RunFiles& files;
  TransferState& transfer;
  RunContext& run_context;
  const Settings& s;
  const std::uint32_t depth;
  const std::uint64_t ibs;
  const std::uint64_t obs;
  const FileHandle input;
  const FileHandle output;
  // The run's sides, as the driver decided them.
  const Endpoints& ends;
  const bool out_direct;
  // Stamping and checking (pattern=, verify=): nullptr in a run without them.
  OutputCheck* const check;
  const bool stamps;
  const bool check_only;  // verify=2: the output's blocks are read and checked, nothing written
  const bool reads_back;  // verify=1: each block written is read back and checked

 private:
  Failure obtain_buffers();
  Failure open_queue(bool in_direct);
  // Starts and counts what can be, until nothing changes.
  void make_progress(QueueJobs& jobs);
  // Takes what has completed; with `wait`, waits for at least one completion.
  void reap_batch(QueueJobs& jobs, bool wait);
  // rate=: hands over the parked I/Os whose due time has come, in the order they were parked;
  // drops them all once nothing new may start.
  void hand_over_due();
  // rate=: the next due time has not come. With nothing in flight, sleeps toward it (a stop
  // drops the parked I/Os); otherwise looks for completions once, without waiting, so that
  // each is timed when it lands and its slot refilled.
  void wait_for_due(QueueJobs& jobs);
  // Hands the slot's I/O to the system, with its start already taken.
  bool submit_io(Slot& t, IoDirection d);
  void complete(QueueJobs& jobs, Slot& t, const IoCompletion& c);
  void completed_write(QueueJobs& jobs, Slot& t);
  // verify=1 for a block written past the queue: read back the same way.
  void read_back_now(Slot& t);
  // `fresh`: a new I/O of the job's, taking its start (and, when paced, its due time) now;
  // false for the rest of a short write, which keeps its block's start.
  bool queue_io(Slot& t, IoDirection d, Wait wait = Wait::nothing, bool fresh = true);
  IoStart batch_clock(IoDirection d);
  void io_failure(FileHandle file, IoDirection d, const char* text);
  // The queue itself failed (a hand-over or a wait): nothing more can be learnt from it, and
  // its end waits for what is in flight.
  void queue_lost();
  void take_back_records();

  QueueJobs* jobs_ = nullptr;  // while run() runs: the shape the writes count in
  // Declared before the queue, so the queue is gone (every I/O reaped) before the memory is.
  AlignedBuffer memory_;
  std::uint64_t memory_size_ = 0;
  std::unique_ptr<IoQueue> queue_;
  std::vector<Slot> slots_;
  std::vector<IoCompletion> reaped_;
  // One clock read serves all the I/Os a batch queues in a direction.
  IoStart batch_began_[2];
  bool batch_timed_[2] = {false, false};

  // I/Os handed to the system and not yet reaped. Each is handed over as it is queued, so
  // nothing queued waits for a later call, and nothing is queued once the run has failed.
  std::uint32_t in_flight_ = 0;
  // rate=: I/Os waiting for their due time (the queue had room before they were due), oldest
  // first; their slots count them as in flight.
  struct Parked {
    std::size_t slot = 0;
    IoDirection direction = IoDirection::read;
    std::uint64_t ready_ns = 0;
  };
  std::deque<Parked> parked_;

  Failure failure_;
  bool stopping_ = false;  // a stop request or the time limit: nothing new starts
  // Checking runs: the records each unit still running, or ended after one still running,
  // added; see take_back_records.
  std::map<std::uint64_t, RecordTotals> unit_records_;
};

// The two shapes of a queued run, each over the driver (queued_iterations.cc, queued_copy.cc).
// Repeated entries (iterations= or runtime=): each entry one chain of I/Os, up to depth
// entries at once.
Failure run_queued_entries(QueueDriver& driver, const EntrySource& next_entry);
// A single copy with ibs = obs: blocks read ahead and written behind, counted in block order.
Failure run_queued_copy(QueueDriver& driver, const EntrySource& next_entry);

}  // namespace kolvane

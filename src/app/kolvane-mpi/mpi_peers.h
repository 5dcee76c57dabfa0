// The ranks of one run as MPI connects them: collectives where every rank reaches the same point
// (before the first I/O, at the end), and while the transfers run, notes between ranks that a
// thread of each rank's own sends and receives: that a rank's transfer ended (and whether it
// failed), and a status request's records for rank 0.
#pragma once

#include <mpi.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "driver/run_peers.h"

namespace kolvane {

class MpiPeers final : public RunPeers {
 public:
  // After MPI is initialised, with the thread support of MPI_THREAD_SERIALIZED at least.
  explicit MpiPeers(const RunPart& part) : part_(part), others_(part.ranks) {}
  MpiPeers(const MpiPeers&) = delete;
  MpiPeers& operator=(const MpiPeers&) = delete;
  ~MpiPeers();

  const RunPart& part() const override { return part_; }
  int meet(int own_status) override;
  const std::atomic<bool>& halted() const override { return halted_; }
  void watch() override;
  void ended(bool failed, const RecordTotals& totals) override;
  bool whole_so_far(RecordTotals& totals) override;
  std::vector<RankEnd> ends(const RankEnd& own) override;
  std::uint64_t longest(std::uint64_t own) override;
  std::vector<std::string> gather(const std::string& document) override;

  // A note between ranks, sent as bytes: every rank runs the same build.
  struct Note {
    std::int32_t kind = 0;  // kEnded or kStatus
    std::int32_t failed = 0;
    std::uint64_t round = 0;  // a status note's request, counted on each rank
    std::uint64_t records[4] = {0, 0, 0, 0};
  };

 private:
  // What rank 0 knows of each other rank while the transfers run.
  struct Other {
    bool ended = false;
    std::uint64_t round = 0;
    RecordTotals totals;
  };

  void watch_loop();
  // Under mutex_, on the watching thread.
  void take(const Note& note, int source);

  RunPart part_;
  // Set by the watching thread when another rank's transfer failed; read by the run's controls
  // between I/Os. Nothing else is published through it, so relaxed loads suffice.
  std::atomic<bool> halted_{false};
  std::thread watcher_;
  // Everything below is shared by the run's threads and the watching thread, under mutex_. Only
  // the watching thread calls MPI while it runs (MPI_THREAD_SERIALIZED).
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Other> others_;
  std::optional<Note> own_end_;
  std::optional<Note> own_status_;
  std::uint64_t rounds_ = 0;
};

}  // namespace kolvane

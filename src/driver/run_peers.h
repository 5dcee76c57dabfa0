// The other processes of a run launched on several hosts at once (kolvane-mpi), as the driver
// meets them: before the first I/O, while the transfer runs, and at the end. Every rank makes
// the same calls in the same order, whatever happened to it, so that none waits for a call
// another never makes. A run alone has no peers and makes none of these calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "report/ranks.h"
#include "run/run_context.h"
#include "run/transfer_state.h"

namespace kolvane {

class RunPeers {
 public:
  virtual const RunPart& part() const = 0;
  // Returns once every rank has opened and checked its files, or failed to (each told its own
  // failure): 0 when every rank is ready, the first I/O following at once; otherwise the status
  // of the lowest-numbered rank that failed, and no rank makes any I/O.
  virtual int meet(int own_status) = 0;
  // From just before the first I/O to the end of the transfer: another rank's failure sets the
  // flag that the run's controls read between I/Os. ended() returns once every rank's transfer
  // has ended; the flag is never set after it.
  virtual const std::atomic<bool>& halted() const = 0;
  virtual void watch() = 0;
  virtual void ended(bool failed, const RecordTotals& totals) = 0;
  // A status request during the transfer: rank 0 adds every other rank's records so far to
  // `totals` and returns true (it prints the whole); another rank hands its own to rank 0 and
  // returns false.
  virtual bool whole_so_far(RecordTotals& totals) = 0;
  // Every rank's end, in rank order, on every rank.
  virtual std::vector<RankEnd> ends(const RankEnd& own) = 0;
  // The longest of every rank's values (the series' record lengths, so that they line up).
  virtual std::uint64_t longest(std::uint64_t own) = 0;
  // Every rank's document on rank 0, in rank order; nothing on the others.
  virtual std::vector<std::string> gather(const std::string& document) = 0;

 protected:
  ~RunPeers() = default;
};

}  // namespace kolvane

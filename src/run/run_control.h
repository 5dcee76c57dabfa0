// Whether a run goes on, asked between I/Os: a stop request (Ctrl-C, SIGTERM, Ctrl-Break, the
// console closing) or the end of the time runtime= gives. A status request (SIGUSR1) is
// answered at the same place, so the counts it shows are those of whole I/Os.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>

#include "cli/settings.h"
#include "measure/clock.h"
#include "measure/meter.h"
#include "platform/profile.h"

namespace kolvane {

class Meter;
struct RecordTotals;

// What a worker's control asks of the run the worker belongs to, after each of its I/Os: true
// when the run stops for a reason outside the worker (another worker failed). A request for the
// figures so far is answered there too. Without workers, no control has one.
class RunLink {
 public:
  virtual bool after_io(const RecordTotals& totals, const Meter& meter) = 0;
  virtual bool stopping() const = 0;

 protected:
  ~RunLink() = default;
};

// "%llu+%llu records in" and "... records out", on standard error.
void print_records(const RecordTotals& totals, const PlatformProfile& profile);

class RunControl final : public DueWait {
 public:
  // The clock the time limit is read on; kSteadyClock unless set. Before start().
  void set_clock(const Clock& clock) { clock_ = &clock; }
  // Once the words are scanned.
  void arm(const Settings& settings) { limit_seconds_ = settings.runtime_seconds; }
  // What answers a status request: the driver's records lines and summary so far. Unset, the
  // records lines alone (the engine driven without the driver).
  using StatusReply = std::function<void(const RecordTotals&, const Meter&)>;
  void set_status_reply(StatusReply reply) { status_reply_ = std::move(reply); }
  // Just before the first I/O: the time limit counts from here. Without runtime= the clock is
  // not read, here or after any I/O.
  void start();
  // The same from a time read already: the workers of one run share their start, so that
  // runtime= ends them together.
  void start_at(std::uint64_t now_ns);
  // A worker's control: status requests are the run's to answer (the figures are the sum of
  // every worker's), and the run may stop the worker. Before start().
  void link_to(RunLink& link) { link_ = &link; }
  // A run of several ranks: another rank's failure sets `flag` (which must outlive the control),
  // and the run stops at its next I/O as it would for a stop request.
  void halt_on(const std::atomic<bool>* flag) { halt_ = flag; }
  const std::atomic<bool>* halt_flag() const { return halt_; }
  // A status request's answer: the reply set, or the records lines alone.
  void answer_status(const RecordTotals& totals, const Meter& meter) const;
  // After each I/O (a read with the writes of its bytes, or one block written, or one read of
  // skipped bytes): true when the run stops there. A status request shows `totals` and the
  // meter so far.
  bool after_io(const RecordTotals& totals, const Meter& meter);
  // True once the run is to stop, whether asked from outside or out of time; also true for a
  // stop requested before the first I/O.
  bool stopping() const;
  // rate=: waits for an I/O's due time; false, at once, when the run stops first or the time
  // limit comes before it.
  bool wait_until(std::uint64_t due_ns) override;
  // The time limit ran out: the run ends as a normal one.
  bool timed_out() const { return timed_out_; }
  // start() was called: the run got as far as its first I/O.
  bool started() const { return started_; }

 private:
  bool halted() const { return halt_ != nullptr && halt_->load(std::memory_order_relaxed); }

  StatusReply status_reply_;
  RunLink* link_ = nullptr;
  const std::atomic<bool>* halt_ = nullptr;
  const Clock* clock_ = &kSteadyClock;
  std::uint32_t limit_seconds_ = 0;
  std::uint64_t deadline_ns_ = 0;
  bool timed_out_ = false;
  bool started_ = false;
};

}  // namespace kolvane

// What a run measures while it copies: per direction (reading the input, writing the output)
// the bytes, the I/Os (one block each, whatever system calls it took), the time from the first
// I/O to the direction's last completion, each block's latency and the per-second counters.
// A direction that is not timed still counts its bytes and blocks but never reads the clock,
// so a run that asked for no measurement makes no clock call per I/O.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "measure/clock.h"
#include "measure/histogram.h"
#include "measure/schedule.h"
#include "measure/series.h"
#include "measure/timeline.h"

namespace kolvane {

struct DirectionMeter {
  std::uint64_t bytes = 0;
  std::uint64_t ios = 0;
  std::uint64_t last_end_ns = 0;  // the clock at the direction's last timed completion
  // From each I/O's due time (its start, in a run without rate=) to its completion.
  LatencyHistogram latency;
  // rate= only: from each I/O's hand-over to its completion, what the device took.
  LatencyHistogram service;
};

// When an I/O was due and when it was handed over; the same time in a run without rate=.
struct IoStart {
  std::uint64_t due_ns = 0;
  std::uint64_t handed_ns = 0;
};

// Waits for a due time on behalf of the meter: false when the run stops first (a stop request,
// the time limit), true once the time has come.
class DueWait {
 public:
  virtual bool wait_until(std::uint64_t due_ns) = 0;

 protected:
  ~DueWait() = default;
};

// How well the run kept to its schedule (rate=).
struct PaceFigures {
  // From the due time (or the moment the I/O was ready, when later) to the hand-over, while
  // the queue had room: the tool's own lateness, the timer's cost, not the device's.
  LatencyHistogram lateness;
  // I/Os handed over more than one gap after their due time.
  std::uint64_t late = 0;
  // Due before the run was cut short (a stop, the time limit) and never handed over.
  std::uint64_t not_issued = 0;
};

class Meter;

// Told, at the completion of an I/O, that a tick is due (progress lines).
class MeterListener {
 public:
  virtual void tick(const Meter& meter, std::uint64_t now_ns) = 0;

 protected:
  ~MeterListener() = default;
};

class Meter {
 public:
  Meter() = default;
  Meter(const Meter&) = delete;
  Meter& operator=(const Meter&) = delete;

  // The clock the timed directions read; kSteadyClock unless set. Set before the first I/O, and
  // it must outlive the meter's use.
  void set_clock(const Clock& clock) { clock_ = &clock; }
  // Which directions read the clock around each I/O. Set before the first I/O.
  void time_directions(bool reads, bool writes) {
    timed_[index(IoDirection::read)] = reads;
    timed_[index(IoDirection::write)] = writes;
  }
  // `listener` is ticked at the first completion at least `interval_ns` after the previous tick
  // (the first I/O's start for the first one). Needs a timed direction to be of any use.
  void set_listener(MeterListener* listener, std::uint64_t interval_ns) {
    listener_ = listener;
    interval_ns_ = interval_ns;
  }

  // rate=: the scheduled I/Os of these directions take their due times from `schedule` and
  // wait for them through `wait`; every I/O's service time is kept beside its latency. Both
  // must outlive the meter's use. Set before the first I/O.
  void pace(RateSchedule& schedule, DueWait& wait, bool reads, bool writes) {
    schedule_ = &schedule;
    due_wait_ = &wait;
    paced_[index(IoDirection::read)] = reads;
    paced_[index(IoDirection::write)] = writes;
  }
  RateSchedule* schedule() const { return schedule_; }
  bool paced(IoDirection d) const { return paced_[index(d)]; }
  const PaceFigures& pace_figures() const { return pace_; }
  // Once the run has ended, the scheduled I/Os it never handed over.
  void count_not_issued(std::uint64_t n) { pace_.not_issued = n; }
  // The scheduled I/Os completed per second, from the schedule's start to the last of them;
  // absent without rate= or before any completed.
  std::optional<double> achieved_rate() const;
  // Whether fewer scheduled I/Os completed than `share` of those due by the last of them: the
  // schedule's own count, so that the random gaps of poisson arrivals are not taken for a
  // shortfall.
  bool behind_schedule(double share) const;

  const Clock& clock() const { return *clock_; }
  MeterListener* listener() const { return listener_; }
  std::uint64_t listener_interval_ns() const { return interval_ns_; }
  // The per-second counters count from `t` instead of the first I/O's start: the workers of one
  // run count from their common start, so that their timelines add record by record. Before
  // the first I/O.
  void count_seconds_from(std::uint64_t t) { timeline_base_ns_ = t; }
  // Keeps the latency series of intervals of `interval_ms`, counted from the same start as the
  // per-second counters. Before the first I/O; without it the meter holds no series at all.
  void keep_series(std::uint32_t interval_ms) {
    series_ = std::make_unique<LatencySeries>(interval_ms);
  }
  // Adds another meter's figures (a worker's, into the run's whole): bytes, I/Os and every
  // histogram bucket summed, the earliest first I/O and the latest completion kept, the
  // timelines and series added (both counted from the same start; a meter that kept no series
  // takes the other's). Not the clock or the listener.
  void add(const Meter& other);
  // rate=: before a scheduled I/O of the direction, waits for the next due time and takes it
  // for the begin() that follows; false when the run stops first, and then the I/O is not to go
  // out (its due time stays untaken, counted as not issued). True at once when not paced: the
  // copy loops ask before every I/O, so a run without rate= pays one predictable branch.
  bool await_due(IoDirection d) { return !paced_[index(d)] || wait_for_due(d); }
  // Around each I/O: the value begin() gives goes to end() with the bytes the I/O moved. A
  // paced direction's I/O uses the due time await_due() took, or takes one and waits for it.
  IoStart begin(IoDirection d) {
    if (!timed_[index(d)])
      return {};
    const std::uint64_t t = clock_->now_ns();
    if (paced_[index(d)])
      return paced_begin(t);
    if (origin_ns_ == 0)
      start_at(t);
    return {t, t};
  }
  // A paced I/O whose due time the caller took from the schedule and saw come (the queued
  // engine waits for it while reaping); `ready_ns` is when the I/O could first have gone out.
  IoStart begin_due(std::uint64_t due_ns, std::uint64_t ready_ns) {
    if (origin_ns_ == 0)
      start_at(std::min(due_ns, ready_ns));
    return handed_over(due_ns, ready_ns, true);
  }
  void end(IoDirection d, IoStart start, std::uint64_t bytes) {
    DirectionMeter& m = directions_[index(d)];
    m.bytes += bytes;
    ++m.ios;
    if (timed_[index(d)])
      completed(d, m, start, bytes);
  }

  // Work that belongs to a direction without being an I/O of its own (the sync of conv=fsync):
  // its time counts in the direction's wall time.
  void extend(IoDirection d) {
    if (timed_[index(d)] && origin_ns_ != 0)
      directions_[index(d)].last_end_ns = clock_->now_ns();
  }
  bool timed(IoDirection d) const { return timed_[index(d)]; }
  const DirectionMeter& direction(IoDirection d) const { return directions_[index(d)]; }
  // The clock at the start of the first timed I/O; 0 before it.
  std::uint64_t origin_ns() const { return origin_ns_; }
  // From the first timed I/O's start to the direction's last completion; 0 when none.
  std::uint64_t wall_ns(IoDirection d) const;
  // From the first timed I/O's start to the last completion of either direction.
  std::uint64_t elapsed_ns() const;
  const Timeline& timeline() const { return timeline_; }
  // Null unless keep_series() was called (or a meter with a series was added).
  const LatencySeries* series() const { return series_.get(); }
  LatencySeries* series() { return series_.get(); }

 private:
  static constexpr std::size_t index(IoDirection d) { return d == IoDirection::read ? 0 : 1; }
  // The scheduled I/Os completed, and the clock at the last of them.
  struct PacedWork {
    std::uint64_t ios = 0;
    std::uint64_t last_ns = 0;
  };
  PacedWork paced_work() const;
  void start_at(std::uint64_t t);
  IoStart paced_begin(std::uint64_t ready_ns);
  bool wait_for_due(IoDirection d);
  IoStart handed_over(std::uint64_t due_ns, std::uint64_t ready_ns, bool on_time);
  void completed(IoDirection d, DirectionMeter& m, IoStart start, std::uint64_t bytes);

  std::array<DirectionMeter, 2> directions_{};
  std::array<bool, 2> timed_{};
  std::array<bool, 2> paced_{};
  RateSchedule* schedule_ = nullptr;
  DueWait* due_wait_ = nullptr;
  PaceFigures pace_;
  // The due time await_due() took for the next paced begin(), and when the I/O was ready.
  bool awaited_ = false;
  std::uint64_t awaited_due_ns_ = 0;
  std::uint64_t awaited_ready_ns_ = 0;
  const Clock* clock_ = &kSteadyClock;
  std::uint64_t origin_ns_ = 0;
  std::uint64_t timeline_base_ns_ = 0;  // 0: the first I/O's start
  MeterListener* listener_ = nullptr;
  std::uint64_t interval_ns_ = 0;
  std::uint64_t next_tick_ns_ = UINT64_MAX;
  Timeline timeline_;
  std::unique_ptr<LatencySeries> series_;
};

}  // namespace kolvane

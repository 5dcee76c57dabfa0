// What a run measures while it copies: per direction (reading the input, writing the output)
// the bytes, the I/Os (one block each, whatever system calls it took), the time from the first
// I/O to the direction's last completion, each block's latency and the per-second counters.
// A direction that is not timed still counts its bytes and blocks but never reads the clock,
// so a run that asked for no measurement makes no clock call per I/O.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "measure/clock.h"
#include "measure/histogram.h"
#include "measure/series.h"
#include "measure/timeline.h"

namespace kolvane {

struct DirectionMeter {
  std::uint64_t bytes = 0;
  std::uint64_t ios = 0;
  std::uint64_t last_end_ns = 0;  // the clock at the direction's last timed completion
  LatencyHistogram latency;
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
  // Around each I/O: the value begin() gives goes to end() with the bytes the I/O moved.
  std::uint64_t begin(IoDirection d) {
    if (!timed_[index(d)])
      return 0;
    const std::uint64_t t = clock_->now_ns();
    if (origin_ns_ == 0)
      start_at(t);
    return t;
  }
  void end(IoDirection d, std::uint64_t begin_ns, std::uint64_t bytes) {
    DirectionMeter& m = directions_[index(d)];
    m.bytes += bytes;
    ++m.ios;
    if (timed_[index(d)])
      completed(d, m, begin_ns, bytes);
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

 private:
  static constexpr std::size_t index(IoDirection d) { return d == IoDirection::read ? 0 : 1; }
  void start_at(std::uint64_t t);
  void completed(IoDirection d, DirectionMeter& m, std::uint64_t begin_ns, std::uint64_t bytes);

  std::array<DirectionMeter, 2> directions_{};
  std::array<bool, 2> timed_{};
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

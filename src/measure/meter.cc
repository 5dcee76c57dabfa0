#include "measure/meter.h"

#include <algorithm>

namespace kolvane {

void Meter::start_at(std::uint64_t t) {
  // A clock that reads 0 would look like "not started" at the next I/O; one nanosecond on
  // changes nothing measurable.
  origin_ns_ = t == 0 ? 1 : t;
  if (timeline_base_ns_ == 0 || timeline_base_ns_ > origin_ns_)
    timeline_base_ns_ = origin_ns_;
  if (listener_ != nullptr)
    next_tick_ns_ = origin_ns_ + interval_ns_;
}

void Meter::completed(IoDirection d, DirectionMeter& m, std::uint64_t begin_ns,
                      std::uint64_t bytes) {
  const std::uint64_t end_ns = clock_->now_ns();
  m.latency.record(end_ns - begin_ns);
  m.last_end_ns = end_ns;
  timeline_.record(end_ns - timeline_base_ns_, d, bytes);
  if (series_ != nullptr)
    series_->record(end_ns - timeline_base_ns_, d, end_ns - begin_ns, bytes);
  if (end_ns >= next_tick_ns_) {
    // Ticks keep to their schedule; one I/O slower than an interval does not make a burst of
    // ticks to catch up.
    next_tick_ns_ += interval_ns_;
    if (next_tick_ns_ <= end_ns)
      next_tick_ns_ = end_ns + interval_ns_;
    listener_->tick(*this, end_ns);
  }
}

void Meter::add(const Meter& other) {
  for (std::size_t i = 0; i < directions_.size(); ++i) {
    DirectionMeter& mine = directions_[i];
    const DirectionMeter& theirs = other.directions_[i];
    mine.bytes += theirs.bytes;
    mine.ios += theirs.ios;
    mine.last_end_ns = std::max(mine.last_end_ns, theirs.last_end_ns);
    mine.latency.merge(theirs.latency);
    timed_[i] = timed_[i] || other.timed_[i];
  }
  if (other.origin_ns_ != 0 && (origin_ns_ == 0 || other.origin_ns_ < origin_ns_))
    origin_ns_ = other.origin_ns_;
  if (other.timeline_base_ns_ != 0 && timeline_base_ns_ == 0)
    timeline_base_ns_ = other.timeline_base_ns_;
  timeline_.add(other.timeline_);
  if (other.series_ != nullptr) {
    if (series_ == nullptr)
      series_ = std::make_unique<LatencySeries>(*other.series_);
    else
      series_->add(*other.series_);
  }
}

std::uint64_t Meter::wall_ns(IoDirection d) const {
  const std::uint64_t last = directions_[index(d)].last_end_ns;
  return last == 0 || origin_ns_ == 0 ? 0 : last - origin_ns_;
}

std::uint64_t Meter::elapsed_ns() const {
  return std::max(wall_ns(IoDirection::read), wall_ns(IoDirection::write));
}

}  // namespace kolvane

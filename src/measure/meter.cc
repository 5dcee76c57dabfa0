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

bool Meter::wait_for_due(IoDirection d) {
  if (!timed_[index(d)] || awaited_)
    return true;
  const std::uint64_t ready = clock_->now_ns();
  for (std::uint64_t now = ready;; now = clock_->now_ns()) {
    // Taken only once come: another worker may take this one first, and then the next is
    // waited for.
    if (schedule_->take_if_due(now, awaited_due_ns_)) {
      awaited_ = true;
      awaited_ready_ns_ = ready;
      return true;
    }
    if (!due_wait_->wait_until(schedule_->next(now)))
      return false;
  }
}

IoStart Meter::paced_begin(std::uint64_t ready_ns) {
  if (awaited_) {
    awaited_ = false;
    if (origin_ns_ == 0)
      start_at(std::min(awaited_due_ns_, awaited_ready_ns_));
    return handed_over(awaited_due_ns_, awaited_ready_ns_, true);
  }
  const std::uint64_t due = schedule_->take(ready_ns);
  if (origin_ns_ == 0)
    start_at(std::min(due, ready_ns));
  return handed_over(due, ready_ns, due <= ready_ns || due_wait_->wait_until(due));
}

IoStart Meter::handed_over(std::uint64_t due_ns, std::uint64_t ready_ns, bool on_time) {
  const std::uint64_t now = clock_->now_ns();
  // A stop came while the I/O waited: it goes out at once, off the schedule, and is timed
  // from its hand-over alone.
  if (!on_time)
    return {now, now};
  pace_.lateness.record(now - std::max(due_ns, ready_ns));
  if (now - due_ns > schedule_->gap_ns())
    ++pace_.late;
  return {due_ns, now};
}

void Meter::completed(IoDirection d, DirectionMeter& m, IoStart start, std::uint64_t bytes) {
  const std::uint64_t end_ns = clock_->now_ns();
  m.latency.record(end_ns - start.due_ns);
  if (schedule_ != nullptr)
    m.service.record(end_ns - start.handed_ns);
  m.last_end_ns = end_ns;
  timeline_.record(end_ns - timeline_base_ns_, d, bytes);
  if (series_ != nullptr)
    series_->record(end_ns - timeline_base_ns_, d, end_ns - start.due_ns, bytes);
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
    mine.service.merge(theirs.service);
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
  pace_.lateness.merge(other.pace_.lateness);
  pace_.late += other.pace_.late;
  pace_.not_issued += other.pace_.not_issued;
  if (schedule_ == nullptr)
    schedule_ = other.schedule_;
}

Meter::PacedWork Meter::paced_work() const {
  PacedWork work;
  for (std::size_t i = 0; i < directions_.size(); ++i) {
    if (paced_[i]) {
      work.ios += directions_[i].ios;
      work.last_ns = std::max(work.last_ns, directions_[i].last_end_ns);
    }
  }
  return work;
}

bool Meter::behind_schedule(double share) const {
  if (schedule_ == nullptr)
    return false;
  const PacedWork work = paced_work();
  return static_cast<double>(work.ios) <
         (1 - share) * static_cast<double>(schedule_->due_by(work.last_ns));
}

std::optional<double> Meter::achieved_rate() const {
  if (schedule_ == nullptr)
    return std::nullopt;
  const auto [ios, last_ns] = paced_work();
  const std::uint64_t start_ns = schedule_->start_ns();
  if (ios == 0 || last_ns <= start_ns)
    return std::nullopt;
  return static_cast<double>(ios) * 1e9 / static_cast<double>(last_ns - start_ns);
}

std::uint64_t Meter::wall_ns(IoDirection d) const {
  const std::uint64_t last = directions_[index(d)].last_end_ns;
  return last == 0 || origin_ns_ == 0 ? 0 : last - origin_ns_;
}

std::uint64_t Meter::elapsed_ns() const {
  return std::max(wall_ns(IoDirection::read), wall_ns(IoDirection::write));
}

}  // namespace kolvane

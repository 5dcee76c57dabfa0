#include "measure/schedule.h"

#include <algorithm>
#include <cmath>

namespace kolvane {
namespace {
constexpr std::uint64_t kSecond = 1000000000;
}  // namespace

RateSchedule::RateSchedule(std::uint64_t per_second, bool poisson, std::uint32_t seed)
    : per_second_(std::max<std::uint64_t>(per_second, 1)),
      gap_ns_(std::max<std::uint64_t>(kSecond / per_second_, 1)),
      poisson_(poisson),
      draws_(seed) {}

std::uint64_t RateSchedule::even_due(std::uint64_t i) const {
  // i / N seconds, split so that no product leaves 64 bits (i x 10^9 would after 584 years at
  // 1 I/O per second, but already after 18 s at 10^9 per second).
  return start_ns_ + i / per_second_ * kSecond + i % per_second_ * kSecond / per_second_;
}

std::uint64_t RateSchedule::poisson_gap(std::mt19937_64& draws) const {
  // A uniform draw in [0, 1) from the top 53 bits, then the exponential law's inverse.
  const double u = static_cast<double>(draws() >> 11) * 0x1p-53;
  return static_cast<std::uint64_t>(-std::log1p(-u) * static_cast<double>(kSecond) /
                                    static_cast<double>(per_second_));
}

std::uint64_t RateSchedule::next_locked(std::uint64_t now_ns) {
  if (start_ns_ == 0) {
    start_ns_ = now_ns == 0 ? 1 : now_ns;
    next_due_ = start_ns_;
  }
  return poisson_ ? next_due_ : even_due(taken_);
}

std::uint64_t RateSchedule::take_locked(std::uint64_t now_ns) {
  const std::uint64_t due = next_locked(now_ns);
  ++taken_;
  if (poisson_)
    next_due_ += poisson_gap(draws_);
  return due;
}

std::uint64_t RateSchedule::take(std::uint64_t now_ns) {
  std::lock_guard<std::mutex> hold(lock_);
  return take_locked(now_ns);
}

bool RateSchedule::take_if_due(std::uint64_t now_ns, std::uint64_t& due_ns) {
  std::lock_guard<std::mutex> hold(lock_);
  if (next_locked(now_ns) > now_ns)
    return false;
  due_ns = take_locked(now_ns);
  return true;
}

std::uint64_t RateSchedule::next(std::uint64_t now_ns) {
  std::lock_guard<std::mutex> hold(lock_);
  return start_ns_ == 0 ? now_ns : next_locked(now_ns);
}

std::uint64_t RateSchedule::taken() {
  std::lock_guard<std::mutex> hold(lock_);
  return taken_;
}

std::uint64_t RateSchedule::start_ns() {
  std::lock_guard<std::mutex> hold(lock_);
  return start_ns_;
}

std::uint64_t RateSchedule::untaken_by(std::uint64_t t_ns) {
  std::lock_guard<std::mutex> hold(lock_);
  return untaken_locked(t_ns);
}

std::uint64_t RateSchedule::due_by(std::uint64_t t_ns) {
  std::lock_guard<std::mutex> hold(lock_);
  return taken_ + untaken_locked(t_ns);
}

std::uint64_t RateSchedule::untaken_locked(std::uint64_t t_ns) {
  if (start_ns_ == 0 || t_ns < start_ns_)
    return 0;
  if (!poisson_) {
    // Due times 0..k-1 lie at or before t, k = floor((t - t0) x N / 10^9) + 1, split as above.
    const std::uint64_t d = t_ns - start_ns_;
    const std::uint64_t due = d / kSecond * per_second_ + d % kSecond * per_second_ / kSecond + 1;
    return due > taken_ ? due - taken_ : 0;
  }
  // Poisson: the draws go on from where the run's took them, on a copy.
  std::mt19937_64 draws = draws_;
  std::uint64_t count = 0;
  for (std::uint64_t due = next_due_; due <= t_ns; due += poisson_gap(draws)) ++count;
  return count;
}

}  // namespace kolvane

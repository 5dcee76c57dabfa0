// The one schedule a run at rate= follows: I/O number i is due at t0 + i/N (even arrivals), or
// after exponential gaps of mean 1/N drawn from the seed (poisson arrivals); t0 is the first
// I/O's start. Due times are never moved: an I/O that could not go out on time stays due, and
// its latency counts from that time. Every worker of a run takes its due times from the same
// schedule, whichever has room first, so a lock guards it; at the rates a lock can serve (some
// millions a second) it is not what limits a run.
#pragma once

#include <cstdint>
#include <mutex>
#include <random>

namespace kolvane {

class RateSchedule {
 public:
  RateSchedule(std::uint64_t per_second, bool poisson, std::uint32_t seed);
  RateSchedule(const RateSchedule&) = delete;
  RateSchedule& operator=(const RateSchedule&) = delete;

  // The mean gap between due times, in nanoseconds (at least 1).
  std::uint64_t gap_ns() const { return gap_ns_; }
  std::uint64_t per_second() const { return per_second_; }
  // Takes the next due time; the first take starts the schedule at `now_ns`.
  std::uint64_t take(std::uint64_t now_ns);
  // Takes the next due time only when it has come (at or before `now_ns`), into `due_ns`: two
  // workers never both see a time come and take different ones.
  bool take_if_due(std::uint64_t now_ns, std::uint64_t& due_ns);
  // The next due time without taking it; `now_ns` when the schedule has not started.
  std::uint64_t next(std::uint64_t now_ns);
  // Due times taken so far.
  std::uint64_t taken();
  // How many due times at or before `t_ns` were not taken: at the end of a run (a stop, the
  // time limit), the I/Os that were due and never went out.
  std::uint64_t untaken_by(std::uint64_t t_ns);
  // How many due times fall at or before `t_ns`, taken or not, once every one taken has come.
  std::uint64_t due_by(std::uint64_t t_ns);
  // The schedule's start; 0 before the first take.
  std::uint64_t start_ns();

 private:
  // The due time of I/O `i` for even arrivals; poisson ones come from the draws in turn.
  std::uint64_t even_due(std::uint64_t i) const;
  std::uint64_t poisson_gap(std::mt19937_64& draws) const;
  std::uint64_t next_locked(std::uint64_t now_ns);
  std::uint64_t take_locked(std::uint64_t now_ns);
  std::uint64_t untaken_locked(std::uint64_t t_ns);

  const std::uint64_t per_second_;
  const std::uint64_t gap_ns_;
  const bool poisson_;
  std::mutex lock_;
  std::uint64_t start_ns_ = 0;
  std::uint64_t taken_ = 0;
  std::uint64_t next_due_ = 0;  // poisson: the due time of I/O taken_
  std::mt19937_64 draws_;
};

}  // namespace kolvane

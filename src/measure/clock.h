// The clock the measurements and the run's time limit read: monotonic, in nanoseconds from an
// arbitrary start, so only differences between two readings mean anything. Whatever reads it
// takes a Clock, so that tests can drive time by hand; the program's is SteadyClock.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

namespace kolvane {

class Clock {
 public:
  virtual std::uint64_t now_ns() const = 0;
  // Lets time pass toward `t_ns` (a reading of this clock): the caller reads the clock again
  // and calls once more while it is short of the time. It may return at once, so that the
  // last stretch is spent spinning.
  virtual void pause_toward(std::uint64_t t_ns) const = 0;

 protected:
  ~Clock() = default;
};

// std::chrono::steady_clock: a change of the system time cannot skew it. It holds no state, so
// one instance serves every reader.
class SteadyClock final : public Clock {
 public:
  std::uint64_t now_ns() const override {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
  // Sleeps until half a millisecond before the time, at most 10 ms at once (a stop is seen
  // within that), and spins the rest: a sleep overshoots by tens of microseconds or more,
  // which would make every I/O late.
  void pause_toward(std::uint64_t t_ns) const override {
    constexpr std::uint64_t kSpinNs = 500000;
    constexpr std::uint64_t kLongestSleepNs = 10000000;
    const std::uint64_t now = now_ns();
    if (t_ns > now + kSpinNs)
      std::this_thread::sleep_for(
          std::chrono::nanoseconds(std::min(t_ns - now - kSpinNs, kLongestSleepNs)));
  }
};

inline constexpr SteadyClock kSteadyClock;

}  // namespace kolvane

// The clock the measurements and the run's time limit read: monotonic, in nanoseconds from an
// arbitrary start, so only differences between two readings mean anything. Whatever reads it
// takes a Clock, so that tests can drive time by hand; the program's is SteadyClock.
#pragma once

#include <chrono>
#include <cstdint>

namespace kolvane {

class Clock {
 public:
  virtual std::uint64_t now_ns() const = 0;

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
};

inline constexpr SteadyClock kSteadyClock;

}  // namespace kolvane

// A clock the test moves: it stands where the test puts it, or moves on by a fixed step at each
// reading (time passing by itself at every look), and counts how often it was read.
#pragma once

#include <algorithm>
#include <cstdint>

#include "measure/clock.h"

namespace kolvane {

class ManualClock final : public Clock {
 public:
  // Away from 0, which the meter reserves for "not started".
  static constexpr std::uint64_t kStart = 1000000000;

  explicit ManualClock(std::uint64_t step_ns = 0) : step_ns_(step_ns) {}

  std::uint64_t now_ns() const override {
    ++reads_;
    const std::uint64_t t = now_;
    now_ += step_ns_;
    return t;
  }
  // Waiting takes no time: the clock jumps to the time waited for.
  void pause_toward(std::uint64_t t_ns) const override { now_ = std::max(now_, t_ns); }
  void advance(std::uint64_t ns) { now_ += ns; }
  int reads() const { return reads_; }

 private:
  std::uint64_t step_ns_;
  mutable std::uint64_t now_ = kStart;
  mutable int reads_ = 0;
};

}  // namespace kolvane

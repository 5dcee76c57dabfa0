// A bounded spin before a wait that sleeps. On a virtual machine the wake-up from a sleeping
// wait can take as long as a whole batch of I/Os: by the time the program runs again every I/O
// has completed and the device's queue has drained. Looking at the completions for a few tens
// of microseconds first sees each one as it arrives, so its slot is refilled at once.
#pragma once

#include <chrono>
#include <cstdint>

namespace kolvane {

// The spin before each sleeping wait unless poll= says otherwise: at most this long.
inline constexpr std::uint64_t kDefaultSpinNs = 50000;
// A spin with no bound (poll=1): never sleep while I/Os are in flight.
inline constexpr std::uint64_t kSpinForever = UINT64_MAX;

// The clock a spin is bounded by: monotonic nanoseconds.
inline std::uint64_t steady_now_ns() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// Calls `ready()` until it returns true or `bound_ns` have passed on `now_ns()` since the
// first call; `ready()` is called at least once. Returns whether it became ready. Both are
// callables, so that tests drive the clock.
template <typename Ready, typename Clock>
bool spin_until(const Ready& ready, std::uint64_t bound_ns, const Clock& now_ns) {
  if (ready())
    return true;
  if (bound_ns == 0)
    return false;
  const std::uint64_t start = now_ns();
  while (!ready()) {
    if (bound_ns != kSpinForever && now_ns() - start >= bound_ns)
      return false;
  }
  return true;
}

}  // namespace kolvane

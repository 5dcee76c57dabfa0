// The clock the measurements read: monotonic, in nanoseconds from an arbitrary start, so only
// differences between two readings mean anything.
#pragma once

#include <chrono>
#include <cstdint>

namespace kolvane {

inline std::uint64_t now_ns() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace kolvane

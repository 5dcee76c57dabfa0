// The spin before a sleeping wait: it looks at least once, stops as soon as something is ready,
// and gives up once its bound has passed on the clock it is handed (here one the test moves).
#include "platform/spin_wait.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kolvane {
namespace {

TEST(SpinWait, LooksUntilReadyOrItsBoundHasPassed) {
  // clang-format off
  const struct { const char* why; std::uint64_t bound; int ready_at; bool ready; int looks; }
      rows[] = {
      {"no bound: one look, nothing ready", 0, 0, false, 1},
      {"no bound: one look, ready", 0, 1, true, 1},
      {"ready on the fourth look", 50000, 4, true, 4},
      // Each look moves the clock 10 us: looks at 0, 10, ..., 50 us, the last past the bound.
      {"never ready: gives up at the bound", 50000, 0, false, 6},
      {"no end: looks until ready", kSpinForever, 1000, true, 1000}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    int looks = 0;
    std::uint64_t clock = 123;
    const bool ready = spin_until(
        [&] {
          ++looks;
          clock += 10000;
          return looks == r.ready_at;
        },
        r.bound, [&] { return clock; });
    EXPECT_EQ(ready, r.ready);
    EXPECT_EQ(looks, r.looks);
  }
}

}  // namespace
}  // namespace kolvane

// Axis arithmetic for the picture of a run: round tick values on linear axes, decades on the
// logarithmic latency and count axes, the run's time, and where the latency marks fall.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kolvane {

// Round values from at or below lo to at or above hi, step 1, 2 or 5 times a power of ten, at
// most max_intervals steps apart end to end. An empty range (hi <= lo) is widened to [lo, lo + 1].
struct LinearTicks {
  double step = 1;
  int decimals = 0;  // digits after the point that show every value exactly
  std::vector<double> values;
};
LinearTicks linear_ticks(double lo, double hi, int max_intervals = 5);

// The ticks as text, in one style for the whole axis: "0.5", "250", or with k or M once the
// values reach 10 000 or 1 000 000 ("20k", "1.5M").
std::vector<std::string> tick_labels(const LinearTicks& ticks);

// The powers of ten from the one at or below lo_ns to the one at or above hi_ns; at least two.
// lo_ns 0 counts as 1.
std::vector<std::uint64_t> decade_ticks(std::uint64_t lo_ns, std::uint64_t hi_ns);

// Nanoseconds to x on a logarithmic axis from lo_ns at x_left to hi_ns at x_right.
struct LogAxis {
  std::uint64_t lo_ns = 1;
  std::uint64_t hi_ns = 10;
  double x_left = 0;
  double x_right = 1;
  double x(double ns) const;
};

// What the latency panels mark of one direction: the durations its non-empty buckets span
// (both 0 when there are none), its p50, p99, p99.9 and p99.99 and its slowest latency (0 when
// no latencies were taken).
struct LatencyMarks {
  std::uint64_t lo_ns = 0;
  std::uint64_t hi_ns = 0;
  std::uint64_t p50_ns = 0;
  std::uint64_t p99_ns = 0;
  std::uint64_t p999_ns = 0;
  std::uint64_t p9999_ns = 0;
  std::uint64_t max_ns = 0;
};

// The latency axis both directions share, so their shapes compare at a glance: whole decades
// around every bucket and mark of either direction, each widened by half its value.
LogAxis latency_axis(std::span<const LatencyMarks> directions, double x_left, double x_right);

struct PercentileMark {
  const char* name;  // "p50", "p99", "p99.9", "p99.99", "max"
  std::uint64_t ns;
  double x;
};
std::array<PercentileMark, 5> percentile_marks(const LatencyMarks& d, const LogAxis& axis);

// I/Os per bin on a logarithmic axis, upwards: decades from 1 to the one at or above the top
// bin's count. The frame's bottom lies half a decade under 1, so that a bin of a single I/O
// stands as a bar of its own rather than on the axis line, and a share of one I/O (a bucket
// split between two bins) still shows, shorter.
struct CountAxis {
  std::vector<double> decades;   // 1, 10, 100, ...: the ticks
  double y_top = 0;              // where the top decade is
  double y_bottom = 1;           // the frame's bottom edge
  double y(double count) const;  // y_bottom for counts at or under the floor
};
CountAxis count_axis(double top_count, double y_top, double y_bottom);

// The run's time from its first I/O along x, in seconds, minutes or hours by its length, from 0
// to a round tick at or past end_s. The panels over time share one, so that their moments line
// up down the page.
struct TimeAxis {
  const char* unit = "s";
  double unit_s = 1;
  LinearTicks ticks;  // in the unit
  double x_left = 0, x_right = 1;
  double x(double t_s) const;
};
TimeAxis time_axis(double end_s, double x_left, double x_right);

}  // namespace kolvane

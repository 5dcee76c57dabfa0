#include "report/plot_axes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kolvane {

LinearTicks linear_ticks(double lo, double hi, int max_intervals) {
  if (!(hi > lo))
    hi = lo + 1;
  max_intervals = std::max(max_intervals, 1);
  const int exponent = static_cast<int>(std::floor(std::log10((hi - lo) / max_intervals)));
  // Exact powers of ten for the value arithmetic: i * m / 10^k rather than i * (m * 10^-k),
  // which would print 0.30000000000000004 for the third tick of 0.1.
  const auto power = [](int e) { return std::pow(10.0, std::abs(e)); };
  const auto value = [&](double i, double m, int e) {
    return e >= 0 ? i * m * power(e) : i * m / power(e);
  };
  static const int kMantissas[] = {1, 2, 5};
  for (int e = exponent;; ++e) {
    for (int m : kMantissas) {
      const double step = value(1, m, e);
      const double first = std::floor(lo / step * (1 + 1e-12));
      const double last = std::ceil(hi / step * (1 - 1e-12));
      if (last - first > max_intervals)
        continue;
      LinearTicks t;
      t.step = step;
      t.decimals = e >= 0 ? 0 : -e;
      const auto intervals = static_cast<long long>(last - first);
      for (long long k = 0; k <= intervals; ++k)
        t.values.push_back(value(first + static_cast<double>(k), m, e));
      return t;
    }
  }
}

std::vector<std::string> tick_labels(const LinearTicks& ticks) {
  double top = 0;
  for (double v : ticks.values) top = std::max(top, std::fabs(v));
  // Thousands and millions as k and M once the digits grow long, the same for the whole axis,
  // with the digits after the point that the step needs in that unit (a step of 500 000 is
  // 0.5M).
  int shift = 0;
  const char* suffix = "";
  if (top >= 1e6 && ticks.decimals == 0) {
    shift = 6;
    suffix = "M";
  } else if (top >= 1e4 && ticks.decimals == 0) {
    shift = 3;
    suffix = "k";
  }
  const int step_exponent = static_cast<int>(std::floor(std::log10(ticks.step) + 1e-9));
  const int decimals = std::max(ticks.decimals, shift - step_exponent);
  std::vector<std::string> labels;
  for (double v : ticks.values) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v / std::pow(10.0, shift));
    labels.emplace_back(std::string(buf) + (v == 0 ? "" : suffix));
  }
  return labels;
}

std::vector<std::uint64_t> decade_ticks(std::uint64_t lo_ns, std::uint64_t hi_ns) {
  constexpr std::uint64_t kTop = 10000000000000000000u;  // the largest power of ten in 64 bits
  std::uint64_t p = 1;
  while (p < kTop && p * 10 <= lo_ns) p *= 10;
  std::vector<std::uint64_t> ticks{p};
  while (p < kTop && (p < hi_ns || ticks.size() < 2)) {
    p *= 10;
    ticks.push_back(p);
  }
  if (ticks.size() < 2)  // at the top of the 64 bits the second decade goes below
    ticks.insert(ticks.begin(), p / 10);
  return ticks;
}

double LogAxis::x(double ns) const {
  const double lo = std::log10(static_cast<double>(lo_ns));
  const double hi = std::log10(static_cast<double>(hi_ns));
  return x_left + (std::log10(std::max(ns, 1.0)) - lo) / (hi - lo) * (x_right - x_left);
}

LogAxis latency_axis(std::span<const LatencyMarks> directions, double x_left, double x_right) {
  std::uint64_t lo = UINT64_MAX, hi = 0;
  for (const LatencyMarks& d : directions) {
    if (d.hi_ns != 0) {
      lo = std::min(lo, d.lo_ns);
      hi = std::max(hi, d.hi_ns);
    }
    // A mark of 0 is one not taken; a latency of 0 that was taken is in the buckets' span.
    for (std::uint64_t p : {d.p50_ns, d.p99_ns, d.p999_ns, d.p9999_ns, d.max_ns}) {
      if (p == 0)
        continue;
      lo = std::min(lo, p);
      hi = std::max(hi, p);
    }
  }
  if (hi == 0)  // nothing measured: any decade will do
    lo = hi = 1000;
  // A margin of half the value either side, so that durations just under a power of ten do
  // not end up squeezed against the axis's end.
  const std::vector<std::uint64_t> d =
      decade_ticks(lo - lo / 3, hi > UINT64_MAX / 2 ? UINT64_MAX : hi + hi / 2);
  return {d.front(), d.back(), x_left, x_right};
}

std::array<PercentileMark, 5> percentile_marks(const LatencyMarks& d, const LogAxis& axis) {
  const auto mark = [&](const char* name, std::uint64_t ns) {
    return PercentileMark{name, ns, axis.x(static_cast<double>(ns))};
  };
  return {mark("p50", d.p50_ns), mark("p99", d.p99_ns), mark("p99.9", d.p999_ns),
          mark("p99.99", d.p9999_ns), mark("max", d.max_ns)};
}

namespace {
constexpr double kCountFloorDecades = 0.5;
}  // namespace

double CountAxis::y(double count) const {
  const double span = std::log10(decades.back()) + kCountFloorDecades;
  const double up = std::max(std::log10(std::max(count, 1e-300)) + kCountFloorDecades, 0.0);
  return y_bottom - std::min(up, span) / span * (y_bottom - y_top);
}

CountAxis count_axis(double top_count, double y_top, double y_bottom) {
  CountAxis a;
  a.y_top = y_top;
  a.y_bottom = y_bottom;
  a.decades.push_back(1);
  while (a.decades.back() < top_count || a.decades.size() < 2)
    a.decades.push_back(a.decades.back() * 10);
  return a;
}

double TimeAxis::x(double t_s) const {
  return x_left + t_s / (ticks.values.back() * unit_s) * (x_right - x_left);
}

TimeAxis time_axis(double end_s, double x_left, double x_right) {
  TimeAxis a;
  if (end_s > 36000) {
    a.unit = "h";
    a.unit_s = 3600;
  } else if (end_s > 600) {
    a.unit = "min";
    a.unit_s = 60;
  }
  a.ticks = linear_ticks(0, end_s > 0 ? end_s / a.unit_s : 1, 8);
  a.x_left = x_left;
  a.x_right = x_right;
  return a;
}

}  // namespace kolvane

#include "plan/skew.h"

#include <algorithm>
#include <cmath>

#include "plan/portable_math.h"

namespace kolvane {
namespace {

std::uint64_t mix64(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// A double uniform in [0, 1): the generator's top 53 bits.
double unit(UniformSource& uniform) {
  return static_cast<double>(uniform.next() >> 11) * 0x1.0p-53;
}

// log1p(x) / x and expm1(x) / x, with their series near 0.
double log1p_over(double x) {
  return std::fabs(x) > 1e-8 ? portable_log1p(x) / x : 1.0 - x * (0.5 - x * (1.0 / 3 - 0.25 * x));
}
double expm1_over(double x) {
  return std::fabs(x) > 1e-8 ? portable_expm1(x) / x
                             : 1.0 + x * 0.5 * (1.0 + x / 3 * (1.0 + 0.25 * x));
}

}  // namespace

Scatter::Scatter(std::uint64_t n, std::uint64_t key) : n_(n) {
  while (half_bits_ < 32 && (std::uint64_t{1} << (2 * half_bits_)) < n) ++half_bits_;
  std::uint64_t state = key;
  for (std::uint64_t& k : keys_) k = mix64(state += 0x9E3779B97F4A7C15ULL);
}

std::uint64_t Scatter::operator()(std::uint64_t value) const {
  const std::uint64_t mask = (std::uint64_t{1} << half_bits_) - 1;
  // A bijection of [0, 2^(2 x half)) taken again until it lands below n: from any start below
  // n the walk meets one, so it is a bijection of [0, n) too (at most 4 n values to walk over).
  do {
    std::uint64_t left = value >> half_bits_;
    std::uint64_t right = value & mask;
    for (const std::uint64_t k : keys_) {
      const std::uint64_t next = left ^ (mix64(right ^ k) & mask);
      left = right;
      right = next;
    }
    value = (left << half_bits_) | right;
  } while (value >= n_);
  return value;
}

SkewedDraw::SkewedDraw(OffsetLaw law, double parameter, std::uint64_t n, std::uint64_t key)
    : law_(law), parameter_(parameter), n_(n), scatter_(n, key) {
  if (law == OffsetLaw::zipf) {
    h_x1_ = h_integral(1.5) - 1.0;
    h_n_ = h_integral(static_cast<double>(n) + 0.5);
    s_ = 2.0 - h_integral_inverse(h_integral(2.5) - h(2.0));
  }
  if (law == OffsetLaw::pareto)
    pareto_exponent_ = portable_log(parameter) / portable_log(1.0 - parameter);
}

// Zipf's law by rejection-inversion (Hörmann and Derflinger): exact for any n without a table.
// h is the hat x^-theta, h_integral its integral from 1, h_integral_inverse the inverse.
double SkewedDraw::h(double x) const {
  return portable_exp(-parameter_ * portable_log(x));
}

double SkewedDraw::h_integral(double x) const {
  const double log_x = portable_log(x);
  return expm1_over((1.0 - parameter_) * log_x) * log_x;
}

double SkewedDraw::h_integral_inverse(double x) const {
  const double t = std::max(x * (1.0 - parameter_), -1.0);
  return portable_exp(log1p_over(t) * x);
}

std::uint64_t SkewedDraw::zipf_rank(UniformSource& uniform) const {
  const double top = static_cast<double>(n_);
  for (;;) {
    const double u = h_n_ + unit(uniform) * (h_x1_ - h_n_);
    const double x = h_integral_inverse(u);
    const double k = std::clamp(std::floor(x + 0.5), 1.0, top);
    if (k - x <= s_ || u >= h_integral(k + 0.5) - h(k))
      return static_cast<std::uint64_t>(k) - 1;
  }
}

std::uint64_t SkewedDraw::pareto_rank(UniformSource& uniform) const {
  const double u = unit(uniform);
  if (u == 0.0)
    return 0;
  const double rank =
      std::floor(static_cast<double>(n_) * portable_exp(pareto_exponent_ * portable_log(u)));
  return std::min(static_cast<std::uint64_t>(rank), n_ - 1);
}

std::uint64_t SkewedDraw::normal_choice(UniformSource& uniform) const {
  const double n = static_cast<double>(n_);
  const double deviation = parameter_ / 100.0 * n;
  for (;;) {
    // Marsaglia's polar method: sqrt is exact in IEEE arithmetic, the log is the portable one.
    const double a = 2.0 * unit(uniform) - 1.0;
    const double b = 2.0 * unit(uniform) - 1.0;
    const double s = a * a + b * b;
    if (s == 0.0 || s >= 1.0)
      continue;
    const double x = n / 2.0 + deviation * a * std::sqrt(-2.0 * portable_log(s) / s);
    if (x >= 0.0 && x < n)
      return std::min(static_cast<std::uint64_t>(x), n_ - 1);
  }
}

std::uint64_t SkewedDraw::next(UniformSource& uniform) const {
  switch (law_) {
    case OffsetLaw::zipf:
      return scatter_(zipf_rank(uniform));
    case OffsetLaw::pareto:
      return scatter_(pareto_rank(uniform));
    default:
      return normal_choice(uniform);
  }
}

}  // namespace kolvane

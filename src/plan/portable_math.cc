#include "plan/portable_math.h"

#include <cmath>

namespace kolvane {
namespace {

// ln 2 in two parts: k x kLn2Hi is exact for the k the reductions below meet.
constexpr double kLn2Hi = 6.93147180369123816490e-01;
constexpr double kLn2Lo = 1.90821492927058770002e-10;
constexpr double kInvLn2 = 1.44269504088896338700e+00;
constexpr double kSqrtHalf = 0.70710678118654752440;

// log(m) for m in [sqrt(1/2), sqrt(2)): 2 atanh(s) with s = (m - 1) / (m + 1), |s| <= 0.172,
// whose series reaches below 2^-60 by s^23.
double log_near_one(double m) {
  const double f = m - 1.0;
  const double s = f / (2.0 + f);
  const double z = s * s;
  double sum = 1.0 / 23;
  for (int k = 21; k >= 1; k -= 2) sum = sum * z + 1.0 / k;
  return 2.0 * s * sum;
}

}  // namespace

double portable_log(double x) {
  int e = 0;
  // frexp and ldexp only move the exponent: exact on every platform.
  double m = std::frexp(x, &e);
  if (m < kSqrtHalf) {
    m *= 2.0;
    --e;
  }
  return e * kLn2Hi + (e * kLn2Lo + log_near_one(m));
}

double portable_log1p(double x) {
  const double u = 1.0 + x;
  if (u == 1.0)
    return x;
  // log(u) corrected by what rounding 1 + x lost (u - 1 differs from x by it).
  return portable_log(u) + (x - (u - 1.0)) / u;
}

double portable_exp(double x) {
  if (x > 709.78)
    return HUGE_VAL;
  if (x < -745.2)
    return 0.0;
  const double k = std::floor(x * kInvLn2 + 0.5);
  const double r = (x - k * kLn2Hi) - k * kLn2Lo;  // |r| <= 0.35
  // e^r by its series to r^18 / 18!, below 2^-60 for |r| <= 0.35.
  double sum = 1.0;
  for (int n = 18; n >= 1; --n) sum = 1.0 + sum * r / n;
  return std::ldexp(sum, static_cast<int>(k));
}

double portable_expm1(double x) {
  if (std::fabs(x) >= 0.5)
    return portable_exp(x) - 1.0;
  // x + x^2 / 2! + ... to x^20 / 20!: the leading x keeps the relative accuracy near 0.
  double sum = 1.0;
  for (int n = 20; n >= 2; --n) sum = 1.0 + sum * x / n;
  return x * sum;
}

}  // namespace kolvane

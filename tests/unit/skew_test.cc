// The skewed draws of distribution=: the permutation that scatters ranks is a bijection, each
// law draws its ranks with the chances its formula gives, and the portable logarithm and
// exponential agree with the C library's to a few units in the last place.
#include "plan/skew.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "plan/portable_math.h"

namespace kolvane {
namespace {

TEST(Skew, TheScatterIsABijection) {
  for (const std::uint64_t n : {1ull, 2ull, 3ull, 5ull, 17ull, 1000ull, 4097ull, 65536ull}) {
    const Scatter scatter(n, n * 7919);
    std::vector<bool> seen(n);
    for (std::uint64_t i = 0; i < n; ++i) {
      const std::uint64_t v = scatter(i);
      ASSERT_LT(v, n);
      ASSERT_FALSE(seen[v]) << n << ": " << v << " twice";
      seen[v] = true;
    }
  }
  // Not the identity: the hot set is not the start of the range.
  const Scatter scatter(102400, 1);
  int in_place = 0;
  for (std::uint64_t i = 0; i < 100; ++i) in_place += scatter(i) == i;
  EXPECT_LT(in_place, 3);
}

// Draws `draws` choices and counts them by rank, undoing the scatter with the same key (the
// normal law keeps its place: its choice is its rank).
std::vector<std::uint64_t> by_rank(OffsetLaw law, double parameter, std::uint64_t n, int draws) {
  const std::uint64_t key = 12345;
  const SkewedDraw draw(law, parameter, n, key);
  const Scatter scatter(n, key);
  std::vector<std::uint64_t> rank_of(n);
  for (std::uint64_t r = 0; r < n; ++r) rank_of[law == OffsetLaw::normal ? r : scatter(r)] = r;
  std::vector<std::uint64_t> counts(n);
  UniformSource uniform(99);
  for (int i = 0; i < draws; ++i) ++counts[rank_of[draw.next(uniform)]];
  return counts;
}

TEST(Skew, EachLawDrawsItsFormulasChances) {
  constexpr int kDraws = 400000;
  // Zipf: rank i (from 1) with chance i^-theta / H(n, theta), for the first ranks and the
  // hottest 1 %, within 4 standard deviations of a binomial count.
  const std::uint64_t n = 102400;
  const std::vector<std::uint64_t> zipf = by_rank(OffsetLaw::zipf, 1.2, n, kDraws);
  double harmonic = 0, top = 0;
  for (std::uint64_t i = n; i >= 1; --i) {
    harmonic += std::pow(static_cast<double>(i), -1.2);
    if (i == 1025)
      top = harmonic;
  }
  top = harmonic - top;
  const auto expect_share = [](double got, double p) {
    EXPECT_NEAR(got, p, 4 * std::sqrt(p * (1 - p) / kDraws) + 1e-9);
  };
  std::uint64_t hot = 0;
  for (std::uint64_t r = 0; r < n; ++r) {
    if (r < 5)
      expect_share(static_cast<double>(zipf[r]) / kDraws,
                   std::pow(static_cast<double>(r + 1), -1.2) / harmonic);
    if (r < 1024)
      hot += zipf[r];
  }
  expect_share(static_cast<double>(hot) / kDraws, top / harmonic);
  // A steep law over few choices, where the acceptance test decides most: ranks 1 to 4.
  for (const double theta : {0.4, 3.0}) {
    const std::vector<std::uint64_t> steep = by_rank(OffsetLaw::zipf, theta, 50, kDraws);
    double sum = 0;
    for (int i = 1; i <= 50; ++i) sum += std::pow(i, -theta);
    for (std::uint64_t r = 0; r < 4; ++r)
      expect_share(static_cast<double>(steep[r]) / kDraws,
                   std::pow(static_cast<double>(r + 1), -theta) / sum);
  }
  // Pareto: the first fifth of the ranks gets four fifths of the draws, and a fifth of that
  // fifth four fifths of those.
  const std::uint64_t m = 10000;
  const std::vector<std::uint64_t> pareto = by_rank(OffsetLaw::pareto, 0.2, m, kDraws);
  std::uint64_t fifth = 0, twenty_fifth = 0;
  for (std::uint64_t r = 0; r < m / 5; ++r) (r < m / 25 ? twenty_fifth : fifth) += pareto[r];
  expect_share(static_cast<double>(fifth + twenty_fifth) / kDraws, 0.8);
  expect_share(static_cast<double>(twenty_fifth) / kDraws, 0.64);
  // Normal: mean the middle, deviation P % of the range (the tails cut at the ends are far
  // beyond 4 deviations for P = 10).
  const std::vector<std::uint64_t> normal = by_rank(OffsetLaw::normal, 10, m, kDraws);
  double sum = 0, squares = 0;
  for (std::uint64_t c = 0; c < m; ++c) {
    sum += static_cast<double>(c * normal[c]);
    squares += static_cast<double>(c) * static_cast<double>(c) * static_cast<double>(normal[c]);
  }
  const double mean = sum / kDraws;
  EXPECT_NEAR(mean, m / 2.0, 0.005 * m);
  EXPECT_NEAR(std::sqrt(squares / kDraws - mean * mean), 0.1 * m, 0.002 * m);
}

TEST(Skew, PortableMathAgreesWithTheLibrary) {
  const auto ulps = [](double a, double b) { return std::fabs(a - b) / std::fabs(b) / 0x1.0p-52; };
  for (double x = 1e-300; x < 1e300; x *= 1.37) {
    ASSERT_LE(ulps(portable_log(x), std::log(x)), 4) << x;
  }
  for (double x = -700; x < 700; x += 0.731) {
    ASSERT_LE(ulps(portable_exp(x), std::exp(x)), 4) << x;
  }
  for (double x = -0.9; x < 3; x += 0.0137) {
    if (x == 0)
      continue;
    ASSERT_LE(ulps(portable_log1p(x), std::log1p(x)), 4) << x;
    ASSERT_LE(ulps(portable_expm1(x), std::expm1(x)), 4) << x;
  }
  for (const double tiny : {1e-12, -3e-9, 2e-5}) {
    EXPECT_LE(ulps(portable_log1p(tiny), std::log1p(tiny)), 4) << tiny;
    EXPECT_LE(ulps(portable_expm1(tiny), std::expm1(tiny)), 4) << tiny;
  }
}

}  // namespace
}  // namespace kolvane

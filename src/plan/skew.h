// The skewed offset draws of distribution=: a choice among n block-aligned offsets by a law of
// popularity, from the program's own generator, the same on every program for a seed.
//   zipf:THETA   the choice of popularity rank i (1..n) has a chance proportional to i^-THETA;
//   pareto:H     rank floor(n x U^(ln H / ln(1 - H))) for U uniform in [0, 1): a fraction H of
//                the choices gets 1 - H of the draws, and the same again within them;
//   normal:P     centred on the middle choice, standard deviation P % of n, a draw outside
//                the n choices drawn again.
// Popularity ranks are scattered over the choices by a permutation keyed by the seed, so the hot
// set is not the start of the file; the normal law keeps its place.
#pragma once

#include <cstdint>

#include "cli/settings.h"
#include "run/uniform.h"

namespace kolvane {

// A bijection of [0, n), computed per value: a four-round Feistel network over the smallest
// even number of bits that holds n, walked again while it lands at n or above.
class Scatter {
 public:
  Scatter(std::uint64_t n, std::uint64_t key);
  std::uint64_t operator()(std::uint64_t value) const;

 private:
  std::uint64_t n_;
  unsigned half_bits_ = 1;
  std::uint64_t keys_[4] = {};
};

class SkewedDraw {
 public:
  // `law` one of zipf, pareto, normal; n > 0.
  SkewedDraw(OffsetLaw law, double parameter, std::uint64_t n, std::uint64_t key);
  // A choice in [0, n).
  std::uint64_t next(UniformSource& uniform) const;

 private:
  std::uint64_t zipf_rank(UniformSource& uniform) const;
  std::uint64_t pareto_rank(UniformSource& uniform) const;
  std::uint64_t normal_choice(UniformSource& uniform) const;
  double h(double x) const;
  double h_integral(double x) const;
  double h_integral_inverse(double x) const;

  OffsetLaw law_;
  double parameter_;
  std::uint64_t n_;
  Scatter scatter_;
  // Zipf's rejection-inversion: the integral of the hat at 1.5 (less 1) and at n + 0.5, and the
  // width within which a candidate is taken without the test.
  double h_x1_ = 0;
  double h_n_ = 0;
  double s_ = 0;
  double pareto_exponent_ = 0;
};

}  // namespace kolvane

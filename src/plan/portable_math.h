// The logarithm and the exponential the skewed draws need, computed from additions,
// multiplications and divisions alone. The C libraries' log() and exp() may differ in their last
// bit from one platform to another, and a draw that rounds a value to a block number must give
// the same block on every program for a seed; these give the same bits wherever doubles are
// IEEE 754 and no operation is fused (x86-64 without FMA, as both programs are built). Accurate
// to a few units in the last place, which the draws' tests check against the C library.
#pragma once

namespace kolvane {

// x > 0.
double portable_log(double x);
// log(1 + x), for x > -1, accurate for x near 0.
double portable_log1p(double x);
// e^x; 0 below about -745, infinity above about 709.
double portable_exp(double x);
// e^x - 1, accurate for x near 0.
double portable_expm1(double x);

}  // namespace kolvane

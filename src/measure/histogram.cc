#include "measure/histogram.h"

#include <cmath>

namespace kolvane {

namespace {

// How far bucket i's durations were shifted right: 0 for the first two octaves' worth of 1 ns
// buckets, then one more for each following octave.
unsigned bucket_shift(std::size_t i) {
  const std::size_t octave = i >> LatencyHistogram::kSubBucketBits;
  return octave < 2 ? 0u : static_cast<unsigned>(octave - 1);
}

}  // namespace

std::uint64_t LatencyHistogram::bucket_low_ns(std::size_t i) {
  const unsigned shift = bucket_shift(i);
  return (std::uint64_t{i} - (std::uint64_t{shift} << kSubBucketBits)) << shift;
}

std::uint64_t LatencyHistogram::bucket_high_ns(std::size_t i) {
  return bucket_low_ns(i) + (std::uint64_t{1} << bucket_shift(i));
}

void LatencyHistogram::merge(const LatencyHistogram& other) {
  for (std::size_t i = 0; i < kBuckets; ++i) {
    counts_[i] += other.counts_[i];
  }
  count_ += other.count_;
  sum_ns_ += other.sum_ns_;
  min_ns_ = std::min(min_ns_, other.min_ns_);
  max_ns_ = std::max(max_ns_, other.max_ns_);
}

LatencyHistogram LatencyHistogram::from_counts(std::span<const std::uint64_t, kBuckets> counts,
                                               std::uint64_t sum_ns, std::uint64_t min_ns,
                                               std::uint64_t max_ns) {
  LatencyHistogram h;
  std::copy(counts.begin(), counts.end(), h.counts_.begin());
  for (const std::uint64_t n : counts) {
    h.count_ += n;
  }
  if (h.count_ != 0) {
    h.sum_ns_ = sum_ns;
    h.min_ns_ = min_ns;
    h.max_ns_ = max_ns;
  }
  return h;
}

double LatencyHistogram::mean_ns() const {
  return count_ == 0 ? 0.0 : static_cast<double>(sum_ns_) / static_cast<double>(count_);
}

std::uint64_t LatencyHistogram::percentile_ns(double p) const {
  if (count_ == 0) {
    return 0;
  }
  if (!(p > 0.0)) {  // also NaN
    return min_ns_;
  }
  if (p >= 100.0) {
    return max_ns_;
  }
  // The rank of the wanted duration among the sorted durations, counted from 1. A share that is
  // a whole number but for rounding (99.9 % of 1000) is taken as that number, not the next.
  const double share = p * static_cast<double>(count_) / 100.0;
  const double nearest = std::round(share);
  const double wanted = std::fabs(share - nearest) <= 1e-9 * nearest ? nearest : std::ceil(share);
  const auto rank = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(wanted));
  std::uint64_t seen = 0;
  for (std::size_t i = 0; i < kBuckets; ++i) {
    seen += counts_[i];
    if (seen >= rank) {
      const std::uint64_t low = bucket_low_ns(i);
      const std::uint64_t middle = low + (bucket_high_ns(i) - low) / 2;
      return std::clamp(middle, min_ns_, max_ns_);
    }
  }
  return max_ns_;
}

}  // namespace kolvane

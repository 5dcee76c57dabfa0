// Latency of each I/O, kept in a fixed-size log-linear histogram: every power of two of the
// duration is split into kSubBuckets equal linear buckets, so a bucket is never wider than
// 1/128 of its lower bound and the value reported for it (its middle) is within 0.4 % of any
// duration it holds. Durations below 256 ns have buckets 1 ns wide and are exact. The bucket
// bounds are constants, the same on every host and build, so histograms of many runs add up
// exactly, bucket by bucket.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kolvane {

// The durations [low_ns, high_ns) and how many I/Os took one of them.
struct LatencyBucket {
  std::uint64_t low_ns = 0;
  std::uint64_t high_ns = 0;
  std::uint64_t count = 0;
};

class LatencyHistogram {
 public:
  static constexpr unsigned kSubBucketBits = 7;
  static constexpr std::uint64_t kSubBuckets = std::uint64_t{1} << kSubBucketBits;
  // Durations are tracked up to 2^42 ns (about 73 minutes); longer ones are counted in the last
  // bucket, while min and max keep their true values.
  static constexpr unsigned kTopBit = 42;
  static constexpr std::uint64_t kMaxTracked = (std::uint64_t{1} << kTopBit) - 1;
  static constexpr std::size_t kBuckets = (kTopBit - kSubBucketBits + 1) * kSubBuckets;

  // The bucket a duration falls in. Durations of 2^e..2^(e+1)-1 ns (e >= 7) are shifted right
  // by e-7, which leaves 128..255; the octave's buckets follow the previous octave's.
  static constexpr std::size_t bucket_index(std::uint64_t ns) {
    const std::uint64_t v = std::min(ns, kMaxTracked);
    const unsigned top = 63u - static_cast<unsigned>(std::countl_zero(v | kSubBuckets));
    const unsigned shift = top - kSubBucketBits;
    return static_cast<std::size_t>((std::uint64_t{shift} << kSubBucketBits) + (v >> shift));
  }
  // The bucket's durations are [bucket_low_ns(i), bucket_high_ns(i)).
  static std::uint64_t bucket_low_ns(std::size_t i);
  static std::uint64_t bucket_high_ns(std::size_t i);

  // Runs once per I/O: no division, no allocation.
  void record(std::uint64_t ns) {
    ++counts_[bucket_index(ns)];
    ++count_;
    sum_ns_ += ns;
    min_ns_ = std::min(min_ns_, ns);
    max_ns_ = std::max(max_ns_, ns);
  }
  void merge(const LatencyHistogram& other);
  // A histogram as a report kept it: the count of each bucket, the summed durations and the
  // extremes (ignored when every count is 0).
  static LatencyHistogram from_counts(std::span<const std::uint64_t, kBuckets> counts,
                                      std::uint64_t sum_ns, std::uint64_t min_ns,
                                      std::uint64_t max_ns);

  std::uint64_t count() const { return count_; }
  std::uint64_t bucket_count(std::size_t i) const { return counts_[i]; }
  // visit(const LatencyBucket&) for each bucket that holds a duration, shortest first.
  template <typename Visit>
  void for_each_bucket(Visit&& visit) const {
    for (std::size_t i = 0; i < kBuckets; ++i) {
      if (counts_[i] != 0) {
        visit(LatencyBucket{bucket_low_ns(i), bucket_high_ns(i), counts_[i]});
      }
    }
  }
  // 0 when nothing was recorded.
  std::uint64_t min_ns() const { return count_ == 0 ? 0 : min_ns_; }
  std::uint64_t max_ns() const { return max_ns_; }
  double mean_ns() const;
  // The smallest recorded duration that at least p % of the durations do not exceed, as the
  // middle of its bucket (kept within min and max): the minimum for p = 0, the maximum for
  // p = 100. p outside 0..100 is taken as the nearer end; 0 when nothing was recorded.
  std::uint64_t percentile_ns(double p) const;

 private:
  std::array<std::uint64_t, kBuckets> counts_{};
  std::uint64_t count_ = 0;
  std::uint64_t sum_ns_ = 0;  // wraps only after some 584 years of summed latency
  std::uint64_t min_ns_ = UINT64_MAX;
  std::uint64_t max_ns_ = 0;
};

}  // namespace kolvane

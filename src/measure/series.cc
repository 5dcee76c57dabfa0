#include "measure/series.h"

#include <algorithm>

namespace kolvane {

namespace {

constexpr std::size_t index(IoDirection d) {
  return d == IoDirection::read ? 0 : 1;
}

}  // namespace

LatencyHistogram histogram_of(const std::vector<LatencyBucket>& buckets, std::uint64_t max_ns) {
  std::vector<std::uint64_t> counts(LatencyHistogram::kBuckets, 0);
  for (const LatencyBucket& b : buckets)
    counts[LatencyHistogram::bucket_index(b.low_ns)] += b.count;
  // Percentiles are bucket middles kept within min and max. Without the true minimum, one that
  // falls in the lowest bucket is its middle even when every duration in it lies above: still
  // within the bucket's width, as close as any other.
  const std::uint64_t min_ns = buckets.empty() ? 0 : buckets.front().low_ns;
  return LatencyHistogram::from_counts(
      std::span<const std::uint64_t, LatencyHistogram::kBuckets>(counts.data(), counts.size()), 0,
      min_ns, max_ns);
}

LatencySeries::LatencySeries(std::uint32_t interval_ms, std::size_t max_records,
                             std::size_t max_bytes)
    : interval_ms_(std::max<std::uint32_t>(interval_ms, 1)),
      max_records_(std::max<std::size_t>(max_records, 2)),
      max_bytes_(max_bytes) {}

void LatencySeries::record(std::uint64_t ns_since_start, IoDirection d, std::uint64_t latency_ns,
                           std::uint64_t bytes) {
  Counts& c = record_at(ns_since_start / fine_ns())[index(d)];
  ++c.ios;
  c.bytes += bytes;
  c.max_ns = std::max(c.max_ns, latency_ns);
  const auto bucket = static_cast<std::uint16_t>(LatencyHistogram::bucket_index(latency_ns));
  const auto at = std::lower_bound(c.entries.begin(), c.entries.end(), bucket,
                                   [](const Entry& e, std::uint16_t b) { return e.bucket < b; });
  if (at != c.entries.end() && at->bucket == bucket) {
    ++at->count;
    return;
  }
  const std::size_t before = c.entries.capacity();
  c.entries.insert(at, Entry{bucket, 1});
  if (c.entries.capacity() != before) {
    bytes_held_ += (c.entries.capacity() - before) * sizeof(Entry);
    keep_to_memory();
  }
}

LatencySeries::Record& LatencySeries::record_at(std::uint64_t fine) {
  for (;;) {
    const std::size_t needed =
        std::max(records_.size(), static_cast<std::size_t>(fine >> shift_) + 1);
    const bool finer_than_interval = shift_ < kFinerBits && needed > kFineRecords;
    if (!finer_than_interval && needed <= max_records_)
      break;
    coarsen();
  }
  const auto i = static_cast<std::size_t>(fine >> shift_);
  if (i >= records_.size())
    records_.resize(i + 1);
  return records_[i];
}

void LatencySeries::add_counts(Counts& into, const Counts& from) {
  into.ios += from.ios;
  into.bytes += from.bytes;
  into.max_ns = std::max(into.max_ns, from.max_ns);
  if (from.entries.empty())
    return;
  std::vector<Entry> merged;
  merged.reserve(into.entries.size() + from.entries.size());
  auto a = into.entries.begin();
  auto b = from.entries.begin();
  while (a != into.entries.end() || b != from.entries.end()) {
    if (b == from.entries.end() || (a != into.entries.end() && a->bucket < b->bucket)) {
      merged.push_back(*a++);
    } else if (a == into.entries.end() || b->bucket < a->bucket) {
      merged.push_back(*b++);
    } else {
      merged.push_back({a->bucket, a->count + b->count});
      ++a;
      ++b;
    }
  }
  merged.shrink_to_fit();
  bytes_held_ += merged.capacity() * sizeof(Entry);
  bytes_held_ -= into.entries.capacity() * sizeof(Entry);
  into.entries = std::move(merged);
}

void LatencySeries::coarsen() {
  // The first fine record of each record stays a multiple of the new length, so no record
  // straddles two new ones.
  const std::size_t merged = (records_.size() + 1) / 2;
  for (std::size_t i = 0; i < merged; ++i) {
    Record sum = std::move(records_[2 * i]);
    if (2 * i + 1 < records_.size()) {
      for (std::size_t d = 0; d < sum.size(); ++d) {
        add_counts(sum[d], records_[2 * i + 1][d]);
        bytes_held_ -= records_[2 * i + 1][d].entries.capacity() * sizeof(Entry);
      }
    }
    records_[i] = std::move(sum);
  }
  records_.resize(merged);
  ++shift_;
}

void LatencySeries::keep_to_memory() {
  while (bytes_held_ > max_bytes_ && records_.size() > 1) coarsen();
}

void LatencySeries::coarsen_to(std::uint64_t record_ns) {
  while (this->record_ns() < record_ns) coarsen();
}

void LatencySeries::add(const LatencySeries& other) {
  while (shift_ < other.shift_) coarsen();
  // Each of the other's records lies inside one of these, as both lengths are the fine length
  // times a power of two, counted from the same start.
  for (std::size_t i = 0; i < other.records_.size(); ++i) {
    Record& into = record_at(std::uint64_t{i} << other.shift_);
    for (std::size_t d = 0; d < into.size(); ++d) add_counts(into[d], other.records_[i][d]);
  }
  keep_to_memory();
}

std::vector<SeriesSlot> LatencySeries::slots() const {
  std::vector<SeriesSlot> out;
  out.reserve(records_.size());
  const std::uint64_t length = record_ns();
  for (std::size_t i = 0; i < records_.size(); ++i) {
    SeriesSlot& slot = out.emplace_back();
    slot.start_ns = i * length;
    slot.length_ns = length;
    for (std::size_t d = 0; d < slot.directions.size(); ++d) {
      const Counts& c = records_[i][d];
      SeriesCounts& s = slot.directions[d];
      s.ios = c.ios;
      s.bytes = c.bytes;
      s.max_ns = c.max_ns;
      s.buckets.reserve(c.entries.size());
      for (const Entry& e : c.entries)
        s.buckets.push_back({LatencyHistogram::bucket_low_ns(e.bucket),
                             LatencyHistogram::bucket_high_ns(e.bucket), e.count});
    }
  }
  return out;
}

}  // namespace kolvane

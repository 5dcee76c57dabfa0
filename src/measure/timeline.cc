#include "measure/timeline.h"

#include <algorithm>

namespace kolvane {

IoCounts& IoCounts::operator+=(const IoCounts& other) {
  read_ios += other.read_ios;
  read_bytes += other.read_bytes;
  write_ios += other.write_ios;
  write_bytes += other.write_bytes;
  return *this;
}

Timeline::Timeline(std::size_t max_records) : max_records_(std::max<std::size_t>(max_records, 2)) {}

void Timeline::coarsen() {
  // The first second of each record stays even in the coarser resolution, so no record
  // straddles two new ones.
  const std::size_t merged = (records_.size() + 1) / 2;
  for (std::size_t i = 0; i < merged; ++i) {
    IoCounts sum = records_[2 * i];
    if (2 * i + 1 < records_.size())
      sum += records_[2 * i + 1];
    records_[i] = sum;
  }
  records_.resize(merged);
  ++shift_;
}

void Timeline::grow(std::uint64_t second) {
  while ((second >> shift_) >= max_records_) coarsen();
  const std::size_t needed = static_cast<std::size_t>(second >> shift_) + 1;
  if (needed > records_.size()) {
    // Grow geometrically, but never hold room for more than the cap.
    if (needed > records_.capacity())
      records_.reserve(std::min(max_records_, std::max(needed, 2 * records_.capacity())));
    records_.resize(needed);
  }
}

void Timeline::add(const Timeline& other) {
  while (shift_ < other.shift_) coarsen();
  // Each of the other's records lies inside one of these, as both resolutions are powers of two
  // counted from second 0.
  for (std::size_t i = 0; i < other.records_.size(); ++i) {
    const std::uint64_t second = std::uint64_t{i} << other.shift_;
    if ((second >> shift_) >= records_.size())
      grow(second);
    records_[static_cast<std::size_t>(second >> shift_)] += other.records_[i];
  }
}

std::vector<TimelineSlot> Timeline::slots() const {
  std::vector<TimelineSlot> out;
  out.reserve(records_.size());
  const std::uint64_t length = seconds_per_record();
  for (std::size_t i = 0; i < records_.size(); ++i)
    out.push_back({i * length, length, records_[i]});
  return out;
}

}  // namespace kolvane

// Per-second I/O counters for pictures of a run over time. Each completed I/O adds its bytes to
// the record of the second it completed in; nothing is kept per I/O. A record covers one second
// until the run outlasts the cap on records (a day's worth by default); then neighbouring records
// merge in pairs, so each covers twice as long, and the memory stays fixed however long the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/io_direction.h"

namespace kolvane {

struct IoCounts {
  std::uint64_t read_ios = 0;
  std::uint64_t read_bytes = 0;
  std::uint64_t write_ios = 0;
  std::uint64_t write_bytes = 0;

  IoCounts& operator+=(const IoCounts& other);
  friend bool operator==(const IoCounts&, const IoCounts&) = default;
};

// Seconds [start_s, start_s + length_s) since the run's first I/O and what completed in them.
struct TimelineSlot {
  std::uint64_t start_s = 0;
  std::uint64_t length_s = 1;
  IoCounts counts;
};

class Timeline {
 public:
  static constexpr std::size_t kDayOfSeconds = 86400;

  // max_records is at least 2 (a smaller value is taken as 2).
  explicit Timeline(std::size_t max_records = kDayOfSeconds);

  // One completed I/O, ns after the run's first I/O began. Completions may come out of order.
  void record(std::uint64_t ns_since_start, IoDirection direction, std::uint64_t bytes) {
    const std::uint64_t second = ns_since_start / 1000000000u;
    if ((second >> shift_) >= records_.size())
      grow(second);
    IoCounts& r = records_[second >> shift_];
    if (direction == IoDirection::read) {
      ++r.read_ios;
      r.read_bytes += bytes;
    } else {
      ++r.write_ios;
      r.write_bytes += bytes;
    }
  }

  // Adds another timeline counted from the same start, record by record: the coarser of the two
  // resolutions is kept, so the sum is exact whatever each had merged.
  void add(const Timeline& other);
  // Every slot from second 0 to the last one with an I/O, empty seconds included, in order.
  std::vector<TimelineSlot> slots() const;

  std::uint64_t seconds_per_record() const { return std::uint64_t{1} << shift_; }
  std::size_t max_records() const { return max_records_; }
  // Records held now; never above max_records().
  std::size_t records_held() const { return records_.size(); }

 private:
  // Makes room for the record of that second, merging pairs while it would lie past the cap.
  void grow(std::uint64_t second);
  // Records 2i and 2i+1 become record i: each record covers twice as long.
  void coarsen();

  std::size_t max_records_;
  unsigned shift_ = 0;  // each record covers 2^shift_ seconds
  std::vector<IoCounts> records_;
};

}  // namespace kolvane

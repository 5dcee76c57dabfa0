// The run's latency over time: per interval and per direction, the I/Os that completed in it,
// their bytes, their latencies in the buckets of LatencyHistogram (so that series of workers,
// runs and hosts add up exactly) and the slowest one. Only the buckets an interval touched are
// kept, and a run keeps at most a fixed number of records whatever its length.
//
// Records start at a sixteenth of the interval and merge in pairs while a run would hold more
// than kFineRecords of them and they are shorter than the interval: a run of more than ten
// intervals ends with records of exactly the interval, a shorter one with more than ten records
// of its own length (fewer only when it lasts less than ten sixteenths of an interval). Past
// max_records, or when the buckets would take more than max_bytes, pairs merge again (each
// record covering twice as long).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "measure/histogram.h"
#include "platform/io_direction.h"

namespace kolvane {

// What completed in one direction during one record.
struct SeriesCounts {
  std::uint64_t ios = 0;
  std::uint64_t bytes = 0;
  std::uint64_t max_ns = 0;
  std::vector<LatencyBucket> buckets;  // those that hold an I/O, shortest first
};

// [start_ns, start_ns + length_ns) after the series' start, and what completed in it.
struct SeriesSlot {
  std::uint64_t start_ns = 0;
  std::uint64_t length_ns = 0;
  std::array<SeriesCounts, 2> directions;  // read, write

  const SeriesCounts& of(IoDirection d) const { return directions[d == IoDirection::read ? 0 : 1]; }
};

// The histogram the buckets make (its minimum the lowest bucket's low end, its maximum max_ns),
// for the percentiles of one slot or of several added up.
LatencyHistogram histogram_of(const std::vector<LatencyBucket>& buckets, std::uint64_t max_ns);

class LatencySeries {
 public:
  static constexpr std::size_t kMaxRecords = 1024;
  static constexpr std::size_t kMaxBytes = std::size_t{64} << 20;
  static constexpr unsigned kFinerBits = 4;  // records start at 1/16 of the interval
  static constexpr std::size_t kFineRecords = 20;

  // max_records is at least 2 (a smaller value is taken as 2).
  explicit LatencySeries(std::uint32_t interval_ms, std::size_t max_records = kMaxRecords,
                         std::size_t max_bytes = kMaxBytes);

  // One completed I/O, ns after the series' start, that took latency_ns. Completions may come
  // out of order.
  void record(std::uint64_t ns_since_start, IoDirection d, std::uint64_t latency_ns,
              std::uint64_t bytes);
  // Adds another series of the same interval counted from the same start: both are brought to
  // the coarser record length first, so the sum is what one series fed both would hold.
  void add(const LatencySeries& other);

  // Brings the records to at least `record_ns` long (a power of two times the fine length, as
  // another series of the same interval holds): series kept apart then line up record by record.
  void coarsen_to(std::uint64_t record_ns);
  std::uint32_t interval_ms() const { return interval_ms_; }
  std::uint64_t record_ns() const { return fine_ns() << shift_; }
  std::size_t records_held() const { return records_.size(); }
  // The memory the sparse buckets of every record take.
  std::size_t bytes_held() const { return bytes_held_; }
  // Every record from the start to the last one with an I/O, empty ones included, in order.
  std::vector<SeriesSlot> slots() const;

 private:
  struct Entry {
    std::uint16_t bucket;
    std::uint64_t count;
  };
  struct Counts {
    std::uint64_t ios = 0;
    std::uint64_t bytes = 0;
    std::uint64_t max_ns = 0;
    std::vector<Entry> entries;  // sorted by bucket
  };
  using Record = std::array<Counts, 2>;

  std::uint64_t fine_ns() const { return std::uint64_t{interval_ms_} * (1000000 >> kFinerBits); }
  // The record holding fine record `fine` (counted in records of a sixteenth of the interval),
  // after merging pairs as long as it would lie past what the series may hold.
  Record& record_at(std::uint64_t fine);
  // Records 2i and 2i+1 become record i.
  void coarsen();
  // Merges pairs while the buckets take more than the cap (down to one record).
  void keep_to_memory();
  // Adds `from` into `into` and counts the memory `into` gained.
  void add_counts(Counts& into, const Counts& from);

  std::uint32_t interval_ms_;
  std::size_t max_records_;
  std::size_t max_bytes_;
  unsigned shift_ = 0;  // each record covers 2^shift_ fine records
  std::size_t bytes_held_ = 0;
  std::vector<Record> records_;
};

}  // namespace kolvane

// The latency series as the reports hold it: per interval, per direction of the run, the I/Os,
// their bytes, the 50th and 99th percentiles and the slowest latency, and the buckets behind
// them when they were kept, so that the series of many documents can be added up again.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "measure/series.h"
#include "platform/io_direction.h"

namespace kolvane {

struct SeriesFigures {
  std::uint64_t ios = 0;
  std::uint64_t bytes = 0;
  std::uint64_t max_ns = 0;
  std::optional<std::uint64_t> p50_ns;  // absent when no I/O completed in the interval
  std::optional<std::uint64_t> p99_ns;
  // Absent when only the percentiles were kept (a document written without json-buckets=1).
  std::optional<std::vector<LatencyBucket>> buckets;
};

struct SeriesInterval {
  double start_ms = 0;  // since the run's first I/O (the workers' common start)
  double length_ms = 0;
  std::optional<SeriesFigures> read;  // present when the run has the direction
  std::optional<SeriesFigures> write;

  std::optional<SeriesFigures>& of(IoDirection d) { return d == IoDirection::read ? read : write; }
  const std::optional<SeriesFigures>& of(IoDirection d) const {
    return d == IoDirection::read ? read : write;
  }
};

struct SeriesReport {
  std::uint32_t interval_ms = 0;
  std::vector<SeriesInterval> intervals;
};

// Sets the percentiles from the buckets (none when the figures have no I/O).
void derive_percentiles(SeriesFigures& f);

// The series for the run's `directions`, with each interval's buckets when `keep_buckets`.
SeriesReport series_report(const LatencySeries& series, const std::vector<IoDirection>& directions,
                           bool keep_buckets);

}  // namespace kolvane

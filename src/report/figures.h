// What a run measured in one direction (reading the input, writing the output), and the figures
// derived from it that every report prints. The model owns its histogram, so that a report can
// be kept, read back from its document and merged with others after the run is gone.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "measure/histogram.h"
#include "platform/io_direction.h"

namespace kolvane {

struct DirectionFigures {
  IoDirection direction = IoDirection::read;
  std::uint64_t bytes = 0;
  std::uint64_t ios = 0;                    // one I/O is one block, whatever system calls it took
  std::uint64_t wall_us = 0;                // the transfer phase (for writes, with the final sync)
  std::optional<LatencyHistogram> latency;  // absent: no latencies were taken
  // rate= only: from each I/O's hand-over to its completion, while `latency` counts from its
  // due time. Absent: the two are one.
  std::optional<LatencyHistogram> service;
};

// "read" or "write", as every report names the direction.
const char* direction_name(IoDirection d);
// The direction a report's name stands for; absent for any other text.
std::optional<IoDirection> direction_named(std::string_view name);

// Absent when no time passed: a rate over nothing is not a number.
std::optional<double> megabytes_per_second(const DirectionFigures& d);
std::optional<double> ios_per_second(const DirectionFigures& d);

// The latency figures every report prints, in this order.
struct LatencyPoint {
  const char* label;  // as a column heading
  const char* key;    // as a JSON key
  double percentile;  // below 0: the mean
};
inline constexpr std::array<LatencyPoint, 8> kLatencyPoints{{
    {"min", "min", 0.0},
    {"mean", "mean", -1.0},
    {"p50", "p50", 50.0},
    {"p90", "p90", 90.0},
    {"p99", "p99", 99.0},
    {"p99.9", "p99_9", 99.9},
    {"p99.99", "p99_99", 99.99},
    {"max", "max", 100.0},
}};

// The point's value in nanoseconds.
double latency_ns(const LatencyHistogram& h, const LatencyPoint& point);

}  // namespace kolvane

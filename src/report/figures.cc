#include "report/figures.h"

namespace kolvane {

const char* direction_name(IoDirection d) {
  return d == IoDirection::read ? "read" : "write";
}

std::optional<IoDirection> direction_named(std::string_view name) {
  for (const IoDirection d : {IoDirection::read, IoDirection::write}) {
    if (name == direction_name(d)) {
      return d;
    }
  }
  return std::nullopt;
}

std::optional<double> megabytes_per_second(const DirectionFigures& d) {
  if (d.wall_us == 0) {
    return std::nullopt;
  }
  // Bytes per microsecond are megabytes (10^6 bytes) per second.
  return static_cast<double>(d.bytes) / static_cast<double>(d.wall_us);
}

std::optional<double> ios_per_second(const DirectionFigures& d) {
  if (d.wall_us == 0) {
    return std::nullopt;
  }
  return static_cast<double>(d.ios) * 1e6 / static_cast<double>(d.wall_us);
}

double latency_ns(const LatencyHistogram& h, const LatencyPoint& point) {
  if (point.percentile < 0.0) {
    return h.mean_ns();
  }
  return static_cast<double>(h.percentile_ns(point.percentile));
}

}  // namespace kolvane

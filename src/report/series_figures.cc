#include "report/series_figures.h"

#include <utility>

namespace kolvane {

void derive_percentiles(SeriesFigures& f) {
  f.p50_ns.reset();
  f.p99_ns.reset();
  if (f.ios == 0 || !f.buckets)
    return;
  const LatencyHistogram h = histogram_of(*f.buckets, f.max_ns);
  f.p50_ns = h.percentile_ns(50.0);
  f.p99_ns = h.percentile_ns(99.0);
}

SeriesReport series_report(const LatencySeries& series, const std::vector<IoDirection>& directions,
                           bool keep_buckets) {
  SeriesReport r;
  r.interval_ms = series.interval_ms();
  for (SeriesSlot& slot : series.slots()) {
    SeriesInterval& i = r.intervals.emplace_back();
    i.start_ms = static_cast<double>(slot.start_ns) / 1e6;
    i.length_ms = static_cast<double>(slot.length_ns) / 1e6;
    for (const IoDirection d : directions) {
      SeriesCounts& c = slot.directions[d == IoDirection::read ? 0 : 1];
      SeriesFigures& f = i.of(d).emplace();
      f.ios = c.ios;
      f.bytes = c.bytes;
      f.max_ns = c.max_ns;
      f.buckets = std::move(c.buckets);
      derive_percentiles(f);
      if (!keep_buckets)
        f.buckets.reset();
    }
  }
  return r;
}

}  // namespace kolvane

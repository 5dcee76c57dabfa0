#include "report/plot_model.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

namespace kolvane {

namespace {

// Slots of whole seconds, each as long as the series' intervals (at least a second).
std::vector<TimelineSlot> timeline_of(const SeriesReport& s) {
  std::vector<TimelineSlot> slots;
  if (s.intervals.empty())
    return slots;
  const double length_ms = std::max(s.intervals.front().length_ms, 1.0);
  const auto slot_s = static_cast<std::uint64_t>(std::max(1.0, std::round(length_ms / 1000.0)));
  for (const SeriesInterval& i : s.intervals) {
    const auto index = static_cast<std::size_t>(i.start_ms / 1000.0) / slot_s;
    while (slots.size() <= index) {
      TimelineSlot& slot = slots.emplace_back();
      slot.start_s = (slots.size() - 1) * slot_s;
      slot.length_s = slot_s;
    }
    IoCounts& c = slots[index].counts;
    if (i.read) {
      c.read_ios += i.read->ios;
      c.read_bytes += i.read->bytes;
    }
    if (i.write) {
      c.write_ios += i.write->ios;
      c.write_bytes += i.write->bytes;
    }
  }
  return slots;
}

}  // namespace

PlotModel plot_model(const RunReport& report) {
  PlotModel m;
  m.words.emplace_back("kolvane");
  m.words.insert(m.words.end(), report.command.begin(), report.command.end());
  m.input_name = report.settings.input.value_or("standard input");
  m.output_name = report.settings.output.value_or("standard output");
  if (report.origin)
    m.date = report.origin->start_time;
  else if (report.merged)
    m.date = std::to_string(report.merged->runs.size()) + " runs merged";
  m.seed = report.seed;
  if (report.interrupted)
    m.outcome = "interrupted";
  else if (report.exit_status != 0)
    m.outcome = report.error.value_or("exit status " + std::to_string(report.exit_status));
  for (const DirectionFigures& d : report.directions) {
    (d.direction == IoDirection::read ? m.read : m.write) = d;
    m.elapsed_ns = std::max(m.elapsed_ns, d.wall_us * 1000);
  }
  m.rates_over_time = report.series.has_value();
  m.series = report.series;
  if (report.series) {
    m.timeline = timeline_of(*report.series);
    // The series' last interval runs past the run's end; the transfer phase ends it.
    if (m.elapsed_ns == 0 && !report.series->intervals.empty()) {
      const SeriesInterval& last = report.series->intervals.back();
      m.elapsed_ns =
          static_cast<std::uint64_t>(std::llround((last.start_ms + last.length_ms) * 1e6));
    }
  }
  return m;
}

}  // namespace kolvane

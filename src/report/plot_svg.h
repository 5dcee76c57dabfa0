// A picture of one run as a single self-contained SVG document: a title block (the command, the
// files, the date, the seed, the totals), for each direction the latency distribution on a
// logarithmic time axis with p50, p99, p99.9, p99.99 and the slowest marked (and under rate= the
// service times beside the latencies), the latency over the run's time, and IOPS and MB/s over
// the run's seconds.
// No script, no external fonts, images or files: it opens anywhere, years later, as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measure/timeline.h"
#include "report/figures.h"
#include "report/plot_axes.h"
#include "report/series_figures.h"

namespace kolvane {

// ---- The model ----------------------------------------------------------------------------------

struct PlotModel {
  std::vector<std::string> words;  // the command line, program name first, bytes as given
  std::string input_name;          // as the reports name them ("standard input", ...)
  std::string output_name;
  std::string date;  // when the run started, as printed
  std::uint32_t seed = 0;
  // From the start of the first I/O (the timeline's origin) to the end of the last one. The last
  // slot of the timeline is usually cut short by it: its rate is over the time it really had.
  std::uint64_t elapsed_ns = 0;
  std::string outcome;  // empty when the run completed; else why it ended ("interrupted", ...)
  std::optional<DirectionFigures> read;  // absent: the run had no such direction
  std::optional<DirectionFigures> write;
  std::vector<TimelineSlot> timeline;
  // The latency per interval; absent when the run kept none (the panel over time is left out).
  std::optional<SeriesReport> series;
  // False for a picture drawn from a document that kept no series: it has no rates over time
  // (an empty timeline otherwise means that no I/O completed), so their panels are left out.
  bool rates_over_time = true;
};

// ---- Layout that the tests check against the model ---------------------------------------------

// The marks of a direction's histogram; all 0 when no latencies were taken.
LatencyMarks latency_marks(const DirectionFigures& d);
LatencyMarks latency_marks(const LatencyHistogram& h);

// How wide a direction's lines are drawn. Read lines are drawn first and wider, write lines on
// top and narrower, so that where the two coincide both stay in sight.
double line_width(IoDirection d);

// The plot area of the latency panels in the document render_plot_svg writes.
inline constexpr double kPlotLeft = 78;
inline constexpr double kPlotRight = 760;

// IOPS and MB/s (10^6 bytes) over stretches of the run, each at the middle of its stretch. A
// stretch is a timeline slot, the last one cut at elapsed_ns; a last stretch shorter than half a
// slot joins the one before, since a rate over a sliver of time means nothing (one I/O ending a
// millisecond into a new second would read as a thousand IOPS).
struct RatePoint {
  double t_s = 0;
  double read_iops = 0, write_iops = 0, read_mbs = 0, write_mbs = 0;
};
struct RateSeries {
  std::vector<RatePoint> points;
  double end_s = 0;  // where the last stretch ends
};
RateSeries rate_points(const PlotModel& model);

// Where the panels over time end: the rates' last stretch or the series' last interval.
double time_span_s(const PlotModel& model);

// The latency over time panel: per direction of the series, its p50, p99 and slowest latency
// per interval as lines of points (x at the interval's middle on the shared time axis, y on a
// logarithmic latency axis, upwards), each line broken where an interval had no I/O.
struct LatencyLine {
  IoDirection direction = IoDirection::read;
  const char* statistic = "";  // "p50", "p99", "max"
  struct Point {
    double x, y;
  };
  std::vector<std::vector<Point>> pieces;  // the runs of intervals with I/O
};
struct LatencyOverTime {
  TimeAxis time;
  LogAxis latency;                 // x_left is the bottom of the plot, x_right its top
  std::vector<LatencyLine> lines;  // read's first
};
// Empty lines when the model has no series or no interval had an I/O.
LatencyOverTime latency_over_time(const PlotModel& model, double top, double bottom);

// ---- The document -------------------------------------------------------------------------------

std::string render_plot_svg(const PlotModel& model);

}  // namespace kolvane

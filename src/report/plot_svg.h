// A picture of one run as a single self-contained SVG document: a title block (the command, the
// files, the date, the seed, the totals), for each direction the latency distribution on a
// logarithmic time axis with p50, p99 and p99.9 marked, and IOPS and MB/s over the run's seconds.
// No script, no external fonts, images or files: it opens anywhere, years later, as it was.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "measure/timeline.h"
#include "report/figures.h"

namespace kolvane {

// ---- Text from names and words ----------------------------------------------------------------

// Valid UTF-8 as it is; each byte that does not belong to a well-formed sequence becomes U+FFFD,
// as in the JSON report; control characters (U+0000 to U+001F, U+007F to U+009F) are left out;
// U+FFFE and U+FFFF, which XML does not allow, become U+FFFD.
std::string clean_text(std::string_view raw);

// & < > " ' as entity references, everything else as it is.
std::string xml_escape(std::string_view text);

// clean_text, then at most max_chars characters (longer text keeps its start and end around an
// ellipsis, so both a path's top and its file name stay visible), then xml_escape.
std::string svg_text(std::string_view raw, std::size_t max_chars = SIZE_MAX);

// ---- Axes ---------------------------------------------------------------------------------------

// Round values from at or below lo to at or above hi, step 1, 2 or 5 times a power of ten, at
// most max_intervals steps apart end to end. An empty range (hi <= lo) is widened to [lo, lo + 1].
struct LinearTicks {
  double step = 1;
  int decimals = 0;  // digits after the point that show every value exactly
  std::vector<double> values;
};
LinearTicks linear_ticks(double lo, double hi, int max_intervals = 5);

// The ticks as text, in one style for the whole axis: "0.5", "250", or with k or M once the
// values reach 10 000 or 1 000 000 ("20k", "1.5M").
std::vector<std::string> tick_labels(const LinearTicks& ticks);

// The powers of ten from the one at or below lo_ns to the one at or above hi_ns; at least two.
// lo_ns 0 counts as 1.
std::vector<std::uint64_t> decade_ticks(std::uint64_t lo_ns, std::uint64_t hi_ns);

// A power of ten of nanoseconds in its unit: "100 ns", "1 µs", "10 ms", "1 s", "1000 s".
std::string decade_label(std::uint64_t ns);

// A duration with three significant digits in the largest unit that keeps it at or above 1
// (ns, µs, ms, s): "850 ns", "12.3 µs", "1.00 ms", "3.60 s".
std::string duration_text(double ns);

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
};

// ---- Layout that the tests check against the model ---------------------------------------------

// Nanoseconds to x on a logarithmic axis from lo_ns at x_left to hi_ns at x_right.
struct LogAxis {
  std::uint64_t lo_ns = 1;
  std::uint64_t hi_ns = 10;
  double x_left = 0;
  double x_right = 1;
  double x(double ns) const;
};

// What the latency panels mark of one direction: the durations its non-empty buckets span
// (both 0 when there are none) and its p50, p99 and p99.9 (0 when no latencies were taken).
struct LatencyMarks {
  std::uint64_t lo_ns = 0;
  std::uint64_t hi_ns = 0;
  std::uint64_t p50_ns = 0;
  std::uint64_t p99_ns = 0;
  std::uint64_t p999_ns = 0;
};
LatencyMarks latency_marks(const DirectionFigures& d);

// The latency axis both directions share, so their shapes compare at a glance: whole decades
// around every bucket and mark of either direction, each widened by half its value.
LogAxis latency_axis(std::span<const LatencyMarks> directions, double x_left, double x_right);

struct PercentileMark {
  const char* name;  // "p50", "p99", "p99.9"
  std::uint64_t ns;
  double x;
};
std::array<PercentileMark, 3> percentile_marks(const LatencyMarks& d, const LogAxis& axis);

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

// ---- The document -------------------------------------------------------------------------------

std::string render_plot_svg(const PlotModel& model);

}  // namespace kolvane

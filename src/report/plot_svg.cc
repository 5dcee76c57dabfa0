#include "report/plot_svg.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

#include "report/plot_units.h"
#include "report/svg_writer.h"
#include "report/utf8.h"

namespace kolvane {

namespace {

// ---- Drawing ----

const char* const kReadColour = "#0072b2";
const char* const kWriteColour = "#d55e00";
const char* const kInk = "#222222";
const char* const kFaint = "#666666";
const char* const kGrid = "#e4e4e4";
constexpr double kWidth = 800;

// A plot area and the y range it shows.
struct Panel {
  double left = kPlotLeft, right = kPlotRight, top = 0, bottom = 0;
  LinearTicks y;
  double y_of(double v) const {
    const double lo = y.values.front(), hi = y.values.back();
    return bottom - (v - lo) / (hi - lo) * (bottom - top);
  }
};

// Horizontal grid lines at the given heights with their labels, the frame, and the y axis's
// name written upwards.
void draw_y_frame(Svg& svg, const Panel& p,
                  const std::vector<std::pair<double, std::string>>& ticks,
                  const std::string& name) {
  for (const auto& [y, label] : ticks) {
    svg.line(p.left, y, p.right, y, stroke(kGrid));
    svg.text(p.left - 6, y + 4, label, " text-anchor=\"end\"");
  }
  svg.rect(p.left, p.top, p.right - p.left, p.bottom - p.top, " fill=\"none\"" + stroke(kFaint));
  const double mid = (p.top + p.bottom) / 2;
  svg.text(16, mid, xml_escape(name),
           " text-anchor=\"middle\" transform=\"rotate(-90 16 " + num(mid) + ")\"" + fill(kFaint));
}

void draw_y_axis(Svg& svg, const Panel& p, const std::string& name) {
  const std::vector<std::string> labels = tick_labels(p.y);
  std::vector<std::pair<double, std::string>> ticks;
  for (std::size_t i = 0; i < labels.size(); ++i)
    ticks.emplace_back(p.y_of(p.y.values[i]), labels[i]);
  draw_y_frame(svg, p, ticks, name);
}

void draw_x_tick(Svg& svg, const Panel& p, double x, const std::string& label) {
  svg.line(x, p.top, x, p.bottom, stroke(kGrid));
  svg.line(x, p.bottom, x, p.bottom + 4, stroke(kFaint));
  svg.text(x, p.bottom + 17, label, " text-anchor=\"middle\"");
}

// The run's time under a panel over time.
void draw_time_ticks(Svg& svg, const Panel& p, const TimeAxis& t) {
  const std::vector<std::string> labels = tick_labels(t.ticks);
  for (std::size_t i = 0; i < labels.size(); ++i)
    draw_x_tick(svg, p, t.x(t.ticks.values[i] * t.unit_s), labels[i]);
  svg.text((p.left + p.right) / 2, p.bottom + 33,
           std::string("time since the first I/O (") + t.unit + ")",
           " text-anchor=\"middle\"" + fill(kFaint));
}

const char* direction_colour(IoDirection d) {
  return d == IoDirection::read ? kReadColour : kWriteColour;
}

// A line through the points, or a dot where there is only one.
void draw_trace(Svg& svg, const std::vector<std::pair<double, double>>& points, const char* colour,
                double width, const std::string& dash) {
  if (points.size() == 1) {
    svg.raw("<circle cx=\"" + num(points[0].first) + "\" cy=\"" + num(points[0].second) +
            "\" r=\"" + num(width) + "\"" + fill(colour) + "/>\n");
  } else if (points.size() > 1) {
    std::string pts;
    for (const auto& [x, y] : points) pts += num(x) + "," + num(y) + " ";
    svg.raw("<polyline points=\"" + pts + "\" fill=\"none\"" + stroke(colour, width) + dash +
            " stroke-linejoin=\"round\"/>\n");
  }
}

// ---- Latency ----

constexpr int kBinsPerDecade = 20;

// Each bucket's I/Os spread over fixed bins of 1/20 decade in proportion to the share of the
// bucket's logarithmic width that falls in each: the histogram's own buckets are of unequal
// logarithmic width, and bars of them would show that rather than the durations.
std::vector<double> display_bins(const LatencyHistogram& h, const LogAxis& axis) {
  const double log_lo = std::log10(static_cast<double>(axis.lo_ns));
  const double log_hi = std::log10(static_cast<double>(axis.hi_ns));
  const int n = static_cast<int>(std::lround((log_hi - log_lo) * kBinsPerDecade));
  std::vector<double> bins(static_cast<std::size_t>(std::max(n, 1)), 0.0);
  h.for_each_bucket([&](const LatencyBucket& b) {
    const double low = static_cast<double>(std::max<std::uint64_t>(b.low_ns, 1));
    const double high = std::max(static_cast<double>(b.high_ns), low + 1);
    const double a = (std::log10(low) - log_lo) * kBinsPerDecade;
    const double z = (std::log10(high) - log_lo) * kBinsPerDecade;
    for (int i = std::max(0, static_cast<int>(std::floor(a))); i < n && i < z; ++i) {
      const double overlap = std::min<double>(z, i + 1) - std::max<double>(a, i);
      if (overlap > 0)
        bins[static_cast<std::size_t>(i)] += static_cast<double>(b.count) * overlap / (z - a);
    }
  });
  return bins;
}

std::uint64_t total_count(const DirectionFigures& d) {
  return d.latency ? d.latency->count() : 0;
}

// A decade of I/Os as its tick reads: "1", "100", "10k", "1M".
std::string count_decade_label(double v) {
  if (v >= 1e6)
    return format_number("%.0f", v / 1e6) + "M";
  if (v >= 1e4)
    return format_number("%.0f", v / 1e3) + "k";
  return format_number("%.0f", v);
}

constexpr double kDistributionHeight = 170;
constexpr double kMarkRow = 14;

// One direction's distribution, top at y; returns the y below it.
//
// The count axis is logarithmic rather than a share of the I/Os on a linear scale, and rather
// than a percentile curve: the tail is what a latency picture is for, and on a linear axis the
// few thousand slowest of millions of I/Os are bars of no height at all, while a log count
// keeps the body's shape as a histogram and gives a bin of a single I/O a bar of its own.
double draw_latency(Svg& svg, double y, const char* name, const char* colour,
                    const DirectionFigures& d, const LogAxis& axis) {
  if (total_count(d) == 0) {
    svg.text(kPlotLeft, y + 14, std::string(name) + " latency",
             " font-size=\"14\" font-weight=\"bold\"");
    svg.text(kPlotLeft, y + 34, d.ios > 0 ? "no latencies were taken" : "no I/O completed",
             fill(kFaint));
    return y + 48;
  }
  svg.text(kPlotLeft, y + 14,
           std::string(name) + " latency: " + count_text(total_count(d)) + " I/Os",
           " font-size=\"14\" font-weight=\"bold\"");
  const bool service = d.service && d.service->count() > 0;
  if (service) {
    // The legend, right-aligned on the title's line: the bars are the latencies a client saw,
    // the outline what the device took of them.
    const std::string latency_label = "latency (from due time)";
    const std::string service_label = "service (from hand-over)";
    double lx = kPlotRight - 7 * static_cast<double>(service_label.size()) - 22;
    svg.line(lx, y + 10, lx + 18, y + 10, stroke(kInk, 1.5));
    svg.text(lx + 22, y + 14, service_label);
    lx -= 36 + 7 * static_cast<double>(latency_label.size());
    svg.rect(lx, y + 5, 18, 10, fill(colour) + " fill-opacity=\"0.75\"");
    svg.text(lx + 22, y + 14, latency_label);
  }

  std::vector<PercentileMark> marks;
  for (const PercentileMark& m : percentile_marks(latency_marks(d), axis)) marks.push_back(m);
  if (service) {
    const std::uint64_t p99 = d.service->percentile_ns(99);
    marks.push_back({"service p99", p99, axis.x(static_cast<double>(p99))});
  }

  Panel p;
  p.top = y + 30 + kMarkRow * static_cast<double>(marks.size());  // a row per mark's label
  p.bottom = p.top + kDistributionHeight;
  const std::vector<double> bins = display_bins(*d.latency, axis);
  std::vector<double> service_bins;
  if (service)
    service_bins = display_bins(*d.service, axis);
  double top_count = 0;
  for (double b : bins) top_count = std::max(top_count, b);
  for (double b : service_bins) top_count = std::max(top_count, b);
  const CountAxis counts = count_axis(top_count, p.top, p.bottom);
  std::vector<std::pair<double, std::string>> ticks;
  for (double v : counts.decades) ticks.emplace_back(counts.y(v), count_decade_label(v));
  draw_y_frame(svg, p, ticks, "I/Os per bin, log scale");

  for (std::uint64_t t : decade_ticks(axis.lo_ns, axis.hi_ns))
    draw_x_tick(svg, p, axis.x(static_cast<double>(t)), xml_escape(decade_label(t)));
  svg.text((p.left + p.right) / 2, p.bottom + 33,
           "latency, logarithmic (" + std::to_string(kBinsPerDecade) + " bins per decade)",
           " text-anchor=\"middle\"" + fill(kFaint));

  const double bin_width = (p.right - p.left) / static_cast<double>(bins.size());
  for (std::size_t i = 0; i < bins.size(); ++i) {
    if (bins[i] <= 0)
      continue;
    // At least a hairline, so that a share of an I/O under the axis's floor still shows.
    const double height = std::max(p.bottom - counts.y(bins[i]), 0.75);
    svg.rect(p.left + static_cast<double>(i) * bin_width, p.bottom - height, bin_width, height,
             fill(colour) + " fill-opacity=\"0.75\"");
  }
  if (service) {
    // The service times as a step outline over the bars, down to the frame where a bin is empty.
    std::string pts = num(p.left) + "," + num(p.bottom) + " ";
    for (std::size_t i = 0; i < service_bins.size(); ++i) {
      const double top = service_bins[i] > 0 ? counts.y(service_bins[i]) : p.bottom;
      const double x0 = p.left + static_cast<double>(i) * bin_width;
      pts += num(x0) + "," + num(top) + " " + num(x0 + bin_width) + "," + num(top) + " ";
    }
    pts += num(p.right) + "," + num(p.bottom);
    svg.raw(std::string("<polyline id=\"") + name + "-service\" points=\"" + pts +
            "\" fill=\"none\"" + stroke(kInk, 1.3) + " stroke-linejoin=\"round\"/>\n");
  }

  // Each mark's label is centred on the top end of its line, on a row of its own so that close
  // percentiles do not overwrite each other, and stands on a patch of white so that the line of
  // an earlier mark passes behind it rather than through its letters.
  double row = y + 34;
  for (const PercentileMark& m : marks) {
    const bool of_service = std::string_view(m.name).starts_with("service");
    std::string id = std::string(name) + "-" + (of_service ? "service-p99" : m.name);
    svg.line(m.x, row + 3, m.x, p.bottom,
             " id=\"" + id + "\"" + stroke(kInk, 1.2) +
                 (of_service ? " stroke-dasharray=\"1.5 2.5\"" : " stroke-dasharray=\"4 3\""));
    const std::string label = std::string(m.name) + " " + duration_text(static_cast<double>(m.ns));
    const double width = 6.8 * static_cast<double>(char_starts(label).size());
    const double x = std::clamp(m.x - width / 2, 2.0, kWidth - 2 - width);
    svg.rect(x - 2, row - 10, width + 4, 13, " fill=\"#ffffff\"");
    svg.text(x, row, xml_escape(label));
    row += kMarkRow;
  }
  return p.bottom + 40;
}

// ---- Latency over time ----

// Dash = statistic, in both directions; colour = direction.
const char* statistic_dash(std::string_view statistic) {
  if (statistic == "p99")
    return " stroke-dasharray=\"7 3\"";
  if (statistic == "max")
    return " stroke-dasharray=\"1.5 3\"";
  return "";
}

constexpr double kOverTimeHeight = 240;

double draw_latency_over_time(Svg& svg, double y, const PlotModel& model,
                              const LatencyOverTime& lt) {
  Panel p;
  p.top = y + 26;
  p.bottom = y + kOverTimeHeight - 40;
  std::string title = "Latency over time";
  if (!model.series->intervals.empty())
    title += ", per " + format_number("%g", model.series->intervals.front().length_ms) + " ms";
  svg.text(kPlotLeft, y + 14, title, " font-size=\"14\" font-weight=\"bold\"");
  // The legend, right-aligned on the title's line: the statistics' dashes, then the directions'
  // colours.
  double lx = kPlotRight;
  for (const char* statistic : {"max", "p99", "p50"}) {
    lx -= 22 + 7 * static_cast<double>(std::string_view(statistic).size());
    svg.line(lx, y + 10, lx + 18, y + 10, stroke(kInk, 1.5) + statistic_dash(statistic));
    svg.text(lx + 22, y + 14, statistic);
    lx -= 10;
  }
  lx -= 8;
  for (IoDirection d : {IoDirection::write, IoDirection::read}) {
    if (std::none_of(lt.lines.begin(), lt.lines.end(),
                     [&](const LatencyLine& l) { return l.direction == d; }))
      continue;
    lx -= 22 + 7 * static_cast<double>(std::string_view(direction_name(d)).size());
    svg.line(lx, y + 10, lx + 18, y + 10, stroke(direction_colour(d), line_width(d)));
    svg.text(lx + 22, y + 14, direction_name(d));
    lx -= 10;
  }

  std::vector<std::pair<double, std::string>> ticks;
  for (std::uint64_t t : decade_ticks(lt.latency.lo_ns, lt.latency.hi_ns))
    ticks.emplace_back(lt.latency.x(static_cast<double>(t)), xml_escape(decade_label(t)));
  draw_y_frame(svg, p, ticks, "latency, logarithmic");
  draw_time_ticks(svg, p, lt.time);
  for (const LatencyLine& line : lt.lines)
    for (const auto& piece : line.pieces) {
      std::vector<std::pair<double, double>> points;
      points.reserve(piece.size());
      for (const LatencyLine::Point& pt : piece) points.emplace_back(pt.x, pt.y);
      draw_trace(svg, points, direction_colour(line.direction), line_width(line.direction),
                 statistic_dash(line.statistic));
    }
  return y + kOverTimeHeight;
}

// ---- Throughput over time ----

}  // namespace

RateSeries rate_points(const PlotModel& model) {
  struct Span {
    double start, seconds;
    IoCounts c;
  };
  std::vector<Span> spans;
  const double elapsed_s = static_cast<double>(model.elapsed_ns) / 1e9;
  for (const TimelineSlot& s : model.timeline) {
    const double start = static_cast<double>(s.start_s);
    double seconds = static_cast<double>(s.length_s);
    if (model.elapsed_ns > 0 && elapsed_s > start)
      seconds = std::min(seconds, elapsed_s - start);
    spans.push_back({start, seconds, s.counts});
  }
  // A last stretch of less than half a slot would give a rate over a sliver of time (one I/O
  // ending a millisecond into a second reads as a thousand IOPS): it joins the one before.
  if (spans.size() >= 2 &&
      spans.back().seconds < 0.5 * static_cast<double>(model.timeline.back().length_s)) {
    Span last = spans.back();
    spans.pop_back();
    spans.back().seconds += last.seconds;
    spans.back().c += last.c;
  }
  RateSeries out;
  for (const Span& s : spans) {
    if (s.seconds <= 0)
      continue;
    const auto per_s = [&](std::uint64_t n) { return static_cast<double>(n) / s.seconds; };
    out.points.push_back({s.start + s.seconds / 2, per_s(s.c.read_ios), per_s(s.c.write_ios),
                          per_s(s.c.read_bytes) / 1e6, per_s(s.c.write_bytes) / 1e6});
    out.end_s = s.start + s.seconds;
  }
  return out;
}

namespace {

constexpr double kRatePanelHeight = 220;

// Read lines lie underneath, wider; write lines on top, narrower and dashed, so that where both
// directions run at the same rate each stays in sight.
struct Series {
  IoDirection direction;
  double RatePoint::*value;
};

double draw_rates(Svg& svg, double y, const char* title, const char* unit, const RateSeries& rates,
                  const TimeAxis& time, const std::vector<Series>& series) {
  const std::vector<RatePoint>& points = rates.points;
  const double end_s = rates.end_s;
  const auto dash = [](IoDirection d) {
    return d == IoDirection::write ? " stroke-dasharray=\"7 4\"" : "";
  };
  svg.text(kPlotLeft, y + 14, title, " font-size=\"14\" font-weight=\"bold\"");
  // The legend, right-aligned on the title's line.
  double lx = kPlotRight;
  for (auto it = series.rbegin(); it != series.rend(); ++it) {
    const char* name = direction_name(it->direction);
    lx -= 22 + 7 * static_cast<double>(std::string_view(name).size());
    svg.line(
        lx, y + 10, lx + 18, y + 10,
        stroke(direction_colour(it->direction), line_width(it->direction)) + dash(it->direction));
    svg.text(lx + 22, y + 14, name);
    lx -= 14;
  }
  Panel p;
  p.top = y + 26;
  p.bottom = y + kRatePanelHeight - 40;
  double top_value = 0;
  for (const RatePoint& r : points)
    for (const Series& s : series) top_value = std::max(top_value, r.*(s.value));
  p.y = linear_ticks(0, top_value, 4);
  draw_y_axis(svg, p, unit);
  draw_time_ticks(svg, p, time);

  for (const Series& s : series) {
    const char* colour = direction_colour(s.direction);
    const double width = line_width(s.direction);
    std::vector<std::pair<double, double>> line;
    line.reserve(points.size());
    for (const RatePoint& r : points) line.emplace_back(time.x(r.t_s), p.y_of(r.*(s.value)));
    if (points.size() > 1)
      draw_trace(svg, line, colour, width, dash(s.direction));
    // A single rate holds over its whole stretch, which starts as far before its point as it
    // ends after it.
    if (points.size() == 1)
      draw_trace(
          svg,
          {{time.x(2 * points[0].t_s - end_s), line[0].second}, {time.x(end_s), line[0].second}},
          colour, width, dash(s.direction));
    // Dots where there are few points, so that a run of a second or two still shows its rate.
    if (points.size() <= 30)
      for (const auto& [x, py] : line)
        svg.raw("<circle cx=\"" + num(x) + "\" cy=\"" + num(py) + "\" r=\"" + num(width + 0.5) +
                "\"" + fill(colour) + "/>\n");
  }
  return y + kRatePanelHeight;
}

// ---- The title block ----

// Words of clean text laid out greedily in lines of at most width characters; a word longer
// than a line is cut into pieces that fill lines of their own.
std::vector<std::string> wrap(const std::vector<std::string>& words, std::size_t width) {
  std::vector<std::string> lines(1);
  std::size_t used = 0;
  for (const std::string& w : words) {
    const std::vector<std::size_t> starts = char_starts(w);
    for (std::size_t from = 0; from < starts.size(); from += width) {
      const std::size_t take = std::min(width, starts.size() - from);
      const std::size_t end = from + take < starts.size() ? starts[from + take] : w.size();
      if (used > 0 && used + 1 + take > width) {
        lines.emplace_back();
        used = 0;
      }
      if (used > 0) {
        lines.back() += ' ';
        ++used;
      }
      lines.back() += w.substr(starts[from], end - starts[from]);
      used += take;
    }
  }
  return lines;
}

constexpr std::size_t kMonoChars = 108;  // 11 px monospace across the page
constexpr std::size_t kCommandLines = 3;

double draw_title(Svg& svg, const PlotModel& m) {
  double y = 26;
  svg.text(20, y, "kolvane run, " + svg_text(m.date, 60), " font-size=\"16\" font-weight=\"bold\"");
  y += 20;

  // A word that is empty or holds a space is quoted, so that the words can be told apart.
  std::vector<std::string> words;
  for (const std::string& raw : m.words) {
    std::string w = clean_text(raw);
    if (w.empty() || w.find(' ') != std::string::npos)
      w.insert(0, 1, '\'').push_back('\'');
    words.push_back(std::move(w));
  }
  std::vector<std::string> lines = wrap(words, kMonoChars - 2);
  if (lines.size() > kCommandLines) {
    // The rest of the words give way to an ellipsis at the end of the last line shown.
    lines.resize(kCommandLines);
    const std::vector<std::size_t> starts = char_starts(lines.back());
    if (starts.size() > kMonoChars - 3)
      lines.back().resize(starts[kMonoChars - 3]);
    lines.back() += kEllipsis;
  }
  const std::string mono = " font-family=\"monospace\" font-size=\"11\"";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    svg.text(20, y, (i == 0 ? "$ " : "  ") + xml_escape(lines[i]), mono);
    y += 14;
  }
  y += 4;
  svg.text(20, y, "input  " + svg_text(m.input_name, kMonoChars - 7), mono);
  y += 14;
  svg.text(20, y, "output " + svg_text(m.output_name, kMonoChars - 7), mono);
  y += 18;

  const double elapsed_s = static_cast<double>(m.elapsed_ns) / 1e9;
  svg.text(20, y,
           "seed " + std::to_string(m.seed) + ", " + format_number("%.3f", elapsed_s) +
               " s from the start of the first I/O to the end of the last");
  y += 16;
  const auto totals = [&](const char* name, const char* colour, const DirectionFigures& d) {
    std::string line =
        std::string(name) + "  " + count_text(d.ios) + " I/Os, " + bytes_text(d.bytes);
    // The same rates as the text summary and the JSON report, over the same time.
    if (const auto iops = ios_per_second(d))
      line += ", " + format_number("%.0f", *iops) + " IOPS";
    if (const auto mbs = megabytes_per_second(d))
      line += ", " + format_number("%.1f", *mbs) + " MB/s";
    if (total_count(d) > 0) {
      const LatencyMarks marks = latency_marks(d);
      line += "; p50 " + duration_text(static_cast<double>(marks.p50_ns)) + ", p99 " +
              duration_text(static_cast<double>(marks.p99_ns)) + ", p99.9 " +
              duration_text(static_cast<double>(marks.p999_ns));
    }
    svg.text(20, y, xml_escape(line), fill(colour));
    y += 16;
  };
  if (m.read)
    totals("read", kReadColour, *m.read);
  if (m.write)
    totals("write", kWriteColour, *m.write);
  if (!m.read && !m.write) {
    svg.text(20, y,
             "no reads or writes: the zero source is not read and the null sink is not "
             "written");
    y += 16;
  }
  if (!m.outcome.empty()) {
    svg.text(20, y, "ended early: " + svg_text(m.outcome, 100),
             " font-weight=\"bold\" fill=\"#b00000\"");
    y += 16;
  }
  return y + 6;
}

}  // namespace

// ---- Layout ----

LatencyMarks latency_marks(const DirectionFigures& d) {
  return d.latency ? latency_marks(*d.latency) : LatencyMarks{};
}

LatencyMarks latency_marks(const LatencyHistogram& h) {
  LatencyMarks m;
  if (h.count() == 0)
    return m;
  bool first = true;
  h.for_each_bucket([&](const LatencyBucket& b) {
    if (first)
      m.lo_ns = b.low_ns;
    first = false;
    m.hi_ns = b.high_ns;
  });
  m.p50_ns = h.percentile_ns(50);
  m.p99_ns = h.percentile_ns(99);
  m.p999_ns = h.percentile_ns(99.9);
  m.p9999_ns = h.percentile_ns(99.99);
  m.max_ns = h.max_ns();
  return m;
}

double line_width(IoDirection d) {
  return d == IoDirection::read ? 3 : 1.5;
}

double time_span_s(const PlotModel& model) {
  double end_s = rate_points(model).end_s;
  if (model.series && !model.series->intervals.empty()) {
    const SeriesInterval& last = model.series->intervals.back();
    end_s = std::max(end_s, (last.start_ms + last.length_ms) / 1000);
  }
  return end_s;
}

LatencyOverTime latency_over_time(const PlotModel& model, double top, double bottom) {
  LatencyOverTime out;
  out.time = time_axis(time_span_s(model), kPlotLeft, kPlotRight);
  out.latency = {1000, 10000, bottom, top};
  if (!model.series)
    return out;
  const std::vector<SeriesInterval>& intervals = model.series->intervals;
  const auto measured = [](const std::optional<SeriesFigures>& f) {
    return f && f->ios > 0 && f->p50_ns && f->p99_ns;
  };
  std::uint64_t lo = UINT64_MAX, hi = 0;
  for (const SeriesInterval& i : intervals)
    for (const auto* f : {&i.read, &i.write})
      if (measured(*f)) {
        lo = std::min(lo, *(*f)->p50_ns);
        hi = std::max({hi, *(*f)->p99_ns, (*f)->max_ns});
      }
  if (hi == 0)
    return out;
  // A margin of a third below and half above, as on the distribution's axis.
  const std::vector<std::uint64_t> d =
      decade_ticks(lo - lo / 3, hi > UINT64_MAX / 2 ? UINT64_MAX : hi + hi / 2);
  out.latency = {d.front(), d.back(), bottom, top};
  for (IoDirection d : {IoDirection::read, IoDirection::write}) {
    if (std::none_of(intervals.begin(), intervals.end(),
                     [&](const SeriesInterval& i) { return i.of(d).has_value(); }))
      continue;
    for (const char* statistic : {"p50", "p99", "max"}) {
      LatencyLine line{d, statistic, {}};
      bool open = false;
      for (const SeriesInterval& i : intervals) {
        const std::optional<SeriesFigures>& f = i.of(d);
        if (!measured(f)) {
          open = false;  // no I/O: the line breaks
          continue;
        }
        const std::string_view s = statistic;
        const std::uint64_t ns = s == "p50" ? *f->p50_ns : s == "p99" ? *f->p99_ns : f->max_ns;
        if (!open)
          line.pieces.emplace_back();
        open = true;
        line.pieces.back().push_back({out.time.x((i.start_ms + i.length_ms / 2) / 1000),
                                      out.latency.x(static_cast<double>(ns))});
      }
      out.lines.push_back(std::move(line));
    }
  }
  return out;
}

// ---- The document ----

std::string render_plot_svg(const PlotModel& model) {
  Svg svg(kWidth, kInk);
  double y = draw_title(svg, model);

  // Service times share the axis too, so that the outline lies over the bars it compares with.
  std::vector<LatencyMarks> marks;
  for (const std::optional<DirectionFigures>* d : {&model.read, &model.write})
    if (*d) {
      marks.push_back(latency_marks(**d));
      if ((*d)->service)
        marks.push_back(latency_marks(*(*d)->service));
    }
  const LogAxis axis = latency_axis(marks, kPlotLeft, kPlotRight);
  if (model.read)
    y = draw_latency(svg, y, "read", kReadColour, *model.read, axis);
  if (model.write)
    y = draw_latency(svg, y, "write", kWriteColour, *model.write, axis);

  // Latency over time comes next to the distributions it breaks down and right above the rates
  // on the same time axis, so that a stall's rise in latency stands over its fall in IOPS.
  const LatencyOverTime over_time = latency_over_time(model, y + 26, y + kOverTimeHeight - 40);
  if (!over_time.lines.empty())
    y = draw_latency_over_time(svg, y, model, over_time);

  if ((model.read || model.write) && model.rates_over_time) {
    const RateSeries rates = rate_points(model);
    const TimeAxis time = time_axis(time_span_s(model), kPlotLeft, kPlotRight);
    std::vector<Series> iops, mbs;
    if (model.read) {
      iops.push_back({IoDirection::read, &RatePoint::read_iops});
      mbs.push_back({IoDirection::read, &RatePoint::read_mbs});
    }
    if (model.write) {
      iops.push_back({IoDirection::write, &RatePoint::write_iops});
      mbs.push_back({IoDirection::write, &RatePoint::write_mbs});
    }
    if (rates.points.empty()) {
      svg.text(kPlotLeft, y + 14, "No I/O completed: no rates over time to show.",
               " font-size=\"14\" font-weight=\"bold\"");
      y += 24;
    } else {
      y = draw_rates(svg, y, "I/Os per second", "IOPS", rates, time, iops);
      y = draw_rates(svg, y, "Throughput", "MB/s (10\xE2\x81\xB6 bytes)", rates, time, mbs);
    }
  }
  return svg.document(y + 4, "kolvane run, " + svg_text(model.date, 60));
}

}  // namespace kolvane

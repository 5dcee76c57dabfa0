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

// Horizontal grid lines with their labels, the frame, and the y axis's name written upwards.
void draw_y_axis(Svg& svg, const Panel& p, const std::string& name) {
  const std::vector<std::string> labels = tick_labels(p.y);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const double y = p.y_of(p.y.values[i]);
    svg.line(p.left, y, p.right, y, stroke(kGrid));
    svg.text(p.left - 6, y + 4, labels[i], " text-anchor=\"end\"");
  }
  svg.rect(p.left, p.top, p.right - p.left, p.bottom - p.top, " fill=\"none\"" + stroke(kFaint));
  const double mid = (p.top + p.bottom) / 2;
  svg.text(16, mid, xml_escape(name),
           " text-anchor=\"middle\" transform=\"rotate(-90 16 " + num(mid) + ")\"" + fill(kFaint));
}

void draw_x_tick(Svg& svg, const Panel& p, double x, const std::string& label) {
  svg.line(x, p.top, x, p.bottom, stroke(kGrid));
  svg.line(x, p.bottom, x, p.bottom + 4, stroke(kFaint));
  svg.text(x, p.bottom + 17, label, " text-anchor=\"middle\"");
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

constexpr double kLatencyPanelHeight = 250;

// One direction's distribution, top at y; returns the y below it.
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
  Panel p;
  p.top = y + 72;  // room for three rows of percentile labels
  p.bottom = y + kLatencyPanelHeight - 40;
  const std::vector<double> bins = display_bins(*d.latency, axis);
  const double total = static_cast<double>(std::max<std::uint64_t>(total_count(d), 1));
  double top_share = 0;
  for (double b : bins) top_share = std::max(top_share, b / total * 100);
  p.y = linear_ticks(0, top_share, 4);
  draw_y_axis(svg, p, "% of I/Os per bin");

  for (std::uint64_t t : decade_ticks(axis.lo_ns, axis.hi_ns))
    draw_x_tick(svg, p, axis.x(static_cast<double>(t)), xml_escape(decade_label(t)));
  svg.text((p.left + p.right) / 2, p.bottom + 33,
           "latency, logarithmic (" + std::to_string(kBinsPerDecade) + " bins per decade)",
           " text-anchor=\"middle\"" + fill(kFaint));

  const double bin_width = (p.right - p.left) / static_cast<double>(bins.size());
  for (std::size_t i = 0; i < bins.size(); ++i) {
    if (bins[i] <= 0)
      continue;
    const double top = p.y_of(bins[i] / total * 100);
    // At least a hairline, so that a bin with a single I/O of millions still shows.
    const double height = std::max(p.bottom - top, 0.75);
    svg.rect(p.left + static_cast<double>(i) * bin_width, p.bottom - height, bin_width, height,
             fill(colour) + " fill-opacity=\"0.75\"");
  }

  // Each mark's label is centred on the top end of its line, on a row of its own so that close
  // percentiles do not overwrite each other, and stands on a patch of white so that the line of
  // an earlier mark passes behind it rather than through its letters.
  double row = p.top - 46;
  for (const PercentileMark& m : percentile_marks(latency_marks(d), axis)) {
    svg.line(m.x, row + 3, m.x, p.bottom,
             std::string(" id=\"") + name + "-" + m.name + "\"" + stroke(kInk, 1.2) +
                 " stroke-dasharray=\"4 3\"");
    const std::string label = std::string(m.name) + " " + duration_text(static_cast<double>(m.ns));
    const double width = 6.8 * static_cast<double>(char_starts(label).size());
    const double x = std::clamp(m.x - width / 2, 2.0, kWidth - 2 - width);
    svg.rect(x - 2, row - 10, width + 4, 13, " fill=\"#ffffff\"");
    svg.text(x, row, xml_escape(label));
    row += 14;
  }
  return y + kLatencyPanelHeight;
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

struct TimeUnit {
  const char* name;
  double seconds;
};

TimeUnit time_unit(double span_s) {
  if (span_s <= 600)
    return {"s", 1};
  if (span_s <= 36000)
    return {"min", 60};
  return {"h", 3600};
}

constexpr double kRatePanelHeight = 220;

// Writes are dashed, so that where both directions run at the same rate the write line lies
// on the read line without hiding it.
struct Series {
  const char* name;
  const char* colour;
  double RatePoint::*value;
  const char* dash;  // extra attributes of the line
};

double draw_rates(Svg& svg, double y, const char* title, const char* unit, const RateSeries& rates,
                  const std::vector<Series>& series) {
  const std::vector<RatePoint>& points = rates.points;
  const double end_s = rates.end_s;
  svg.text(kPlotLeft, y + 14, title, " font-size=\"14\" font-weight=\"bold\"");
  // The legend, right-aligned on the title's line.
  double lx = kPlotRight;
  for (auto it = series.rbegin(); it != series.rend(); ++it) {
    lx -= 22 + 7 * static_cast<double>(std::string_view(it->name).size());
    svg.line(lx, y + 10, lx + 18, y + 10, stroke(it->colour, 2.5) + it->dash);
    svg.text(lx + 22, y + 14, it->name);
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

  const TimeUnit tu = time_unit(end_s);
  const LinearTicks xt = linear_ticks(0, end_s > 0 ? end_s / tu.seconds : 1, 8);
  const double x_hi = xt.values.back() * tu.seconds;
  const auto x_of = [&](double t_s) { return p.left + t_s / x_hi * (p.right - p.left); };
  const std::vector<std::string> x_labels = tick_labels(xt);
  for (std::size_t i = 0; i < xt.values.size(); ++i)
    draw_x_tick(svg, p, x_of(xt.values[i] * tu.seconds), x_labels[i]);

  svg.text((p.left + p.right) / 2, p.bottom + 33,
           std::string("time since the first I/O (") + tu.name + ")",
           " text-anchor=\"middle\"" + fill(kFaint));

  for (const Series& s : series) {
    std::string pts;
    for (const RatePoint& r : points)
      pts += num(x_of(r.t_s)) + "," + num(p.y_of(r.*(s.value))) + " ";
    if (points.size() > 1)
      svg.raw("<polyline points=\"" + pts + "\" fill=\"none\"" + stroke(s.colour, 2) + s.dash +
              " stroke-linejoin=\"round\"/>\n");
    // A single rate holds over its whole stretch, which starts as far before its point as it
    // ends after it.
    if (points.size() == 1) {
      const double y = p.y_of(points[0].*(s.value));
      svg.line(x_of(2 * points[0].t_s - end_s), y, x_of(end_s), y, stroke(s.colour, 2) + s.dash);
    }
    // Dots where there are few points, so that a run of a second or two still shows its rate.
    if (points.size() <= 30)
      for (const RatePoint& r : points)
        svg.raw("<circle cx=\"" + num(x_of(r.t_s)) + "\" cy=\"" + num(p.y_of(r.*(s.value))) +
                "\" r=\"3\"" + fill(s.colour) + "/>\n");
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
  LatencyMarks m;
  if (!d.latency)
    return m;
  bool first = true;
  d.latency->for_each_bucket([&](const LatencyBucket& b) {
    if (first)
      m.lo_ns = b.low_ns;
    first = false;
    m.hi_ns = b.high_ns;
  });
  m.p50_ns = d.latency->percentile_ns(50);
  m.p99_ns = d.latency->percentile_ns(99);
  m.p999_ns = d.latency->percentile_ns(99.9);
  return m;
}

// ---- The document ----

std::string render_plot_svg(const PlotModel& model) {
  Svg svg(kWidth, kInk);
  double y = draw_title(svg, model);

  std::vector<LatencyMarks> marks;
  for (const std::optional<DirectionFigures>* d : {&model.read, &model.write})
    if (*d)
      marks.push_back(latency_marks(**d));
  const LogAxis axis = latency_axis(marks, kPlotLeft, kPlotRight);
  if (model.read)
    y = draw_latency(svg, y, "read", kReadColour, *model.read, axis);
  if (model.write)
    y = draw_latency(svg, y, "write", kWriteColour, *model.write, axis);

  if ((model.read || model.write) && model.rates_over_time) {
    const RateSeries rates = rate_points(model);
    std::vector<Series> iops, mbs;
    if (model.read) {
      iops.push_back({"read", kReadColour, &RatePoint::read_iops, ""});
      mbs.push_back({"read", kReadColour, &RatePoint::read_mbs, ""});
    }
    if (model.write) {
      iops.push_back({"write", kWriteColour, &RatePoint::write_iops, " stroke-dasharray=\"7 4\""});
      mbs.push_back({"write", kWriteColour, &RatePoint::write_mbs, " stroke-dasharray=\"7 4\""});
    }
    if (rates.points.empty()) {
      svg.text(kPlotLeft, y + 14, "No I/O completed: no rates over time to show.",
               " font-size=\"14\" font-weight=\"bold\"");
      y += 24;
    } else {
      y = draw_rates(svg, y, "I/Os per second", "IOPS", rates, iops);
      y = draw_rates(svg, y, "Throughput", "MB/s (10\xE2\x81\xB6 bytes)", rates, mbs);
    }
  }
  return svg.document(y + 4, "kolvane run, " + svg_text(model.date, 60));
}

}  // namespace kolvane

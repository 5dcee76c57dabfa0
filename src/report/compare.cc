#include "report/compare.h"

#include <algorithm>
#include <cstdio>

namespace kolvane {

namespace {

struct Figure {
  const char* label;
  bool higher_is_better;
  std::optional<double> (*of)(const DirectionFigures&);
};

std::optional<double> percentile(const DirectionFigures& d, double p) {
  if (!d.latency || d.latency->count() == 0)
    return std::nullopt;
  return static_cast<double>(d.latency->percentile_ns(p));
}

constexpr Figure kFigures[] = {
    {"IOPS", true, ios_per_second},
    {"MB/s", true, megabytes_per_second},
    {"p50", false, [](const DirectionFigures& d) { return percentile(d, 50.0); }},
    {"p99", false, [](const DirectionFigures& d) { return percentile(d, 99.0); }},
    {"p99.9", false, [](const DirectionFigures& d) { return percentile(d, 99.9); }},
};

const DirectionFigures* find(const RunReport& r, IoDirection d) {
  const auto it = std::find_if(r.directions.begin(), r.directions.end(),
                               [&](const DirectionFigures& f) { return f.direction == d; });
  return it == r.directions.end() ? nullptr : &*it;
}

Verdict judge(const CompareRow& row, bool higher_is_better, double tolerance_pct) {
  if (!row.base || !row.now)
    return Verdict::same;
  const double margin = *row.base * tolerance_pct / 100.0;
  if (*row.now > *row.base + margin)
    return higher_is_better ? Verdict::better : Verdict::worse;
  if (*row.now < *row.base - margin)
    return higher_is_better ? Verdict::worse : Verdict::better;
  return Verdict::same;
}

std::string value_text(const std::optional<double>& v, int decimals) {
  if (!v)
    return "-";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, *v);
  return text;
}

const char* verdict_name(Verdict v) {
  return v == Verdict::better ? "better" : v == Verdict::worse ? "worse" : "same";
}

}  // namespace

CompareResult compare_reports(const RunReport& base, const RunReport& now, double tolerance_pct) {
  CompareResult result;
  for (const IoDirection d : {IoDirection::read, IoDirection::write}) {
    const DirectionFigures* b = find(base, d);
    const DirectionFigures* n = find(now, d);
    if ((b == nullptr) != (n == nullptr)) {
      result.rows.clear();
      result.error = std::string("only the ") + (b != nullptr ? "base" : "new") +
                     " document has the " + direction_name(d) + " direction";
      return result;
    }
    if (b == nullptr)
      continue;
    for (const Figure& f : kFigures) {
      CompareRow& row = result.rows.emplace_back();
      row.direction = d;
      row.figure = f.label;
      row.base = f.of(*b);
      row.now = f.of(*n);
      if (row.base && row.now && *row.base != 0)
        row.ratio = *row.now / *row.base;
      row.verdict = judge(row, f.higher_is_better, tolerance_pct);
    }
  }
  return result;
}

bool any_worse(const std::vector<CompareRow>& rows) {
  return std::any_of(rows.begin(), rows.end(),
                     [](const CompareRow& r) { return r.verdict == Verdict::worse; });
}

std::string format_comparison(const std::vector<CompareRow>& rows) {
  std::string table;
  char line[256];
  std::snprintf(line, sizeof line, "%-9s %-7s %16s %16s %8s  %s\n", "direction", "figure", "base",
                "new", "ratio", "verdict");
  table += line;
  for (const CompareRow& r : rows) {
    // Rates to two decimals; latencies are whole nanoseconds.
    const int decimals = r.figure[0] == 'p' ? 0 : 2;
    std::snprintf(line, sizeof line, "%-9s %-7s %16s %16s %8s  %s\n", direction_name(r.direction),
                  r.figure, value_text(r.base, decimals).c_str(),
                  value_text(r.now, decimals).c_str(), value_text(r.ratio, 3).c_str(),
                  verdict_name(r.verdict));
    table += line;
  }
  return table;
}

}  // namespace kolvane

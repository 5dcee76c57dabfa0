// Two documents' figures side by side, for a gate on regressions: the rates and the latency
// percentiles of each direction, their ratio, and whether the new one is better, the same or
// worse beyond a tolerance.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report/json_report.h"

namespace kolvane {

enum class Verdict { better, same, worse };

struct CompareRow {
  IoDirection direction = IoDirection::read;
  const char* figure = "";     // "IOPS", "MB/s", "p50", "p99", "p99.9"
  std::optional<double> base;  // absent: the document has no such figure (no time, no latencies)
  std::optional<double> now;
  std::optional<double> ratio;  // now / base; absent when either is absent or base is 0
  Verdict verdict = Verdict::same;
};

struct CompareResult {
  std::vector<CompareRow> rows;
  std::string error;  // why the documents cannot be compared; empty when there are rows
};

// Rates are worse when lower, latencies when higher, by more than `tolerance_pct` percent of the
// base's; a figure either document lacks is never a verdict. Refused: documents of different
// directions (nothing to set side by side).
CompareResult compare_reports(const RunReport& base, const RunReport& now, double tolerance_pct);

bool any_worse(const std::vector<CompareRow>& rows);

// One line per row under a heading, the same bytes on every platform.
std::string format_comparison(const std::vector<CompareRow>& rows);

}  // namespace kolvane

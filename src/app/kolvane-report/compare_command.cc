#include <cmath>
#include <cstdlib>

#include "app/kolvane-report/commands.h"
#include "app/kolvane-report/documents.h"
#include "app/kolvane-report/report_exit_status.h"
#include "report/compare.h"

namespace kolvane {

namespace {

constexpr double kDefaultTolerancePct = 10;

// --tolerance=PCT: a percentage of 0 or more, a fraction allowed.
bool scan_tolerance(const std::string& word, double& pct) {
  const std::string text = word.substr(word.find('=') + 1);
  char* end = nullptr;
  pct = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(pct) && pct >= 0;
}

}  // namespace

int compare_command(const std::vector<std::string>& words) {
  const OutputWords w = take_output(words);
  if (!w.accepted)
    return kReportBadInput;
  double tolerance = kDefaultTolerancePct;
  std::vector<std::string> files;
  for (const std::string& word : w.rest) {
    if (word.starts_with("--tolerance=")) {
      if (!scan_tolerance(word, tolerance)) {
        tell("--tolerance= takes a percentage of 0 or more: " + word);
        return kReportBadInput;
      }
    } else {
      files.push_back(word);
    }
  }
  if (files.size() != 2) {
    tell("compare needs two documents: the base and the new one");
    return kReportBadInput;
  }
  const std::optional<NamedReport> base = read_document(files[0]);
  const std::optional<NamedReport> now = base ? read_document(files[1]) : std::nullopt;
  if (!now)
    return kReportBadInput;
  const CompareResult result = compare_reports(base->report, now->report, tolerance);
  if (!result.error.empty()) {
    tell("cannot compare: " + result.error);
    return kReportBadInput;
  }
  if (!write_output(w.output, format_comparison(result.rows)))
    return kReportBadInput;
  return any_worse(result.rows) ? kReportWorse : kReportSuccess;
}

}  // namespace kolvane

#include "app/kolvane-report/commands.h"
#include "app/kolvane-report/documents.h"
#include "app/kolvane-report/report_exit_status.h"
#include "report/json_report.h"
#include "report/merge.h"

namespace kolvane {

int merge_command(const std::vector<std::string>& words) {
  const OutputWords w = take_output(words);
  if (!w.accepted)
    return kReportBadInput;
  if (w.rest.empty()) {
    tell("merge needs the documents to merge");
    return kReportBadInput;
  }
  std::vector<NamedReport> inputs;
  for (const std::string& file : w.rest) {
    std::optional<NamedReport> read = read_document(file);
    if (!read)
      return kReportBadInput;
    inputs.push_back(std::move(*read));
  }
  const MergeResult merged = merge_reports(inputs);
  if (!merged.report) {
    tell("cannot merge: " + merged.error);
    return kReportBadInput;
  }
  return write_output(w.output, render_json(*merged.report)) ? kReportSuccess : kReportBadInput;
}

}  // namespace kolvane

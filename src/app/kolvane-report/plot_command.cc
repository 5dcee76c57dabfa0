#include "app/kolvane-report/commands.h"
#include "app/kolvane-report/documents.h"
#include "app/kolvane-report/report_exit_status.h"
#include "report/plot_model.h"
#include "report/plot_svg.h"

namespace kolvane {

int plot_command(const std::vector<std::string>& words) {
  const OutputWords w = take_output(words);
  if (!w.accepted)
    return kReportBadInput;
  if (w.rest.size() != 1) {
    tell("plot needs one document");
    return kReportBadInput;
  }
  const std::optional<NamedReport> read = read_document(w.rest.front());
  if (!read)
    return kReportBadInput;
  return write_output(w.output, render_plot_svg(plot_model(read->report))) ? kReportSuccess
                                                                           : kReportBadInput;
}

}  // namespace kolvane

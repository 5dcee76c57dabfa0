#include "driver/run_end.h"

#include "driver/run_reports.h"
#include "run/console.h"

namespace kolvane {

void show_status(const RecordTotals& totals, const Meter& meter, const Settings& settings,
                 const Endpoints& ends) {
  print_records(totals, this_platform());
  report_summary_so_far(meter, ends, settings);
}

void report_summary_so_far(const Meter& meter, const Endpoints& ends, const Settings& settings) {
  print_summary(meter, ends, settings);
}

}  // namespace kolvane

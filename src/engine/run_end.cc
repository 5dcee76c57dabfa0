#include "engine/run_end.h"

#include <cinttypes>

#include "engine/console.h"
#include "engine/run_reports.h"

namespace kolvane {

void print_records(const RecordTotals& t, const PlatformProfile& profile) {
  if (profile.signed_records) {
    say(Channel::err, "%" PRId64 "+%" PRId64 " records in\n",
        static_cast<std::int64_t>(t.r_full_total), static_cast<std::int64_t>(t.r_partial_total));
    say(Channel::err, "%" PRId64 "+%" PRId64 " records out\n",
        static_cast<std::int64_t>(t.w_full_total), static_cast<std::int64_t>(t.w_partial_total));
  } else {
    say(Channel::err, "%" PRIu64 "+%" PRIu64 " records in\n", t.r_full_total, t.r_partial_total);
    say(Channel::err, "%" PRIu64 "+%" PRIu64 " records out\n", t.w_full_total, t.w_partial_total);
  }
}

void show_status(const RecordTotals& totals, const Meter& meter, const Settings* settings,
                 const Endpoints* ends) {
  print_records(totals, this_platform());
  if (settings != nullptr && ends != nullptr)
    report_summary_so_far(meter, *ends, *settings);
}

void report_summary_so_far(const Meter& meter, const Endpoints& ends, const Settings& settings) {
  print_summary(meter, ends, settings);
}

}  // namespace kolvane

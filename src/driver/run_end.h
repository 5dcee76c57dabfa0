// What a run says about its own progress: the records lines, at the end and when a status
// request (SIGUSR1) asks for them; and report=1's summary so far beside them.
#pragma once

#include "cli/settings.h"
#include "measure/meter.h"
#include "platform/profile.h"
#include "run/endpoints.h"
#include "run/run_control.h"
#include "run/transfer_state.h"

namespace kolvane {

// A status request: the records lines so far, then report=1's summary so far.
void show_status(const RecordTotals& totals, const Meter& meter, const Settings& settings,
                 const Endpoints& ends);

// report=1's summary of the I/Os so far, after a status request's records lines.
void report_summary_so_far(const Meter& meter, const Endpoints& ends, const Settings& settings);

}  // namespace kolvane

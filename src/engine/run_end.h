// What a run says about its own progress: the records lines, at the end and when a status
// request (SIGUSR1) asks for them; and report=1's summary so far beside them.
#pragma once

#include "cli/settings.h"
#include "engine/endpoints.h"
#include "engine/transfer_state.h"
#include "measure/meter.h"
#include "platform/profile.h"

namespace kolvane {

// "%llu+%llu records in" and "... records out", on standard error.
void print_records(const RecordTotals& totals, const PlatformProfile& profile);

// A status request: the records lines so far, then report=1's summary so far. `settings` and
// `ends` are nullptr when the run was never armed (the engine driven without the driver).
void show_status(const RecordTotals& totals, const Meter& meter, const Settings* settings,
                 const Endpoints* ends);

// report=1's summary of the I/Os so far, after a status request's records lines.
void report_summary_so_far(const Meter& meter, const Endpoints& ends, const Settings& settings);

}  // namespace kolvane

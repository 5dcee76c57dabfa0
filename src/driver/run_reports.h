// What a run reports beyond its records lines when a measuring word asks for it: the report=1
// summary, the json= document and the plot= picture.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "cli/settings.h"
#include "measure/clock.h"
#include "measure/meter.h"
#include "platform/signals.h"
#include "report/json_report.h"
#include "run/run_context.h"
#include "run/transfer_state.h"
#include "workers/workers.h"

namespace kolvane {

// What the reports say of the run's start.
struct RunStart {
  int argc = 0;
  char** argv = nullptr;
  std::string date;  // as the banner printed it, without its line end
  std::chrono::system_clock::time_point wall_time;  // the same, to the millisecond for json=
  std::uint32_t seed = 0;
  // The clock the run reads (the meter's and the time limit's too), and its reading at the
  // start, for the elapsed time.
  const Clock* clock = &kSteadyClock;
  std::uint64_t time_ns = 0;
};

// A report file that would overwrite the data: refused with its message, status 1; 0 otherwise.
int check_report_files(const Endpoints& ends, const Settings& s);

// Sets which directions the meter times: none unless a measuring word was given, so that a
// plain copy makes no clock call per I/O; and whether it keeps the latency series (json=,
// plot= or interval=). With rate=, the scheduled directions take their due times from
// `schedule` (which must outlive the meter) and wait for them through `wait`.
void prepare_meter(Meter& meter, const Endpoints& ends, const Settings& s, RateSchedule* schedule,
                   DueWait& wait);

// report=1: the summary per direction, on standard error.
void print_summary(const Meter& meter, const Endpoints& ends, const Settings& s);

// rate=: a line when the run fell more than 1 % short of its rate, on standard error.
void say_rate_missed(const Meter& meter, const Settings& s);

// json= and plot=, at the end of the run however it ended (`failure`: the failure's message
// without its line end).
// A run of several workers adds each worker's figures to the JSON document. json=- goes to
// standard error, or with quiet=1 to standard output when the data go elsewhere.
// Each document tells whether a stop request ended the run as it stands when the document is
// complete; a request that cuts short the writing of a document to a FIFO ends the program by
// its signal at once. Returns the run's status, or 3 when the run had succeeded but a report
// could not be written.
// A run of several ranks: a document whose name has no %r is the whole's (`whole`), written by
// rank 0 alone (the others pass nullptr).
int write_reports(const RunContext& run, const RecordTotals& totals, const WorkersOutcome& workers,
                  const Settings& s, const RunStart& start, int status, const std::string& failure,
                  const RunReport* whole = nullptr);

// The run's JSON document as a model; `series_buckets`: each interval's buckets kept even
// without json-buckets=1 (a rank's document on its way to the whole).
RunReport run_report(const RunContext& run, const RecordTotals& totals,
                     const WorkersOutcome& workers, const Settings& s, const RunStart& start,
                     int status, StopRequest stop, const std::string& failure, bool series_buckets);

}  // namespace kolvane

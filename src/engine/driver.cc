#include "engine/driver.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cli/scanargs.h"
#include "cli/settings.h"
#include "cli/usage.h"
#include "engine/console.h"
#include "engine/exit_status.h"
#include "engine/plan.h"
#include "engine/run_state.h"
#include "engine/transfer.h"
#include "platform/platform.h"
#include "platform/profile.h"

namespace kolvane {
namespace {

// Start-up: banner, seed, start time, the first-word forms. Returns true when the run goes on
// to the argument words; otherwise `status` holds the status to end with.
bool start_up(int argc, char** argv, RunState& state, int& status) {
  const std::time_t now = std::time(nullptr);
  say(Channel::out, "Today's date and time: %s\n", std::ctime(&now));
  std::srand(process_id());
  state.start_time = std::chrono::steady_clock::now();
  program_name = argc > 0 ? argv[0] : "kolvane";
  if (argc <= 1 || std::strcmp(argv[1], "--help") == 0)
    usage(kExitSuccess);
  if (std::strcmp(argv[1], "--version") == 0) {
    version();
    status = kExitSuccess;
    return false;
  }
  return true;
}

// The two combinations the copy cannot carry out.
int check_combinations(const RunState& state, const Settings& s) {
  if (!state.count_given && state.iterations_given) {
    say(Channel::err,
                 "If the number of iterations is specified, then a value for the count "
                 "parameter must be specified\n");
    return kExitIterationsNoCount;
  }
  if (!state.count_given && is_zero_source(s)) {
    say(Channel::err,
                 "If the input file is zero (/dev/zero), then a value for the count parameter "
                 "must be specified\n");
    return kExitZeroNoCount;
  }
  return kExitSuccess;
}

int open_files(RunState& state, const Settings& s, const PlatformProfile& profile) {
  if (!is_zero_source(s)) {
    state.input.reset(open_input(s.input_file, s.r_dio != 0));
    if (!state.input.is_open()) {
      say(Channel::err, "error opening '%s': ", shown_name(s.input_file, "standard input"));
      report_system_error();
      return kExitOpenOrPosition;
    }
  }
  int status = calibrate_input(state, s, profile);
  if (status == kExitSuccess)
    status = check_seek_offset(s);
  if (status != kExitSuccess)
    return status;
  state.output.reset(
      open_output(s.output_file, s.w_dio != 0, is_notrunc(s), state.output_preexists));
  say(Channel::out, "Please be patient...\n");
  if (!state.output.is_open()) {
    say(Channel::err, "error opening '%s': ", shown_name(s.output_file, "standard output"));
    report_system_error();
    return kExitOpenOrPosition;
  }
  return calibrate_output(state, s, profile);
}

int transfer(RunState& state, const Settings& s, const PlatformProfile& profile) {
  // Text still buffered for standard output goes out before any data block can follow it.
  std::fflush(stdout);
  for (std::uint32_t i = 0; i < state.plan.size; ++i) {
    const PlanEntry& entry = state.plan.entries[i];
    report_entry(state, s, entry, static_cast<int>(i + 1), profile);
    const int status = run_entry(state, s, entry, profile);
    if (status != kExitSuccess)
      return status;
  }
  return kExitSuccess;
}

void end_report(const RunState& state, const PlatformProfile& profile) {
  const RecordTotals& t = state.totals;
  if (profile.signed_records) {
    say(Channel::err, "%" PRId64 "+%" PRId64 " records in\n",
                 static_cast<std::int64_t>(t.r_full_total),
                 static_cast<std::int64_t>(t.r_partial_total));
    say(Channel::err, "%" PRId64 "+%" PRId64 " records out\n",
                 static_cast<std::int64_t>(t.w_full_total),
                 static_cast<std::int64_t>(t.w_partial_total));
  } else {
    say(Channel::err, "%" PRIu64 "+%" PRIu64 " records in\n", t.r_full_total, t.r_partial_total);
    say(Channel::err, "%" PRIu64 "+%" PRIu64 " records out\n", t.w_full_total,
                 t.w_partial_total);
  }
  // A monotonic clock, to the microsecond: a change of the system time cannot skew it.
  const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - state.start_time);
  say(Channel::out, "Elapsed time = %f seconds.\n", static_cast<double>(elapsed.count()) / 1e6);
}

int run(int argc, char** argv, RunState& state) {
  const PlatformProfile& profile = this_platform();
  int status = kExitSuccess;
  if (!start_up(argc, argv, state, status))
    return status;
  Settings settings;
  scanargs(argc, argv, settings, state.count_given, state.iterations_given);
  status = check_combinations(state, settings);
  if (status != kExitSuccess)
    return status;
  if (settings.verboseflag != 0) {
    say(Channel::err, "For this run, the input file is %s and the output file is %s\n",
                 reported_name(settings.input_file, "standard input", profile),
                 reported_name(settings.output_file, "standard output", profile));
  }
  status = open_files(state, settings, profile);
  if (status != kExitSuccess)
    return status;
  status = build_plan(state, settings);
  if (status != kExitSuccess)
    return status;
  status = transfer(state, settings, profile);
  if (status != kExitSuccess)
    return status;
  state.release();
  end_report(state, profile);
  return kExitSuccess;
}

}  // namespace

int run_program(int argc, char** argv) {
  // Owned here so that every return path releases the files, the plan and the buffers.
  RunState state;
  return run(argc, argv, state);
}

}  // namespace kolvane

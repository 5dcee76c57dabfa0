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
#include "engine/progress_report.h"
#include "engine/run_reports.h"
#include "engine/run_state.h"
#include "engine/transfer.h"
#include "platform/platform.h"
#include "platform/profile.h"

namespace kolvane {
namespace {

// The name in the last of= word, read without touching the words: what the data will be
// written to (nullptr: standard output).
const char* last_output_name(int argc, char** argv) {
  const char* name = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "of=", 3) == 0)
      name = argv[i] + 3;
  }
  return name;
}

// No text line may land inside the data: when the output is the same file as standard output
// or standard error, that stream's lines go to the other one, or nowhere when it is both.
void route_text_lines(const char* output) {
  FileIdentity data;
  const bool known = output == nullptr
                         ? identity_of_stream(StandardStream::output, data)
                         : std::strcmp(output, kNullSink) != 0 && identity_of_name(output, data);
  if (!known)
    return;
  FileIdentity stream;
  const bool on_out = identity_of_stream(StandardStream::output, stream) && same_file(stream, data);
  const bool on_err = identity_of_stream(StandardStream::error, stream) && same_file(stream, data);
  route_lines(on_out, on_err);
}

// Start-up: banner, seed, start time, the first-word forms. Returns true when the run goes on
// to the argument words; otherwise `status` holds the status to end with.
bool start_up(int argc, char** argv, RunState& state, RunStart& start, int& status) {
  // Before any file is opened, so that none can become standard output or error.
  fill_closed_standard_streams();
  const bool first_word_form =
      argc <= 1 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0;
  if (!first_word_form)
    route_text_lines(last_output_name(argc, argv));
  const std::time_t now = std::time(nullptr);
  start.date = std::ctime(&now);
  say(Channel::out, "Today's date and time: %s\n", start.date.c_str());
  if (!start.date.empty() && start.date.back() == '\n') start.date.pop_back();
  start.argc = argc;
  start.argv = argv;
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

// The normal end closes the files itself: a failed close of the output may mean data that never
// reached it, and the run must not end as a success then.
int close_files(RunState& state, const Settings& s) {
  state.input.close();
  if (!state.output.close()) {
    say(Channel::err, "error closing '%s': ", shown_name(s.output_file, "standard output"));
    report_system_error();
    return kExitReadWrite;
  }
  state.release();
  return kExitSuccess;
}

// Everything from the combination checks to the records lines: returns the run's status.
int copy(RunState& state, const Settings& settings, const PlatformProfile& profile,
         ProgressReporter& progress) {
  int status = check_combinations(state, settings);
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
  progress.finish();
  if (status != kExitSuccess)
    return status;
  status = close_files(state, settings);
  if (status != kExitSuccess)
    return status;
  end_report(state, profile);
  print_summary(state, settings);
  return kExitSuccess;
}

int run(int argc, char** argv, RunState& state) {
  const PlatformProfile& profile = this_platform();
  int status = kExitSuccess;
  RunStart start;
  if (!start_up(argc, argv, state, start, status))
    return status;
  Settings settings;
  scanargs(argc, argv, settings, state.count_given, state.iterations_given);
  status = check_report_files(settings);
  if (status != kExitSuccess)
    return status;
  start.seed = settings.seed_given ? settings.seed : process_id();
  ProgressReporter progress(settings, state);
  prepare_meter(state.meter, settings);
  if (settings.progress_seconds != 0)
    state.meter.set_listener(&progress, std::uint64_t{settings.progress_seconds} * 1000000000u);
  status = copy(state, settings, profile, progress);
  // The reports tell what the run held until its end: the files are released first.
  state.release();
  return write_reports(state, settings, start, status, false);
}

}  // namespace

int run_program(int argc, char** argv) {
  // Owned here so that every return path releases the files, the plan and the buffers.
  RunState state;
  return run(argc, argv, state);
}

}  // namespace kolvane

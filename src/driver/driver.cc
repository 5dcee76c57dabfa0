#include "driver/driver.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

#include "cli/scanargs.h"
#include "cli/settings.h"
#include "cli/usage.h"
#include "driver/progress_report.h"
#include "driver/run_end.h"
#include "driver/run_owners.h"
#include "driver/run_peers.h"
#include "driver/run_reports.h"
#include "engine/engine.h"
#include "engine/mix.h"
#include "engine/queued.h"
#include "engine/transfer.h"
#include "engine/verify.h"
#include "plan/draw.h"
#include "plan/plan.h"
#include "platform/platform.h"
#include "platform/profile.h"
#include "platform/signals.h"
#include "report/json_read.h"
#include "report/ranks.h"
#include "report/summary.h"
#include "run/console.h"
#include "run/exit_status.h"
#include "run/failures.h"

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

// quiet=1 silences the banner, which comes before the words are scanned as a whole (a refused
// word is told after it): each quiet= word is scanned on its own here, the last that scans
// counting, as it will when the words are scanned.
bool asks_quiet(int argc, char** argv) {
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "quiet=", 6) != 0)
      continue;
    const char* const words[] = {argv[0], argv[i]};
    const ScanResult scanned = scan_words(2, words, this_platform());
    if (scanned.accepted)
      quiet = scanned.settings.quiet;
  }
  return quiet;
}

// Start-up: banner, seed, start time, the first-word forms. Returns true when the run goes on
// to the argument words; otherwise `status` holds the status to end with.
bool start_up(int argc, char** argv, RunShape& shape, RunStart& start, int& status) {
  // Before any file is opened, so that none can become standard output or error.
  fill_closed_standard_streams();
  const bool first_word_form =
      argc <= 1 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0;
  if (!first_word_form)
    route_text_lines(last_output_name(argc, argv));
  // Before anything a stop could interrupt, so that no request is lost or ends the run unseen.
  install_signal_handlers();
  const std::time_t now = std::time(nullptr);
  start.wall_time = std::chrono::system_clock::now();
  start.date = std::ctime(&now);
  if (!asks_quiet(argc, argv) && shape.part.speaks())
    say(Channel::out, "Today's date and time: %s\n", start.date.c_str());
  if (!start.date.empty() && start.date.back() == '\n')
    start.date.pop_back();
  start.argc = argc;
  start.argv = argv;
  // The ranks of a run draw from one seed: rank 0's.
  shape.seed = shape.part.ranks > 1 ? shape.part.seed : process_id();
  start.time_ns = start.clock->now_ns();
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

// quiet=1 prints only what is asked for, and verbose= asks for lines it would drop.
Failure check_quiet_words(const Settings& s) {
  if (s.quiet && s.verboseflag != 0)
    return failure_text(kExitBadArgument, "quiet=1 cannot be used with verbose=\n");
  return {};
}

// The two combinations the copy cannot carry out.
Failure check_combinations(const RunShape& shape) {
  if (!shape.count_given && shape.iterations_given) {
    return failure_text(kExitIterationsNoCount,
                        "If the number of iterations is specified, then a value for the count "
                        "parameter must be specified\n");
  }
  if (!shape.count_given && shape.ends.zero_source()) {
    return failure_text(kExitZeroNoCount,
                        "If the input file is zero (/dev/zero), then a value for the count "
                        "parameter must be specified\n");
  }
  return {};
}

// An open given up for a stop request (a named pipe waiting for its other end): the run stops
// there, with nothing copied, rather than failing.
bool stopped_while_opening() {
  return stop_requested() != StopRequest::none;
}

// Opens and calibrates both files, the output last, into `calibration`.
Failure open_files(RunFiles& files, Calibration& calibration, const RunShape& shape,
                   const Settings& s, const PlatformProfile& profile) {
  if (!shape.ends.zero_source()) {
    files.input.reset(open_input(s.input_file, s.r_dio != 0));
    if (!files.input.is_open()) {
      if (stopped_while_opening())
        return {};
      return open_failure(shown_name(s.input_file, "standard input"));
    }
  }
  Failure failure = calibrate_input(files, calibration, shape, s, profile);
  if (!failure.failed())
    failure = check_seek_offset(shape.ends, s);
  // Before the output is opened, so that a refused run leaves it as it was.
  if (!failure.failed())
    failure = check_io_depth(files, shape, s);
  if (!failure.failed())
    failure = check_workers(files, shape, s);
  if (failure.failed())
    return failure;
  files.output.reset(open_run_output(s, files.output_preexists));
  if (!s.quiet && shape.part.speaks())
    say(Channel::out, "Please be patient...\n");
  if (!files.output.is_open()) {
    if (stopped_while_opening())
      return {};
    return open_failure(shown_name(s.output_file, "standard output"));
  }
  Failure calibrated = calibrate_output(files, calibration, shape, s, profile);
  if (calibrated.failed() || !s.mix_given)
    return calibrated;
  // mix=: the target's reads go through a handle of their own, with the read side's dio=; the
  // zero source leaves the input's place free for it.
  files.input.reset(open_mix_reader(s));
  if (!files.input.is_open())
    return open_failure(shown_name(s.output_file, "standard output"));
  return {};
}

// The plan, whole, held by the run from here to its release. Workers draw their own: the run's
// holds only the calibration they share out and the number of its iterations.
Failure plan_entries(RunOwners& owners, const Calibration& calibration, const Settings& s) {
  RunContext& context = owners.context;
  if (runs_workers(context.shape, s)) {
    owners.plan.calibration = calibration;
    owners.plan.size = context.shape.iterations_given ? s.num_iterations : 1;
    return {};
  }
  std::optional<Plan> plan =
      build_plan(owners.files, calibration, context.shape, s, context.random);
  if (!plan)
    return plan_memory_failure();
  owners.plan = std::move(*plan);
  return {};
}

// The entries in run order until the last one or a stop: the plan's, or, for unlimited
// iterations, drawn one by one as the run goes; each reported as it starts.
Failure transfer(RunOwners& owners, const Settings& s, const PlatformProfile& profile) {
  // Text still buffered for standard output goes out before any data block can follow it.
  std::fflush(stdout);
  RunContext& context = owners.context;
  context.control.start();
  const Plan& plan = owners.plan;
  if (runs_workers(context.shape, s))
    return run_workers(owners.files, plan.calibration, context, owners.transfer, s, profile,
                       context.meter.clock(), owners.workers);
  std::optional<RunOrderDraw> draw;
  if (context.shape.unlimited)
    draw.emplace(owners.files, plan.calibration, s, context.shape.seed, context.shape.run_seed,
                 context.random);
  EntryFeed feed(plan, draw ? &*draw : nullptr);
  const EntrySource next_entry = [&](PlanEntry& entry) {
    if (!feed.next(entry))
      return false;
    report_entry(owners.files, context.shape, s, entry, feed.taken(), profile);
    return true;
  };
  return run_transfer(owners.files, owners.transfer, context, s, profile, next_entry);
}

void end_report(const RecordTotals& totals, const RunStart& start, const PlatformProfile& profile) {
  print_records(totals, profile);
  // A monotonic clock, to the microsecond: a change of the system time cannot skew it.
  const std::uint64_t elapsed_us = (start.clock->now_ns() - start.time_ns) / 1000;
  say(Channel::out, "Elapsed time = %f seconds.\n", static_cast<double>(elapsed_us) / 1e6);
}

// Stamping or verifying: the check is started once the output is open and handed to the
// transfer. A run without pattern= or verify= leaves the context's check empty.
Failure start_check(RunContext& context, const RunFiles& files, const Settings& s,
                    const PlatformProfile& profile, OutputCheck& check) {
  // Workers stamp and check with checks of their own.
  if ((!s.stamped && s.verify == kVerifyOff) || runs_workers(context.shape, s))
    return {};
  Failure failure = check.start(s, context.shape, files.output.get(), profile);
  if (!failure.failed())
    context.check = &check;
  return failure;
}

// conv=fsync / conv=fdatasync: the data reach the device before the run ends and the time is
// taken. Only what keeps data of its own is synced: a file or a block device, never the null
// sink, a pipe or a terminal.
Failure sync_output(const RunFiles& files, Meter& meter, const Endpoints& ends, const Settings& s) {
  if (!syncs_output(s) || ends.null_sink() || !files.output.is_open() ||
      file_kind(files.output.get()) == FileKind::stream)
    return {};
  const bool data_only = (s.conv & kConvFsync) == 0;
  if (sync_file(files.output.get(), data_only)) {
    meter.extend(IoDirection::write);
    return {};
  }
  return sync_failure(output_name(s));
}

// The normal end closes the files itself: a failed close of the output may mean data that never
// reached it, and the run must not end as a success then.
Failure close_files(RunOwners& owners, const Settings& s) {
  if (!owners.files.close())
    return close_failure(shown_name(s.output_file, "standard output"));
  owners.release();
  return {};
}

// From the checks of the words to the plan: everything before the first I/O. A stop request
// ends it early with success: the run then ends as a normal one would, up to the end by the
// request.
Failure prepare_stages(RunOwners& owners, const Settings& settings, const PlatformProfile& profile,
                       OutputCheck& check) {
  Failure failure = check_combinations(owners.context.shape);
  if (!failure.failed())
    failure = check_quiet_words(settings);
  // verify=, iodepth= and workers= need to know whether a named output is a stream: the system is
  // asked once, before either is checked, and only by a run that gives one of them.
  if (!failure.failed() && (settings.verify != kVerifyOff || settings.io_depth > 1 ||
                            runs_workers(owners.context.shape, settings) || settings.mix_given))
    settle_output_stream(owners.context.shape.ends, settings);
  if (!failure.failed())
    failure = check_verify_words(owners.context.shape.ends, settings);
  if (!failure.failed())
    failure = check_poll_words(settings, profile);
  if (!failure.failed())
    failure = check_span_words(owners.context.shape, settings);
  if (!failure.failed())
    failure = check_mix_words(owners.context.shape, settings);
  if (failure.failed())
    return failure;
  if (settings.verboseflag != 0 && owners.context.shape.part.speaks()) {
    say(Channel::err, "For this run, the input file is %s and the output file is %s\n",
        reported_name(settings.input_file, "standard input", profile),
        reported_name(settings.output_file, "standard output", profile));
  }
  Calibration calibration;
  failure = open_files(owners.files, calibration, owners.context.shape, settings, profile);
  if (!failure.failed())
    failure = start_check(owners.context, owners.files, settings, profile, check);
  if (!failure.failed())
    failure = plan_entries(owners, calibration, settings);
  return failure;
}

RecordTotals record_totals(const RecordCounts& r) {
  RecordTotals t;
  t.r_full_total = r.in_full;
  t.r_partial_total = r.in_partial;
  t.w_full_total = r.out_full;
  t.w_partial_total = r.out_partial;
  return t;
}

// Rank 0's whole of every rank's document; json= and plot= keep each interval's buckets only when
// json-buckets=1 asks, as a run alone's documents do.
std::optional<RunReport> whole_of_documents(const std::vector<std::string>& documents,
                                            const std::vector<RankEnd>& ends, int status,
                                            const Settings& s) {
  std::vector<RunReport> reports;
  reports.reserve(documents.size());
  for (std::size_t r = 0; r < documents.size(); ++r) {
    JsonReadResult read = read_json(documents[r]);
    if (!read.report) {
      say(Channel::err, "rank %u's figures cannot be read: %s\n", static_cast<unsigned>(r),
          read.error.c_str());
      return std::nullopt;
    }
    reports.push_back(std::move(*read.report));
  }
  MergeResult whole = whole_of_ranks(reports, ends, status);
  if (!whole.report) {
    say(Channel::err, "the ranks' figures cannot be added up: %s\n", whole.error.c_str());
    return std::nullopt;
  }
  if (whole.report->series && !s.json_buckets) {
    for (SeriesInterval& interval : whole.report->series->intervals) {
      for (const IoDirection d : {IoDirection::read, IoDirection::write}) {
        if (interval.of(d))
          interval.of(d)->buckets.reset();
      }
    }
  }
  return std::move(whole.report);
}

bool check_failed(int status) {
  return status == kExitVerify || status == kExitVerifyOtherWords;
}

// Every run whose words were accepted ends here, however it ended. After a run that went well
// (to its end, to its time limit, or to a stop request): the output synced and closed, the
// records lines, the elapsed time and report=1's summary. A check that failed still gets them,
// which tell how far the run got; its status stays the check's, whatever the close says. After any
// run: the json= and plot= documents, once the files are released. Then a stop request ends the
// program as its signal would have; a failure's status wins over it. quiet=1 leaves out the
// records lines and the elapsed time.
// The output's end, for a run alone and for each rank: synced and closed after a run that went
// well; closed after a failed check, whose status stays the check's. Returns the run's failure.
Failure end_output(RunOwners& owners, const Settings& settings, Failure failure) {
  if (!failure.failed()) {
    failure = sync_output(owners.files, owners.context.meter, owners.context.shape.ends, settings);
    if (!failure.failed())
      failure = close_files(owners, settings);
    say_failure(failure);
  }
  if (check_failed(failure.status))
    say_failure(close_files(owners, settings));
  return failure;
}

// Whether the records lines and report=1 follow a run that ended with `status` (a stop's
// counting as 0). report=1 tells how far a failed run got once it reached its first I/O; without
// it a failed run prints nothing after its message, as it always has.
bool tells_how_far(int status, const Settings& settings, const RunControl& control) {
  return status == kExitSuccess || check_failed(status) || (settings.report && control.started());
}

int finish_run(RunOwners& owners, const Settings& settings, const PlatformProfile& profile,
               const RunStart& start, Failure failure) {
  failure = end_output(owners, settings, std::move(failure));
  int status = failure.status;
  if (tells_how_far(status, settings, owners.context.control)) {
    if (!settings.quiet)
      end_report(owners.transfer.totals, start, profile);
    say_rate_missed(owners.context.meter, settings);
    print_summary(owners.context.meter, owners.context.shape.ends, settings);
  }
  owners.release();
  status = write_reports(owners.context, owners.transfer.totals, owners.workers, settings, start,
                         status, failure.line());
  // Asked again here: a request that came while the documents were written is not lost.
  const StopRequest stop = stop_requested();
  if (status == kExitSuccess && stop != StopRequest::none)
    end_by_request(stop);
  return status;
}

// rate=: a run cut short by a stop or its time limit leaves I/Os that were due and never went
// out; they are counted, never timed. A run that did all its work has none.
void count_not_issued(RunOwners& owners, const Settings& s) {
  if (!owners.schedule || (stop_requested() == StopRequest::none && s.runtime_seconds == 0))
    return;
  RateSchedule& schedule = *owners.schedule;
  Meter& meter = owners.context.meter;
  std::uint64_t end_ns = meter.clock().now_ns();
  const std::uint64_t start_ns = schedule.start_ns();
  if (s.runtime_seconds != 0 && start_ns != 0)
    end_ns = std::min(end_ns, start_ns + std::uint64_t{s.runtime_seconds} * 1000000000u);
  meter.count_not_issued(schedule.untaken_by(end_ns));
}

// A rank's end. Its output is synced and closed as a run alone's is; then every rank learns how
// every other ended, and the run's status (the same on every rank); the series are brought to
// one record length; and every rank's document goes to rank 0, whose whole is their merge: rank 0
// prints the whole's records lines, elapsed time and report=1 with a line per rank, and writes
// the whole's documents. Each rank writes its own documents named with %r. A stop never ends a
// rank by its signal: the launcher waits for every rank to return its status.
int finish_ranks(RunOwners& owners, const Settings& settings, const PlatformProfile& profile,
                 const RunStart& start, Failure failure, RunPeers& peers, std::uint64_t transfer_ns,
                 bool reports_refused) {
  RunContext& context = owners.context;
  failure = end_output(owners, settings, std::move(failure));
  const StopRequest stop = stop_requested();
  const RankEnd own{failure.status, stop == StopRequest::none ? 0 : request_exit_status(stop),
                    transfer_ns};
  const std::vector<RankEnd> ends = peers.ends(own);
  const int status = run_status(ends);
  // A stop ends the run as a normal end does, with its report; a failure of any rank as that
  // rank's failure would end a run alone.
  const bool stopped = std::any_of(ends.begin(), ends.end(),
                                   [&](const RankEnd& e) { return e.stop_status == status; });
  const int failed = stopped ? kExitSuccess : status;
  // Each rank kept a schedule of its own: each tells its own miss.
  if (failed == kExitSuccess)
    say_rate_missed(context.meter, settings);
  LatencySeries* series = context.meter.series();
  const std::uint64_t record_ns = peers.longest(series != nullptr ? series->record_ns() : 0);
  if (series != nullptr)
    series->coarsen_to(record_ns);
  owners.release();
  const RunReport report = run_report(context, owners.transfer.totals, owners.workers, settings,
                                      start, failure.status, stop, failure.line(), true);
  const std::vector<std::string> documents = peers.gather(render_json(report));
  std::optional<RunReport> whole;
  if (context.shape.part.speaks())
    whole = whole_of_documents(documents, ends, status, settings);
  if (whole && tells_how_far(failed, settings, context.control)) {
    if (!settings.quiet)
      end_report(record_totals(whole->records), start, profile);
    if (settings.report)
      say(Channel::err, "%s%s", format_summary(whole->directions).c_str(),
          format_rank_table(*whole).c_str());
  }
  const int written =
      reports_refused
          ? kExitSuccess
          : write_reports(context, owners.transfer.totals, owners.workers, settings, start,
                          failure.status, failure.line(), whole ? &*whole : nullptr);
  // A document a rank could not write fails the run on every rank, as it fails a run alone; so
  // does a whole that rank 0 could not make (told above), which leaves its documents unwritten.
  const bool lost = context.shape.part.speaks() && !whole;
  const bool unwritten = peers.longest(written != failure.status || lost ? 1 : 0) != 0;
  return status == kExitSuccess && unwritten ? kExitReadWrite : status;
}

int run(int argc, char** argv, RunOwners& owners, RunPeers* peers) {
  const PlatformProfile& profile = this_platform();
  int status = kExitSuccess;
  RunStart start;
  RunContext& context = owners.context;
  RunShape& shape = context.shape;
  if (peers != nullptr)
    shape.part = peers->part();
  if (!start_up(argc, argv, shape, start, status))
    return status;
  Settings settings;
  scanargs(argc, argv, settings, shape.count_given, shape.iterations_given);
  shape.ends = decide_endpoints(settings);
  status = check_report_files(shape.ends, settings);
  // Alone, a refused report file ends the run here; a rank still meets the others, which end
  // with it before any I/O.
  if (status != kExitSuccess && peers == nullptr)
    return status;
  const bool reports_refused = status != kExitSuccess;
  // The same words, files and build draw the same offsets.
  if (settings.seed_given)
    shape.seed = settings.seed;
  shape.run_seed = shape.seed;
  // Rank r draws from the seeds after those of the ranks before it; rank 0 from the seed itself.
  shape.seed = worker_seed(shape.seed, shape.part.rank, settings.workers, 0);
  start.seed = shape.seed;
  context.random.seed(shape.seed);
  if (settings.mix_given)
    context.mix.emplace(shape.seed, settings.mix_percent);
  // A time limit with a count repeats the copy for as long as it lasts; count=0 has nothing to
  // repeat and stays one copy of nothing.
  shape.unlimited = settings.runtime_seconds != 0 && shape.count_given && !shape.iterations_given &&
                    settings.max_records != 0;
  context.control.arm(settings);
  context.control.set_status_reply([&](const RecordTotals& totals, const Meter& meter) {
    if (peers == nullptr) {
      show_status(totals, meter, settings, shape.ends);
      return;
    }
    RecordTotals whole = totals;
    if (peers->whole_so_far(whole))
      print_records(whole, profile);
  });
  if (peers != nullptr)
    context.control.halt_on(&peers->halted());
  ProgressReporter progress(settings, shape, owners.files, owners.plan);
  if (settings.rate != 0)
    owners.schedule.emplace(settings.rate, settings.poisson_arrivals, shape.seed);
  prepare_meter(context.meter, shape.ends, settings, owners.schedule ? &*owners.schedule : nullptr,
                context.control);
  if (settings.progress_seconds != 0 && shape.part.speaks())
    context.meter.set_listener(&progress, std::uint64_t{settings.progress_seconds} * 1000000000u);
  // Stamping or verifying lives as long as the run, up to its end report.
  OutputCheck check;
  Failure failure =
      reports_refused ? Failure{status, {}} : prepare_stages(owners, settings, profile, check);
  int met = kExitSuccess;
  bool told = false;
  if (peers != nullptr) {
    // Each rank tells its own failure before the ranks meet; none makes an I/O unless all can.
    say_failure(failure);
    told = failure.failed();
    met = peers->meet(failure.status);
  }
  std::uint64_t transfer_ns = 0;
  if (!failure.failed() && met == kExitSuccess) {
    if (peers != nullptr)
      peers->watch();
    const std::uint64_t began = start.clock->now_ns();
    failure = transfer(owners, settings, profile);
    transfer_ns = start.clock->now_ns() - began;
    if (peers != nullptr)
      peers->ended(failure.failed(), owners.transfer.totals);
  }
  count_not_issued(owners, settings);
  // The failure's message, before a progress line's end or the records lines follow it.
  if (!told)
    say_failure(failure);
  progress.finish();
  if (peers != nullptr)
    return finish_ranks(owners, settings, profile, start, std::move(failure), *peers, transfer_ns,
                        reports_refused);
  return finish_run(owners, settings, profile, start, std::move(failure));
}

}  // namespace

int run_program(int argc, char** argv, RunPeers* peers) {
  // Owned here so that every return path releases the files, the plan and the buffers.
  RunOwners owners;
  return run(argc, argv, owners, peers);
}

}  // namespace kolvane

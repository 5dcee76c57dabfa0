#include "driver/run_reports.h"

#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "platform/host.h"
#include "platform/platform.h"
#include "platform/signals.h"
#include "report/figures.h"
#include "report/json_report.h"
#include "report/plot_model.h"
#include "report/plot_svg.h"
#include "report/summary.h"
#include "run/console.h"
#include "run/exit_status.h"
#include "run/failures.h"

namespace kolvane {
namespace {

// The latency series costs memory and a little time per I/O: kept only for the documents and
// for interval=.
bool keeps_series(const Settings& s) {
  return s.json_file != nullptr || s.plot_file != nullptr || s.interval_given;
}

bool measuring(const Settings& s) {
  return s.report || keeps_series(s) || s.progress_seconds != 0 || s.rate != 0;
}

// The zero source is not read and the null sink is not written: they have no direction.
// A check-only pass reads the output and writes nothing.
bool has_reads(const Endpoints& ends, const Settings& s) {
  return !ends.zero_source() || s.verify == kVerifyCheckOnly || s.mix_given;
}
bool has_writes(const Endpoints& ends, const Settings& s) {
  return !ends.null_sink() && s.verify != kVerifyCheckOnly;
}

// A name as the reports show it: the special files by their usual names.
std::string report_name(const char* name, const char* absent) {
  if (name == nullptr)
    return absent;
  if (std::strcmp(name, kZeroSource) == 0)
    return "/dev/zero";
  if (std::strcmp(name, kNullSink) == 0)
    return "/dev/null";
  return name;
}

// Whether a report file is the data file `data` (absent: the standard stream), by name or as
// the same file under another name (a hard or symbolic link).
bool names_data(const char* file, const char* data, StandardStream stream) {
  if (data != nullptr && std::strcmp(file, data) == 0)
    return true;
  FileIdentity report, other;
  const bool known =
      data != nullptr ? identity_of_name(data, other) : identity_of_stream(stream, other);
  return known && identity_of_name(file, report) && same_file(report, other);
}

// What a report file would overwrite: the output, the input, or a device (json=/dev/sdb is one
// slip away from of=/dev/sdb). Null when it overwrites nothing of the run's.
const char* overwritten_by(const char* file, const Endpoints& ends, const Settings& s) {
  if (!ends.null_sink() && names_data(file, s.output_file, StandardStream::output))
    return "is the output file: the report would overwrite the data";
  if (!ends.zero_source() && names_data(file, s.input_file, StandardStream::input))
    return "is the input file: the report would overwrite the data";
  if (name_is_device(file))
    return "is a block device: a report is never written to a device";
  return nullptr;
}

DirectionFigures figures(const Meter& meter, IoDirection d) {
  const DirectionMeter& m = meter.direction(d);
  DirectionFigures f;
  f.direction = d;
  f.bytes = m.bytes;
  f.ios = m.ios;
  f.wall_us = meter.wall_ns(d) / 1000;
  if (meter.timed(d))
    f.latency = m.latency;
  if (meter.timed(d) && meter.schedule() != nullptr)
    f.service = m.service;
  return f;
}

std::vector<DirectionFigures> all_figures(const Meter& meter, const Endpoints& ends,
                                          const Settings& s) {
  std::vector<DirectionFigures> list;
  if (has_reads(ends, s))
    list.push_back(figures(meter, IoDirection::read));
  if (has_writes(ends, s))
    list.push_back(figures(meter, IoDirection::write));
  return list;
}

// The whole run's series (a worker's own is not reported), for the directions it reports.
std::optional<SeriesReport> series_figures(const Meter& meter,
                                           const std::vector<DirectionFigures>& reported,
                                           bool buckets) {
  if (meter.series() == nullptr)
    return std::nullopt;
  std::vector<IoDirection> directions;
  directions.reserve(reported.size());
  for (const DirectionFigures& f : reported) directions.push_back(f.direction);
  return series_report(*meter.series(), directions, buckets);
}

std::vector<std::string> conv_words(unsigned conv) {
  std::vector<std::string> words;
  if ((conv & kConvNotrunc) != 0)
    words.emplace_back("notrunc");
  if ((conv & kConvFsync) != 0)
    words.emplace_back("fsync");
  if ((conv & kConvFdatasync) != 0)
    words.emplace_back("fdatasync");
  return words;
}

ReportSettings report_settings(const RunShape& shape, const Settings& s) {
  ReportSettings r;
  if (s.input_file != nullptr)
    r.input = report_name(s.input_file, "");
  if (s.output_file != nullptr)
    r.output = report_name(s.output_file, "");
  r.ibs = s.input_blocksize;
  r.obs = s.output_blocksize;
  if (shape.count_given)
    r.count = s.max_records;
  r.skip = s.skip_records;
  r.seek = s.seek_records;
  if (shape.iterations_given)
    r.iterations = s.num_iterations;
  r.read_direct = s.r_dio != 0;
  r.write_direct = s.w_dio != 0;
  r.conv = conv_words(s.conv);
  r.verbose = s.verboseflag;
  r.report = s.report;
  if (s.progress_seconds != 0)
    r.progress_s = s.progress_seconds;
  if (s.runtime_seconds != 0)
    r.runtime_s = s.runtime_seconds;
  if (s.seed_given)
    r.seed = s.seed;
  if (s.distribution != nullptr)
    r.distribution = s.distribution;
  if (s.span_bytes != 0)
    r.span = s.span_bytes;
  if (s.mix_given)
    r.mix = s.mix_percent;
  if (s.io_depth > 1)
    r.iodepth = s.io_depth;
  if (s.poll != 0)
    r.poll = s.poll;
  if (s.stamped)
    r.pattern = "random";
  if (s.verify != kVerifyOff)
    r.verify = s.verify;
  if (s.workers > 1)
    r.workers = s.workers;
  if (s.rate != 0) {
    r.rate = s.rate;
    r.arrivals = s.poisson_arrivals ? "poisson" : "even";
  }
  if (s.interval_given)
    r.interval_ms = s.interval_ms;
  if (s.json_buckets)
    r.json_buckets = true;
  if (s.quiet)
    r.quiet = true;
  return r;
}

RecordCounts record_counts(const RecordTotals& t) {
  return {t.r_full_total, t.r_partial_total, t.w_full_total, t.w_partial_total};
}

// When and where the run was made, and the processor time it took, read as the document is made
// at the end of the run.
RunOrigin run_origin(const RunStart& start) {
  RunOrigin origin;
  origin.start_time = utc_timestamp(start.wall_time);
  origin.host = host_name();
  origin.os = system_version();
  ProcessorTime used;
  if (processor_time(used)) {
    origin.cpu_user_s = used.user_s;
    origin.cpu_system_s = used.system_s;
  }
  return origin;
}

}  // namespace

RunReport run_report(const RunContext& run, const RecordTotals& t, const WorkersOutcome& workers,
                     const Settings& s, const RunStart& start, int status, StopRequest stop,
                     const std::string& failure, bool series_buckets) {
  const bool interrupted = stop != StopRequest::none;
  RunReport r;
  r.program_version = KOLVANE_VERSION;
  for (int i = 1; i < start.argc; ++i) r.command.emplace_back(start.argv[i]);
  r.origin = run_origin(start);
  r.settings = report_settings(run.shape, s);
  r.seed = start.seed;
  r.records = record_counts(t);
  r.exit_status = status;
  if (status != kExitSuccess && !interrupted)
    r.error = failure;
  r.interrupted = interrupted;
  // A run a stop request ended ends by its signal once the documents are written: the status
  // the shell will see, not the 0 of a run that went well so far. A failure's status wins.
  if (interrupted && status == kExitSuccess) {
    r.exit_status = request_exit_status(stop);
    r.signal = stop == StopRequest::terminate ? "SIGTERM" : "SIGINT";
  }
  r.directions = all_figures(run.meter, run.shape.ends, s);
  // A target shared by several ranks runs as one worker's share when workers= is not given.
  if (s.workers > 1) {
    for (const WorkerFigures& w : workers.workers)
      r.workers.push_back(
          {w.seed, record_counts(w.totals), all_figures(*w.meter, run.shape.ends, s)});
  }
  for (const CopiedSpan& c : workers.copied_beyond) r.copied_beyond.push_back({c.first, c.blocks});
  if (s.rate != 0) {
    const PaceFigures& pace = run.meter.pace_figures();
    r.rate =
        RateReport{s.rate, run.meter.achieved_rate(), pace.late, pace.not_issued, pace.lateness};
  }
  r.series = series_figures(run.meter, r.directions, s.json_buckets || series_buckets);
  return r;
}

namespace {

std::string plot_document(const Meter& meter, const Endpoints& ends, const Settings& s,
                          const RunStart& start, int status, bool interrupted,
                          const std::string& failure) {
  PlotModel m;
  for (int i = 0; i < start.argc; ++i) m.words.emplace_back(start.argv[i]);
  m.input_name = report_name(s.input_file, "standard input");
  m.output_name = report_name(s.output_file, "standard output");
  m.date = start.date;
  m.seed = start.seed;
  m.elapsed_ns = meter.elapsed_ns();
  if (interrupted) {
    m.outcome = "interrupted";
  } else if (status != kExitSuccess) {
    m.outcome = failure;
  }
  const std::vector<DirectionFigures> reported = all_figures(meter, ends, s);
  for (const DirectionFigures& f : reported)
    (f.direction == IoDirection::read ? m.read : m.write) = f;
  m.timeline = meter.timeline().slots();
  m.series = series_figures(meter, reported, s.json_buckets);
  return render_plot_svg(m);
}

// A document is made from the run's figures and the stop request that ended the run, if any.
using Render = std::function<std::string(StopRequest)>;

void say_unwritten(const char* name) {
  say_failure(write_failure(name));
}

// A stop request cut short an open or a write that waited on a FIFO's reader: the program ends
// by it at once, leaving no part of a document behind in a file.
[[noreturn]] void end_while_writing(Replacement& file) {
  abandon_replacement(file);
  end_by_request(stop_requested());
}

// The whole document to a file of its own, through the back end, so that a failure is told in
// the system's own words as every other failed write is; the file keeps its old document unless
// the new one is complete. A stop request that arrives while it is written is never lost: the
// document is made again to say so before it takes the file's place (a FIFO's document, written
// as it goes, cannot be made again).
bool write_file(const char* name, const Render& render) {
  Replacement file;
  for (;;) {
    if (!open_replacement(name, file)) {
      if (stop_requested() != StopRequest::none)
        end_while_writing(file);
      say_unwritten(name);
      return false;
    }
    const StopRequest stop = stop_requested();
    const std::string document = render(stop);
    const Written written = write_block(file.file, document.data(), document.size(), false);
    if (written.end == Written::End::stopped)
      end_while_writing(file);
    if (!written) {
      say_unwritten(name);
      abandon_replacement(file);
      return false;
    }
    if (stop_requested() == stop || file.temporary.empty())
      break;
    abandon_replacement(file);
  }
  if (!commit_replacement(file)) {
    say_unwritten(name);
    return false;
  }
  return true;
}

// quiet=1 makes json=- a document for a pipe: on standard output, unless the data go there (no
// of=) or standard output is the output file, whose lines the error channel then carries.
bool json_on_standard_output(const Settings& s) {
  return s.quiet && s.output_file != nullptr && channel_stream(Channel::out) == stdout;
}

// The document through the back end, as the data would go to standard output: unchanged, where
// the C library's text stream would turn each line end into CR LF on Windows.
bool write_standard_output(const std::string& document) {
  bool unused = false;
  const FileHandle out = open_output(nullptr, false, false, unused);
  if (out == kNoFile)
    return false;
  std::fflush(stdout);
  const Written written = write_block(out, document.data(), document.size(), false);
  if (written.end == Written::End::stopped)
    end_by_request(stop_requested());
  return static_cast<bool>(written);
}

}  // namespace

int check_report_files(const Endpoints& ends, const Settings& s) {
  const struct {
    const char* word;
    const char* file;
    bool dash_is_stderr;  // json=- writes on standard error, never into a file of the run
  } reports[] = {{"json", s.json_file, true}, {"plot", s.plot_file, false}};
  for (const auto& r : reports) {
    if (r.file == nullptr || (r.dash_is_stderr && std::strcmp(r.file, "-") == 0))
      continue;
    const char* reason = overwritten_by(r.file, ends, s);
    if (reason != nullptr) {
      say(Channel::err, "%s=%s %s\n", r.word, r.file, reason);
      return kExitBadArgument;
    }
  }
  // One document would silently replace the other.
  if (s.json_file != nullptr && s.plot_file != nullptr &&
      std::strcmp(s.json_file, s.plot_file) == 0) {
    say(Channel::err, "json= and plot= name the same file '%s'\n", s.plot_file);
    return kExitBadArgument;
  }
  return kExitSuccess;
}

void prepare_meter(Meter& meter, const Endpoints& ends, const Settings& s, RateSchedule* schedule,
                   DueWait& wait) {
  if (!measuring(s))
    return;
  // Progress lines need a clock even where no direction is reported (the zero source copied to
  // the null sink): the writes are timed then.
  const bool reads = has_reads(ends, s);
  // rate= schedules the reads of a copy or a read test, the zero source's writes (to the null
  // sink too: what a paced write costs is what such a run measures), and both of a mix.
  const bool paced_writes = s.rate != 0 && ends.zero_source() && s.verify != kVerifyCheckOnly;
  meter.time_directions(reads,
                        has_writes(ends, s) || paced_writes || (s.progress_seconds != 0 && !reads));
  if (schedule != nullptr)
    meter.pace(*schedule, wait, reads, paced_writes);
  if (keeps_series(s))
    meter.keep_series(s.interval_ms);
}

void say_rate_missed(const Meter& meter, const Settings& s) {
  const std::optional<double> achieved = meter.achieved_rate();
  if (s.rate != 0 && achieved && meter.behind_schedule(0.01))
    say(Channel::err, "rate not reached: %.0f of %llu I/Os per second\n", *achieved,
        static_cast<unsigned long long>(s.rate));
}

void print_summary(const Meter& meter, const Endpoints& ends, const Settings& s) {
  if (!s.report)
    return;
  const std::vector<DirectionFigures> list = all_figures(meter, ends, s);
  say(Channel::err, "%s", format_summary(list).c_str());
}

int write_reports(const RunContext& run, const RecordTotals& totals, const WorkersOutcome& workers,
                  const Settings& s, const RunStart& start, int status, const std::string& failure,
                  const RunReport* whole) {
  // A run of several ranks: a name without %r is the whole's, which rank 0 alone writes.
  const RunPart& part = run.shape.part;
  const bool whole_plot = part.ranks > 1 && !part.own_plot;
  const bool whole_json = part.ranks > 1 && !part.own_json;
  // The picture first: when it cannot be written, the JSON document tells so.
  if (s.plot_file != nullptr && (!whole_plot || whole != nullptr)) {
    const Render picture = [&](StopRequest stop) {
      if (whole_plot)
        return render_plot_svg(plot_model(*whole));
      return plot_document(run.meter, run.shape.ends, s, start, status, stop != StopRequest::none,
                           failure);
    };
    if (!write_file(s.plot_file, picture) && status == kExitSuccess)
      status = kExitReadWrite;
  }
  if (s.json_file != nullptr && (!whole_json || whole != nullptr)) {
    const Render json = [&](StopRequest stop) {
      if (whole_json)
        return render_json(*whole);
      return render_json(run_report(run, totals, workers, s, start, status, stop, failure, false));
    };
    if (std::strcmp(s.json_file, "-") == 0 && json_on_standard_output(s)) {
      if (!write_standard_output(json(stop_requested()))) {
        say_unwritten("standard output");
        if (status == kExitSuccess)
          status = kExitReadWrite;
      }
    } else if (std::strcmp(s.json_file, "-") == 0) {
      say(Channel::err, "%s", json(stop_requested()).c_str());
    } else if (!write_file(s.json_file, json) && status == kExitSuccess) {
      status = kExitReadWrite;
    }
  }
  return status;
}

}  // namespace kolvane

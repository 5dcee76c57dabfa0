// The JSON report of json=FILE: everything a run was asked to do and what it measured, one
// document that tools can read back and merge (the latency buckets are the same on every host).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/figures.h"
#include "report/series_figures.h"

namespace kolvane {

// The run's values as the words gave them; optional ones are absent from the JSON when the
// word was not given. Names are as the system passes them (converted to UTF-8 on output).
struct ReportSettings {
  std::optional<std::string> input;   // absent: standard input
  std::optional<std::string> output;  // absent: standard output
  std::uint64_t ibs = 0;
  std::uint64_t obs = 0;
  std::optional<std::uint64_t> count;
  std::uint64_t skip = 0;
  std::uint64_t seek = 0;
  std::optional<std::uint64_t> iterations;
  bool read_direct = false;
  bool write_direct = false;
  std::vector<std::string> conv;  // each conv= word, in the order given
  std::uint32_t verbose = 0;
  bool report = false;
  std::optional<std::uint64_t> progress_s;
  std::optional<std::uint64_t> runtime_s;
  std::optional<std::uint32_t> seed;
  std::optional<std::string> distribution;  // as given: uniform, zipf:1.2, ...
  std::optional<std::uint64_t> span;
  std::optional<std::uint32_t> mix;  // mix=R: the percent of I/Os that read
  std::optional<std::uint32_t> iodepth;
  std::optional<std::uint32_t> poll;
  std::optional<std::string> pattern;   // pattern=random
  std::optional<std::uint32_t> verify;  // verify=1 or 2
  std::optional<std::uint32_t> workers;
  std::optional<std::uint64_t> rate;         // rate=N, I/Os per second
  std::optional<std::string> arrivals;       // "even" or "poisson", with rate=
  std::optional<std::uint32_t> interval_ms;  // interval=MS
  std::optional<bool> json_buckets;          // json-buckets=1
  std::optional<bool> quiet;                 // quiet=1
};

// How a run at rate= kept to its schedule.
struct RateReport {
  std::uint64_t target_per_s = 0;
  // The scheduled I/Os completed over the time from the schedule's start to the last of them;
  // absent when none completed.
  std::optional<double> achieved_per_s;
  std::uint64_t late = 0;        // handed over more than one gap after their due time
  std::uint64_t not_issued = 0;  // due before the run ended (a stop, runtime=) and never sent
  // From due time (or readiness, when later) to hand-over while the queue had room.
  LatencyHistogram lateness;
};

struct RecordCounts {
  std::uint64_t in_full = 0;
  std::uint64_t in_partial = 0;
  std::uint64_t out_full = 0;
  std::uint64_t out_partial = 0;
};

// One worker's share of a run of several: its seed, its records and its figures.
struct WorkerReport {
  std::uint32_t seed = 0;
  RecordCounts records;
  std::vector<DirectionFigures> directions;
};

// Blocks a split copy wrote past those its records count, numbered from the copy's first.
struct CopiedBlocks {
  std::uint64_t first = 0;
  std::uint64_t blocks = 0;
};

// When and where the run was made, and the processor time it took to its end. A document of a
// program from before these were told has none of them.
struct RunOrigin {
  std::string start_time;  // UTC, ISO 8601 to the millisecond: "2026-12-09T13:50:03.123Z"
  std::string host;        // the host's name
  std::string os;          // the system and its version: "Linux 6.1.0-28-amd64"
  double cpu_user_s = 0;
  double cpu_system_s = 0;
};

// A document made from the documents of several runs (kolvane-report merge): each input's own
// figures, and the rates that only the inputs can give.
// A rank of a run launched on several hosts (kolvane-mpi), beside its figures.
struct RankFacts {
  std::uint32_t rank = 0;
  int exit_status = 0;     // its own, as its document of one host tells it
  double transfer_s = 0;   // from its first I/O to the end of its transfer, on its own clock
  bool straggler = false;  // it ended more than 10 % of the run's length after the median rank
};

struct MergedRun {
  std::string file;               // the input document's name, as given to the merge
  std::optional<RankFacts> rank;  // a rank's figures (listed under "ranks", without a file)
  std::vector<std::string> command;
  std::optional<RunOrigin> origin;
  RecordCounts records;
  std::vector<DirectionFigures> directions;
};

// The whole's own rates are its bytes and I/Os over the longest run's span: what the runs moved
// together while any of them ran. Runs that did not overlap in time (one per night) make that
// lower than what each did, so the sum of each run's own rate is told beside it: what they do
// at once, if they ran at once.
struct SummedRate {
  IoDirection direction = IoDirection::read;
  std::optional<double> mb_per_s;  // absent when a run of the direction took no time
  std::optional<double> iops;
};

struct MergeReport {
  std::vector<MergedRun> runs;  // "ranks" when they carry their rank
  std::vector<SummedRate> summed_rates;
};

struct RunReport {
  static constexpr int kFormatVersion = 2;
  std::string program_version;
  std::vector<std::string> command;  // the argument words after the program name
  std::optional<RunOrigin> origin;
  ReportSettings settings;
  std::uint32_t seed = 0;  // the one the offsets were drawn from, given or not
  RecordCounts records;
  int exit_status = 0;
  std::optional<std::string> error;  // the message printed, when the run failed
  bool interrupted = false;
  std::optional<std::string> signal;         // "SIGINT" or "SIGTERM", when the run ended by one
  std::vector<DirectionFigures> directions;  // in the order the document lists them
  std::vector<WorkerReport> workers;         // empty: a run of one worker
  std::vector<CopiedBlocks> copied_beyond;   // empty: none
  std::optional<RateReport> rate;            // absent: a run without rate=
  std::optional<SeriesReport> series;        // absent: the run kept no latency series
  std::optional<MergeReport> merged;         // absent: the document of one run
};

// One pretty-printed document ending in a newline. Every text is valid UTF-8: a name that is
// not has its invalid bytes replaced by U+FFFD and its raw bytes beside it as hex, under the
// same key with "_hex" added ("command_hex" holds every word's bytes when any word is not).
std::string render_json(const RunReport& report);

// A time as the documents give it: UTC, ISO 8601 to the millisecond (start_time).
std::string utc_timestamp(std::chrono::system_clock::time_point time);

}  // namespace kolvane

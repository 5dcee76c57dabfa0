// The documents of runs made apart (one per host, one per night) as one document for the runs as
// a whole. Every latency figure of the whole comes from the buckets added up, which are the same
// on every host: never from averaged percentiles, which mean nothing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report/json_report.h"

namespace kolvane {

// One document read, and the name it was read from (for the messages and the "runs" list).
struct NamedReport {
  std::string file;
  RunReport report;
};

struct MergeResult {
  std::optional<RunReport> report;
  std::string error;  // why the inputs cannot be merged; empty when there is a report
};

// Refused: runs whose I/O had another shape (block sizes, directions, direct reads or writes),
// or whose series were kept over other intervals. Records, bytes and I/Os are summed; each
// histogram is the bucket-by-bucket sum; the series are added interval by interval, each run's
// counted from its own start; the whole's span is the longest run's. The whole keeps the first
// document's words and settings (their shape is every run's); each run's own are in `merged`.
MergeResult merge_reports(const std::vector<NamedReport>& inputs);

}  // namespace kolvane

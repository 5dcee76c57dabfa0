#include "driver/progress_report.h"

#include <cstddef>
#include <cstdio>

#include "platform/platform.h"
#include "run/console.h"

namespace kolvane {
namespace {

// Progress lines may rewrite themselves only where they land on a terminal.
ProgressLine progress_line() {
  std::size_t columns = 80;
  const bool terminal = channel_stream(Channel::err) == stderr && error_stream_is_terminal(columns);
  return ProgressLine(terminal, columns);
}

// What the run moves: the bytes read, or written when nothing is read (the zero source).
IoDirection counted_direction(const Endpoints& ends) {
  return ends.zero_source() ? IoDirection::write : IoDirection::read;
}

// Known for a counted run (every iteration moves count blocks, unless the input ends first) and
// for a measured input copied to its end. Iterations drawn until runtime= ends have no number:
// their share done is their time alone.
std::optional<std::uint64_t> total_bytes(const Settings& s, const RunShape& shape,
                                         const RunFiles& files, const Plan& plan) {
  if (shape.unlimited)
    return {};
  if (shape.count_given) {
    const std::uint64_t per_entry = s.max_records * s.input_blocksize;
    if (s.input_blocksize != 0 && per_entry / s.input_blocksize != s.max_records)
      return {};
    return per_entry * plan.size;
  }
  if (files.input_limit != kNoLimit)
    return files.input_limit;
  return {};
}

}  // namespace

ProgressReporter::ProgressReporter(const Settings& settings, const RunShape& shape,
                                   const RunFiles& files, const Plan& plan)
    : settings_(settings), shape_(shape), files_(files), plan_(plan), line_(progress_line()) {}

void ProgressReporter::tick(const Meter& meter, std::uint64_t now_ns) {
  const std::uint64_t bytes = meter.direction(counted_direction(shape_.ends)).bytes;
  const std::uint64_t since = previous_ns_ == 0 ? meter.origin_ns() : previous_ns_;
  ProgressSample sample;
  sample.bytes = bytes;
  sample.elapsed_us = (now_ns - meter.origin_ns()) / 1000;
  sample.interval_bytes = bytes - previous_bytes_;
  sample.interval_us = (now_ns - since) / 1000;
  sample.total_bytes = total_bytes(settings_, shape_, files_, plan_);
  if (settings_.runtime_seconds != 0)
    sample.total_us = std::uint64_t{settings_.runtime_seconds} * 1000000;
  previous_bytes_ = bytes;
  previous_ns_ = now_ns;
  // A line said since the last one ended it: the next starts afresh, with nothing to cover.
  if (!progress_line_stands())
    static_cast<void>(line_.finish());
  say_progress(line_.next(sample));
  // Standard error is unbuffered on most systems, not all: the line is due now.
  if (std::FILE* stream = channel_stream(Channel::err))
    std::fflush(stream);
}

void ProgressReporter::finish() {
  // The console knows whether the last line still stands: only then does it get its end.
  static_cast<void>(line_.finish());
  end_progress_line();
}

}  // namespace kolvane

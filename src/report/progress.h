// The progress=N line: how much was moved, how fast now and on average, and, when the end is
// known, how far along the run is and how long it has left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kolvane {

struct ProgressSample {
  std::uint64_t bytes = 0;                   // moved so far
  std::uint64_t elapsed_us = 0;              // since the first I/O
  std::uint64_t interval_bytes = 0;          // moved in the last interval
  std::uint64_t interval_us = 0;             // the last interval's length
  std::optional<std::uint64_t> total_bytes;  // planned iterations, or a measured input
  std::optional<std::uint64_t> total_us;     // runtime=
};

// One line without its end, e.g. "10485760 bytes (10.5 MB, 10.0 MiB), 0:00:05, 2.1 MB/s now,
// 2.1 MB/s average, 50.0%, 0:00:05 left". With both totals, the end that comes first counts.
// A rate over no time, or a time left at no rate, is "-".
std::string progress_text(const ProgressSample& sample);

// The lines as they are written: on a terminal each one rewrites the last (it ends in "\r" and
// is padded with spaces over a longer previous one); elsewhere each ends in "\n".
class ProgressLine {
 public:
  explicit ProgressLine(bool terminal) : terminal_(terminal) {}
  std::string next(const ProgressSample& sample);
  // What to write before the run's last lines: on a terminal after a progress line, "\n" so it
  // stays in view and is not overwritten; otherwise nothing.
  std::string finish();

 private:
  bool terminal_;
  std::size_t previous_width_ = 0;
};

}  // namespace kolvane

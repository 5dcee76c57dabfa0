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

// The brief line leaves out the exact byte count, so that it fits on one terminal row.
enum class ProgressDetail { full, brief };

// One line without its end, e.g. "10485760 bytes (10.0 MiB), 0:00:05, 2.1 MB/s now, 2.1 MB/s
// average, 50.0%, 0:00:05 left" (brief: "10.0 MiB, 0:00:05, ..."). With both totals, the end
// that comes first counts. A rate over no time, or a time left at no rate, is "-".
std::string progress_text(const ProgressSample& sample, ProgressDetail detail);

// The lines as they are written: on a terminal each one rewrites the last (it ends in "\r" and
// is padded with spaces over a longer previous one), and is the brief line when the full one
// would not fit in the terminal's columns (a wrapped line cannot be rewritten); elsewhere each
// is the full line and ends in "\n".
class ProgressLine {
 public:
  // `columns`: the terminal's width, where the caller knows it.
  explicit ProgressLine(bool terminal, std::size_t columns = 80)
      : terminal_(terminal), columns_(columns) {}
  std::string next(const ProgressSample& sample);
  // What to write before the run's last lines: on a terminal after a progress line, "\n" so it
  // stays in view and is not overwritten; otherwise nothing.
  std::string finish();

 private:
  bool terminal_;
  std::size_t columns_;
  std::size_t previous_width_ = 0;
};

}  // namespace kolvane

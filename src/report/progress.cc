#include "report/progress.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace kolvane {

namespace {

std::string clock_time(std::uint64_t seconds) {
  char text[48];
  std::snprintf(text, sizeof text, "%" PRIu64 ":%02" PRIu64 ":%02" PRIu64, seconds / 3600,
                seconds / 60 % 60, seconds % 60);
  return text;
}

// Bytes per microsecond are megabytes per second.
std::string rate(std::uint64_t bytes, std::uint64_t us) {
  if (us == 0) {
    return "- MB/s";
  }
  char text[48];
  std::snprintf(text, sizeof text, "%.1f MB/s",
                static_cast<double>(bytes) / static_cast<double>(us));
  return text;
}

// How far along and how long left, by one total; no time left is known at no rate.
struct Outlook {
  double fraction;
  std::optional<std::uint64_t> left_us;
};

Outlook by_bytes(const ProgressSample& s, std::uint64_t total) {
  if (s.bytes >= total) {
    return {1.0, 0};
  }
  const double fraction = static_cast<double>(s.bytes) / static_cast<double>(total);
  if (s.bytes == 0 || s.elapsed_us == 0) {
    return {fraction, std::nullopt};
  }
  const double us_per_byte = static_cast<double>(s.elapsed_us) / static_cast<double>(s.bytes);
  return {fraction, static_cast<std::uint64_t>(static_cast<double>(total - s.bytes) * us_per_byte)};
}

Outlook by_time(const ProgressSample& s, std::uint64_t total) {
  if (s.elapsed_us >= total) {
    return {1.0, 0};
  }
  return {static_cast<double>(s.elapsed_us) / static_cast<double>(total), total - s.elapsed_us};
}

// Of two ends, the one that comes first: the larger share done, the shorter time left.
Outlook sooner(const Outlook& a, const Outlook& b) {
  std::optional<std::uint64_t> left = a.left_us ? a.left_us : b.left_us;
  if (a.left_us && b.left_us) {
    left = std::min(*a.left_us, *b.left_us);
  }
  return {std::max(a.fraction, b.fraction), left};
}

}  // namespace

std::string progress_text(const ProgressSample& s) {
  char head[160];
  std::snprintf(head, sizeof head, "%" PRIu64 " bytes (%.1f MB, %.1f MiB), ", s.bytes,
                static_cast<double>(s.bytes) / 1e6, static_cast<double>(s.bytes) / 1048576.0);
  std::string text = head + clock_time(s.elapsed_us / 1000000) + ", " +
                     rate(s.interval_bytes, s.interval_us) + " now, " +
                     rate(s.bytes, s.elapsed_us) + " average";
  std::optional<Outlook> outlook;
  if (s.total_bytes) {
    outlook = by_bytes(s, *s.total_bytes);
  }
  if (s.total_us) {
    const Outlook timed = by_time(s, *s.total_us);
    outlook = outlook ? sooner(*outlook, timed) : timed;
  }
  if (outlook) {
    char percent[32];
    std::snprintf(percent, sizeof percent, ", %.1f%%, ", outlook->fraction * 100.0);
    // Rounded up, so "0:00:00 left" means done.
    text += percent +
            (outlook->left_us ? clock_time((*outlook->left_us + 999999) / 1000000) : "-") + " left";
  }
  return text;
}

std::string ProgressLine::next(const ProgressSample& sample) {
  std::string line = progress_text(sample);
  if (!terminal_) {
    return line + "\n";
  }
  const std::size_t width = line.size();
  if (width < previous_width_) {
    line.append(previous_width_ - width, ' ');
  }
  previous_width_ = width;
  return line + "\r";
}

std::string ProgressLine::finish() {
  const bool pending = terminal_ && previous_width_ != 0;
  previous_width_ = 0;
  return pending ? "\n" : "";
}

}  // namespace kolvane

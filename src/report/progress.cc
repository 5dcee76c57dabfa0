#include "report/progress.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <iterator>
#include <string>

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

// The size in the largest binary unit it reaches: "512 B", "1.5 KiB", "10.0 MiB".
std::string binary_size(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  char text[48];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%" PRIu64 " B", bytes);
    return text;
  }
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace

std::string progress_text(const ProgressSample& s, ProgressDetail detail) {
  std::string text = binary_size(s.bytes);
  if (detail == ProgressDetail::full) {
    text = std::to_string(s.bytes) + " bytes (" + text + ")";
  }
  text += ", " + clock_time(s.elapsed_us / 1000000) + ", " + rate(s.interval_bytes, s.interval_us) +
          " now, " + rate(s.bytes, s.elapsed_us) + " average";
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
  std::string line = progress_text(sample, ProgressDetail::full);
  if (!terminal_) {
    return line + "\n";
  }
  if (line.size() >= columns_) {
    line = progress_text(sample, ProgressDetail::brief);
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

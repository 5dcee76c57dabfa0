#include "report/summary.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <vector>

namespace kolvane {

namespace {

using Row = std::vector<std::string>;

constexpr const char* kNone = "-";

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string fixed(const std::optional<double>& value, int decimals) {
  return value ? fixed(*value, decimals) : kNone;
}

std::string whole(std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRIu64, value);
  return text;
}

// Seconds with every microsecond shown.
std::string seconds(std::uint64_t us) {
  char text[48];
  std::snprintf(text, sizeof text, "%" PRIu64 ".%06" PRIu64, us / 1000000, us % 1000000);
  return text;
}

Row transfer_row(const DirectionFigures& d) {
  return {direction_name(d.direction),
          whole(d.bytes),
          fixed(static_cast<double>(d.bytes) / 1e6, 3),
          fixed(static_cast<double>(d.bytes) / 1048576.0, 3),
          whole(d.ios),
          seconds(d.wall_us),
          fixed(megabytes_per_second(d), 3),
          fixed(ios_per_second(d), 1)};
}

Row latency_row(IoDirection d, const std::optional<LatencyHistogram>& h) {
  Row row{direction_name(d)};
  const bool measured = h && h->count() != 0;
  for (const LatencyPoint& point : kLatencyPoints) {
    row.push_back(measured ? fixed(latency_ns(*h, point) / 1000.0, 3) : kNone);
  }
  return row;
}

// The first column is left-aligned and as wide in both tables, so the directions line up; the
// numbers are right-aligned under their headings, two spaces apart.
void append_table(std::string& out, const std::vector<Row>& rows, std::size_t first_width) {
  std::vector<std::size_t> widths(rows.front().size(), 0);
  widths[0] = first_width;
  for (const Row& row : rows) {
    for (std::size_t i = 1; i < row.size(); ++i) {
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  for (const Row& row : rows) {
    std::string line = row[0] + std::string(widths[0] - row[0].size(), ' ');
    for (std::size_t i = 1; i < row.size(); ++i) {
      line += std::string(2 + widths[i] - row[i].size(), ' ') + row[i];
    }
    out += line + "\n";
  }
}

}  // namespace

std::string format_summary(std::span<const DirectionFigures> directions) {
  if (directions.empty()) {
    return {};
  }
  std::vector<Row> transfer{{"transfer", "bytes", "MB", "MiB", "I/Os", "time (s)", "MB/s", "IOPS"}};
  Row heading{"latency (us)"};
  for (const LatencyPoint& point : kLatencyPoints) {
    heading.push_back(point.label);
  }
  std::vector<Row> latency{heading};
  std::size_t first_width = heading[0].size();
  for (const DirectionFigures& d : directions) {
    transfer.push_back(transfer_row(d));
    latency.push_back(latency_row(d.direction, d.latency));
    // rate=: the device's own time beside the time from when each I/O was due.
    if (d.service) {
      latency.push_back(latency_row(d.direction, d.service));
      latency.back()[0] += " service";
    }
    first_width = std::max({first_width, transfer.back()[0].size(), latency.back()[0].size()});
  }
  std::string out;
  append_table(out, transfer, first_width);
  append_table(out, latency, first_width);
  return out;
}

std::string format_rank_table(const RunReport& report) {
  if (report.directions.empty() || !report.merged || report.merged->runs.empty() ||
      !report.merged->runs.front().rank)
    return {};
  constexpr LatencyPoint kP99 = kLatencyPoints[4];
  static_assert(kP99.percentile == 99.0);
  std::vector<Row> rows{{"rank", "host", "IOPS", "MB/s", "p99 (us)"}};
  for (const MergedRun& run : report.merged->runs) {
    std::optional<double> iops = 0.0, mb = 0.0;
    std::optional<LatencyHistogram> all;
    for (const DirectionFigures& d : run.directions) {
      const std::optional<double> i = ios_per_second(d), m = megabytes_per_second(d);
      iops = iops && i ? std::optional<double>(*iops + *i) : std::nullopt;
      mb = mb && m ? std::optional<double>(*mb + *m) : std::nullopt;
      if (d.latency && !all)
        all = d.latency;
      else if (d.latency)
        all->merge(*d.latency);
    }
    const bool measured = all && all->count() != 0;
    rows.push_back({whole(run.rank->rank), run.origin ? run.origin->host : kNone, fixed(iops, 1),
                    fixed(mb, 3), measured ? fixed(latency_ns(*all, kP99) / 1000.0, 3) : kNone});
  }
  std::string table;
  append_table(table, rows, rows.front()[0].size());
  // The mark follows its row, so that the other rows keep no trailing blanks.
  std::string out;
  std::size_t row = 0;
  for (std::size_t at = 0, end = 0; at < table.size(); at = end + 1, ++row) {
    end = table.find('\n', at);
    out.append(table, at, end - at);
    if (row > 0 && report.merged->runs[row - 1].rank->straggler)
      out += "  straggler";
    out += '\n';
  }
  return out;
}

}  // namespace kolvane

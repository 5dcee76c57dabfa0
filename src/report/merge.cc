#include "report/merge.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "measure/series.h"

namespace kolvane {

namespace {

std::string yes_no(bool b) {
  return b ? "yes" : "no";
}

// "read", "write", "read+write" or "none", whatever the order the document lists them in.
std::string direction_list(const std::vector<DirectionFigures>& list) {
  std::string names;
  for (const IoDirection d : {IoDirection::read, IoDirection::write}) {
    const bool has = std::any_of(list.begin(), list.end(),
                                 [&](const DirectionFigures& f) { return f.direction == d; });
    if (has)
      names += (names.empty() ? "" : "+") + std::string(direction_name(d));
  }
  return names.empty() ? "none" : names;
}

// What makes two runs' I/O differ in kind, so that their sum would describe no workload: the
// first such word, or empty when the runs can be merged.
std::string shape_mismatch(const NamedReport& a, const NamedReport& b) {
  const auto differs = [&](const std::string& what, const std::string& x, const std::string& y) {
    return what + " is " + x + " in " + a.file + " but " + y + " in " + b.file;
  };
  const ReportSettings& s = a.report.settings;
  const ReportSettings& t = b.report.settings;
  if (s.ibs != t.ibs)
    return differs("ibs", std::to_string(s.ibs), std::to_string(t.ibs));
  if (s.obs != t.obs)
    return differs("obs", std::to_string(s.obs), std::to_string(t.obs));
  if (direction_list(a.report.directions) != direction_list(b.report.directions))
    return differs("the direction", direction_list(a.report.directions),
                   direction_list(b.report.directions));
  if (s.read_direct != t.read_direct)
    return differs("direct reading (dio)", yes_no(s.read_direct), yes_no(t.read_direct));
  if (s.write_direct != t.write_direct)
    return differs("direct writing (dio)", yes_no(s.write_direct), yes_no(t.write_direct));
  if (a.report.series.has_value() != b.report.series.has_value())
    return differs("a latency series", yes_no(a.report.series.has_value()),
                   yes_no(b.report.series.has_value()));
  if (a.report.series && a.report.series->interval_ms != b.report.series->interval_ms)
    return differs("the series interval (ms)", std::to_string(a.report.series->interval_ms),
                   std::to_string(b.report.series->interval_ms));
  return {};
}

void add_records(RecordCounts& to, const RecordCounts& r) {
  to.in_full += r.in_full;
  to.in_partial += r.in_partial;
  to.out_full += r.out_full;
  to.out_partial += r.out_partial;
}

// What one input has added to the whole: the first that has it gives it, `add` adds the others'.
template <typename T, typename Add>
void accumulate(std::optional<T>& to, const std::optional<T>& from, Add add) {
  if (!from)
    return;
  if (to)
    add(*to, *from);
  else
    to = from;
}

void add_histogram(std::optional<LatencyHistogram>& to, const std::optional<LatencyHistogram>& h) {
  accumulate(to, h, [](LatencyHistogram& sum, const LatencyHistogram& one) { sum.merge(one); });
}

// The directions are the same in every input (checked before), in the first one's order.
void add_directions(std::vector<DirectionFigures>& to, const std::vector<DirectionFigures>& list) {
  for (const DirectionFigures& d : list) {
    auto same = std::find_if(to.begin(), to.end(),
                             [&](const DirectionFigures& t) { return t.direction == d.direction; });
    if (same == to.end()) {
      to.push_back(d);
      continue;
    }
    same->bytes += d.bytes;
    same->ios += d.ios;
    // The span the whole's rates are over: the longest run's.
    same->wall_us = std::max(same->wall_us, d.wall_us);
    // A run without service times had its latencies counted from hand-over: they are its
    // service times. So the whole's service histogram holds every I/O, as its latency one does.
    if (same->service || d.service) {
      if (!same->service)
        same->service = same->latency;
      add_histogram(same->service, d.service ? d.service : d.latency);
    }
    add_histogram(same->latency, d.latency);
  }
}

void add_buckets(std::vector<LatencyBucket>& to, const std::vector<LatencyBucket>& list) {
  std::vector<std::uint64_t> counts(LatencyHistogram::kBuckets, 0);
  const auto count = [&](const std::vector<LatencyBucket>& l) {
    for (const LatencyBucket& b : l) counts[LatencyHistogram::bucket_index(b.low_ns)] += b.count;
  };
  count(to);
  count(list);
  to.clear();
  for (std::size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] != 0)
      to.push_back(
          {LatencyHistogram::bucket_low_ns(i), LatencyHistogram::bucket_high_ns(i), counts[i]});
  }
}

void add_series_figures(std::optional<SeriesFigures>& to, const std::optional<SeriesFigures>& f) {
  accumulate(to, f, [](SeriesFigures& sum, const SeriesFigures& one) {
    sum.ios += one.ios;
    sum.bytes += one.bytes;
    sum.max_ns = std::max(sum.max_ns, one.max_ns);
    // Percentiles of an interval are exact only from its buckets: an input without them leaves
    // the whole's interval without percentiles rather than with made-up ones.
    if (sum.buckets && one.buckets)
      add_buckets(*sum.buckets, *one.buckets);
    else
      sum.buckets.reset();
    derive_percentiles(sum);
  });
}

// Interval i of every run is the i-th stretch from that run's own start: the hosts' clocks are
// never compared. A long run's series is kept over coarser intervals than interval= asked for
// (to bound its memory), so aligned intervals must also be the same length of time.
std::string add_series(SeriesReport& to, const SeriesReport& s, const std::string& file) {
  for (std::size_t i = 0; i < s.intervals.size(); ++i) {
    const SeriesInterval& in = s.intervals[i];
    if (i == to.intervals.size()) {
      to.intervals.push_back(in);
      continue;
    }
    SeriesInterval& sum = to.intervals[i];
    if (sum.length_ms != in.length_ms)
      return "series.intervals[" + std::to_string(i) + "] is " + std::to_string(in.length_ms) +
             " ms long in " + file + " but " + std::to_string(sum.length_ms) +
             " ms in the documents before it";
    for (const IoDirection d : {IoDirection::read, IoDirection::write})
      add_series_figures(sum.of(d), in.of(d));
  }
  return {};
}

void add_rate(std::optional<RateReport>& to, const std::optional<RateReport>& r) {
  accumulate(to, r, [](RateReport& sum, const RateReport& one) {
    sum.target_per_s += one.target_per_s;
    sum.achieved_per_s = sum.achieved_per_s && one.achieved_per_s
                             ? std::optional<double>(*sum.achieved_per_s + *one.achieved_per_s)
                             : std::nullopt;
    sum.late += one.late;
    sum.not_issued += one.not_issued;
    sum.lateness.merge(one.lateness);
  });
}

std::vector<SummedRate> summed_rates(const std::vector<NamedReport>& inputs) {
  std::vector<SummedRate> rates;
  for (const DirectionFigures& first : inputs.front().report.directions) {
    SummedRate& sum = rates.emplace_back();
    sum.direction = first.direction;
    sum.mb_per_s = 0.0;
    sum.iops = 0.0;
    for (const NamedReport& in : inputs) {
      for (const DirectionFigures& d : in.report.directions) {
        if (d.direction != first.direction)
          continue;
        const std::optional<double> mb = megabytes_per_second(d), iops = ios_per_second(d);
        sum.mb_per_s =
            sum.mb_per_s && mb ? std::optional<double>(*sum.mb_per_s + *mb) : std::nullopt;
        sum.iops = sum.iops && iops ? std::optional<double>(*sum.iops + *iops) : std::nullopt;
      }
    }
  }
  return rates;
}

}  // namespace

MergeResult merge_reports(const std::vector<NamedReport>& inputs) {
  MergeResult result;
  if (inputs.empty()) {
    result.error = "no documents to merge";
    return result;
  }
  for (const NamedReport& in : inputs) {
    result.error = shape_mismatch(inputs.front(), in);
    if (!result.error.empty())
      return result;
  }
  const RunReport& first = inputs.front().report;
  RunReport whole;
  whole.program_version = first.program_version;
  whole.command = first.command;
  whole.settings = first.settings;
  whole.seed = first.seed;
  MergeReport& merged = whole.merged.emplace();
  if (first.series)
    whole.series = SeriesReport{first.series->interval_ms, {}};
  for (const NamedReport& in : inputs) {
    const RunReport& r = in.report;
    add_records(whole.records, r.records);
    // The whole failed or was stopped when any run was: the first such run tells how.
    if (whole.exit_status == 0 && r.exit_status != 0) {
      whole.exit_status = r.exit_status;
      whole.error = r.error;
      whole.signal = r.signal;
    }
    whole.interrupted = whole.interrupted || r.interrupted;
    add_directions(whole.directions, r.directions);
    add_rate(whole.rate, r.rate);
    if (r.series) {
      result.error = add_series(*whole.series, *r.series, in.file);
      if (!result.error.empty())
        return result;
    }
    merged.runs.push_back({in.file, std::nullopt, r.command, r.origin, r.records, r.directions});
  }
  merged.summed_rates = summed_rates(inputs);
  result.report = std::move(whole);
  return result;
}

}  // namespace kolvane

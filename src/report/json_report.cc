#include "report/json_report.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <utility>

#include "platform/names.h"
#include "report/utf8.h"

namespace kolvane {

namespace {

using Json = nlohmann::ordered_json;

// Sets `key` to the name in UTF-8 and, when it was not valid, `key`_hex to its raw bytes.
void put_name(Json& object, const std::string& key, const std::string& native) {
  bool replaced = false;
  object[key] = valid_utf8(name_to_utf8(native), replaced);
  if (replaced) {
    object[key + "_hex"] = hex_bytes(native);
  }
}

template <typename T>
void put_optional(Json& object, const char* key, const std::optional<T>& value) {
  if (value) {
    object[key] = *value;
  }
}

Json settings_json(const ReportSettings& s) {
  Json j = Json::object();
  if (s.input) {
    put_name(j, "input", *s.input);
  }
  if (s.output) {
    put_name(j, "output", *s.output);
  }
  j["ibs"] = s.ibs;
  j["obs"] = s.obs;
  put_optional(j, "count", s.count);
  j["skip"] = s.skip;
  j["seek"] = s.seek;
  put_optional(j, "iterations", s.iterations);
  j["dio"] = {{"read", s.read_direct}, {"write", s.write_direct}};
  j["conv"] = s.conv;
  j["verbose"] = s.verbose;
  j["report"] = s.report;
  put_optional(j, "progress", s.progress_s);
  put_optional(j, "runtime", s.runtime_s);
  put_optional(j, "seed", s.seed);
  put_optional(j, "distribution", s.distribution);
  put_optional(j, "span", s.span);
  put_optional(j, "mix", s.mix);
  put_optional(j, "iodepth", s.iodepth);
  put_optional(j, "poll", s.poll);
  put_optional(j, "pattern", s.pattern);
  put_optional(j, "verify", s.verify);
  put_optional(j, "workers", s.workers);
  put_optional(j, "rate", s.rate);
  put_optional(j, "arrivals", s.arrivals);
  put_optional(j, "interval", s.interval_ms);
  put_optional(j, "json_buckets", s.json_buckets);
  put_optional(j, "quiet", s.quiet);
  return j;
}

void put_command(Json& report, const std::vector<std::string>& words) {
  Json text = Json::array();
  Json hex = Json::array();
  bool any_replaced = false;
  for (const std::string& word : words) {
    bool replaced = false;
    text.push_back(valid_utf8(name_to_utf8(word), replaced));
    hex.push_back(hex_bytes(word));
    any_replaced = any_replaced || replaced;
  }
  report["command"] = text;
  if (any_replaced) {
    report["command_hex"] = hex;
  }
}

// start_time, host and os after the command, and the processor time the run took.
void put_origin(Json& report, const std::optional<RunOrigin>& origin) {
  if (!origin) {
    return;
  }
  bool replaced = false;
  report["start_time"] = origin->start_time;
  report["host"] = valid_utf8(origin->host, replaced);
  report["os"] = valid_utf8(origin->os, replaced);
  report["cpu"] = {{"user_s", origin->cpu_user_s}, {"system_s", origin->cpu_system_s}};
}

Json rate_json(const std::optional<double>& rate) {
  return rate ? Json(*rate) : Json(nullptr);
}

Json latency_json(const LatencyHistogram& h) {
  Json j = Json::object();
  j["count"] = h.count();
  for (const LatencyPoint& point : kLatencyPoints) {
    if (h.count() == 0) {
      j[point.key] = nullptr;
    } else if (point.percentile < 0.0) {
      j[point.key] = latency_ns(h, point);
    } else {
      j[point.key] = h.percentile_ns(point.percentile);
    }
  }
  Json buckets = Json::array();
  h.for_each_bucket([&](const LatencyBucket& b) {
    buckets.push_back({b.low_ns, b.high_ns, b.count});
  });
  j["buckets"] = buckets;
  return j;
}

Json buckets_json(const std::vector<LatencyBucket>& list) {
  Json buckets = Json::array();
  for (const LatencyBucket& b : list) buckets.push_back({b.low_ns, b.high_ns, b.count});
  return buckets;
}

Json series_figures_json(const SeriesFigures& f) {
  const auto value = [&](const std::optional<std::uint64_t>& ns) {
    return f.ios == 0 || !ns ? Json(nullptr) : Json(*ns);
  };
  Json j = Json::object();
  j["ios"] = f.ios;
  j["bytes"] = f.bytes;
  j["p50_ns"] = value(f.p50_ns);
  j["p99_ns"] = value(f.p99_ns);
  j["max_ns"] = value(f.max_ns);
  if (f.buckets)
    j["buckets"] = buckets_json(*f.buckets);
  return j;
}

Json series_json(const SeriesReport& s) {
  Json intervals = Json::array();
  for (const SeriesInterval& i : s.intervals) {
    Json j = {{"start_ms", i.start_ms}, {"length_ms", i.length_ms}};
    for (const IoDirection d : {IoDirection::read, IoDirection::write}) {
      if (i.of(d))
        j[direction_name(d)] = series_figures_json(*i.of(d));
    }
    intervals.push_back(std::move(j));
  }
  return {{"interval_ms", s.interval_ms}, {"intervals", std::move(intervals)}};
}

Json direction_json(const DirectionFigures& d) {
  Json j = Json::object();
  j["bytes"] = d.bytes;
  j["ios"] = d.ios;
  j["wall_us"] = d.wall_us;
  j["mb_per_s"] = rate_json(megabytes_per_second(d));
  j["iops"] = rate_json(ios_per_second(d));
  if (d.latency) {
    j["latency_ns"] = latency_json(*d.latency);
  }
  if (d.service) {
    j["service_ns"] = latency_json(*d.service);
  }
  return j;
}

Json records_json(const RecordCounts& r) {
  return {{"in", {{"full", r.in_full}, {"partial", r.in_partial}}},
          {"out", {{"full", r.out_full}, {"partial", r.out_partial}}}};
}

Json directions_json(const std::vector<DirectionFigures>& list) {
  Json directions = Json::object();
  for (const DirectionFigures& d : list) {
    directions[direction_name(d.direction)] = direction_json(d);
  }
  return directions;
}

// "runs" and "merged", after everything a document of one run has.
void put_merged(Json& j, const MergeReport& m) {
  Json runs = Json::array();
  const bool by_rank = !m.runs.empty() && m.runs.front().rank.has_value();
  for (const MergedRun& r : m.runs) {
    Json run = Json::object();
    if (r.rank) {
      run["rank"] = r.rank->rank;
    } else {
      bool replaced = false;
      run["file"] = valid_utf8(name_to_utf8(r.file), replaced);
    }
    put_command(run, r.command);
    put_origin(run, r.origin);
    if (r.rank) {
      run["exit_status"] = r.rank->exit_status;
      run["transfer_s"] = r.rank->transfer_s;
      run["straggler"] = r.rank->straggler;
    }
    run["records"] = records_json(r.records);
    run["directions"] = directions_json(r.directions);
    runs.push_back(std::move(run));
  }
  j[by_rank ? "ranks" : "runs"] = std::move(runs);
  Json summed = Json::object();
  for (const SummedRate& s : m.summed_rates) {
    summed[direction_name(s.direction)] = {{"mb_per_s", rate_json(s.mb_per_s)},
                                           {"iops", rate_json(s.iops)}};
  }
  j["merged"] = {
      {"inputs", m.runs.size()},
      {"rates_over",
       "the directions' mb_per_s and iops are the summed bytes and I/Os over the longest run's "
       "wall_us: the rate of the runs as a whole while any ran"},
      {"summed_rates_over",
       "each run's own rate, added up: the rate the runs reach together when they ran at the same "
       "time, which the whole's rate understates when they did not"},
      {"summed_rates", std::move(summed)}};
}

}  // namespace

std::string render_json(const RunReport& report) {
  Json j = Json::object();
  j["format_version"] = RunReport::kFormatVersion;
  j["program"] = "kolvane";
  j["program_version"] = report.program_version;
  put_command(j, report.command);
  put_origin(j, report.origin);
  j["settings"] = settings_json(report.settings);
  j["seed"] = report.seed;
  j["records"] = records_json(report.records);
  j["exit_status"] = report.exit_status;
  if (report.error) {
    bool replaced = false;
    j["error"] = valid_utf8(name_to_utf8(*report.error), replaced);
  }
  j["interrupted"] = report.interrupted;
  if (report.signal)
    j["signal"] = *report.signal;
  j["directions"] = directions_json(report.directions);
  if (!report.workers.empty()) {
    Json workers = Json::array();
    for (const WorkerReport& w : report.workers) {
      workers.push_back({{"seed", w.seed},
                         {"records", records_json(w.records)},
                         {"directions", directions_json(w.directions)}});
    }
    j["workers"] = workers;
  }
  if (!report.copied_beyond.empty()) {
    Json spans = Json::array();
    for (const CopiedBlocks& c : report.copied_beyond) {
      spans.push_back({{"first_block", c.first}, {"blocks", c.blocks}});
    }
    j["copied_beyond_records"] = spans;
  }
  if (report.rate) {
    const RateReport& rate = *report.rate;
    j["rate"] = {{"target_per_s", rate.target_per_s},
                 {"achieved_per_s", rate_json(rate.achieved_per_s)},
                 {"late", rate.late},
                 {"not_issued", rate.not_issued},
                 {"lateness_ns", latency_json(rate.lateness)}};
  }
  if (report.series)
    j["series"] = series_json(*report.series);
  if (report.merged)
    put_merged(j, *report.merged);
  // Every text was made valid above; the handler only keeps the dump from ever throwing.
  return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string utc_timestamp(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(time);
  const auto day = floor<days>(ms);
  const year_month_day date(day);
  const hh_mm_ss clock(ms - day);
  char text[40];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return text;
}

}  // namespace kolvane

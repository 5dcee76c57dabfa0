#include "report/json_read.h"

#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <nlohmann/json.hpp>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace kolvane {

namespace {

using Json = nlohmann::ordered_json;

std::string join(const std::string& at, const std::string& key) {
  return at.empty() ? key : at + "." + key;
}

std::string item(const std::string& at, std::size_t i) {
  return at + "[" + std::to_string(i) + "]";
}

// The bytes of "61ff62"; absent when the text is not pairs of hexadecimal digits.
std::optional<std::string> hex_to_bytes(const std::string& hex) {
  const auto digit = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  if (hex.size() % 2 != 0)
    return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]), low = digit(hex[i + 1]);
    if (high < 0 || low < 0)
      return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

// Reads the model member by member and keeps the first thing wrong with where it is: the value
// path ("settings.ibs") and why. Each read says whether it went well, and the caller stops at
// the first that did not.
class Reader {
 public:
  const std::string& error() const { return error_; }

  bool fail(const std::string& at, const std::string& why) {
    error_ = at + ": " + why;
    return false;
  }

  bool read(const Json& v, const std::string& at, bool& out) {
    if (!v.is_boolean())
      return fail(at, "not true or false");
    out = v.get<bool>();
    return true;
  }
  template <typename T>
  requires std::is_unsigned_v<T>
  bool read(const Json& v, const std::string& at, T& out) {
    if (!v.is_number_unsigned())
      return fail(at, "not a whole number of 0 or more");
    const auto value = v.get<std::uint64_t>();
    if (value > std::numeric_limits<T>::max())
      return fail(at, std::to_string(value) + " is out of range");
    out = static_cast<T>(value);
    return true;
  }
  bool read(const Json& v, const std::string& at, int& out) {
    if (!v.is_number_integer())
      return fail(at, "not a whole number");
    if (v.is_number_unsigned() ? v.get<std::uint64_t>() > std::numeric_limits<int>::max()
                               : v.get<std::int64_t>() < std::numeric_limits<int>::min())
      return fail(at, v.dump() + " is out of range");
    out = v.get<int>();
    return true;
  }
  bool read(const Json& v, const std::string& at, double& out) {
    if (!v.is_number())
      return fail(at, "not a number");
    out = v.get<double>();
    return true;
  }
  bool read(const Json& v, const std::string& at, std::string& out) {
    if (!v.is_string())
      return fail(at, "not a text");
    out = v.get<std::string>();
    return true;
  }
  bool read(const Json& v, const std::string& at, std::vector<std::string>& out) {
    if (!v.is_array())
      return fail(at, "not a list");
    out.assign(v.size(), {});
    for (std::size_t i = 0; i < v.size(); ++i)
      if (!read(v[i], item(at, i), out[i]))
        return false;
    return true;
  }

  // A member that must be there.
  template <typename T>
  bool get(const Json& parent, const std::string& at, const std::string& key, T& out) {
    const auto it = parent.find(key);
    if (it == parent.end())
      return fail(join(at, key), "missing");
    return read(*it, join(at, key), out);
  }
  // A member that may be left out.
  template <typename T>
  bool get(const Json& parent, const std::string& at, const std::string& key,
           std::optional<T>& out) {
    const auto it = parent.find(key);
    if (it == parent.end())
      return true;
    out.emplace();
    return read(*it, join(at, key), *out);
  }

  bool object(const Json& v, const std::string& at) {
    return v.is_object() || fail(at, "not an object");
  }
  // The member, which must be an object; null when it is not (the error told).
  const Json* object_member(const Json& parent, const std::string& at, const std::string& key) {
    const auto it = parent.find(key);
    if (it == parent.end()) {
      fail(join(at, key), "missing");
      return nullptr;
    }
    return object(*it, join(at, key)) ? &*it : nullptr;
  }

  // A name as text and, where the document kept them, its raw bytes under key_hex.
  bool name(const Json& parent, const std::string& at, const std::string& key,
            std::optional<std::string>& out) {
    std::optional<std::string> hex;
    if (!get(parent, at, key, out) || !get(parent, at, key + "_hex", hex))
      return false;
    if (hex) {
      out = hex_to_bytes(*hex);
      if (!out)
        return fail(join(at, key + "_hex"), "not hexadecimal bytes");
    }
    return true;
  }

  bool command(const Json& j, std::vector<std::string>& words) {
    std::optional<std::vector<std::string>> hex;
    if (!get(j, "", "command", words) || !get(j, "", "command_hex", hex))
      return false;
    if (!hex)
      return true;
    if (hex->size() != words.size())
      return fail("command_hex", "not one entry per word of the command");
    for (std::size_t i = 0; i < words.size(); ++i) {
      std::optional<std::string> bytes = hex_to_bytes((*hex)[i]);
      if (!bytes)
        return fail(item("command_hex", i), "not hexadecimal bytes");
      words[i] = std::move(*bytes);
    }
    return true;
  }

  // A duration in seconds, which may have a fraction.
  bool seconds(const Json& parent, const std::string& at, const std::string& key, double& out) {
    const auto it = parent.find(key);
    if (it == parent.end())
      return fail(join(at, key), "missing");
    if (!it->is_number() || !(it->get<double>() >= 0))
      return fail(join(at, key), "not a number of 0 or more");
    out = it->get<double>();
    return true;
  }

  // When and where the run was made: all of it, or none of it in a document from before the
  // program told it.
  bool origin(const Json& j, std::optional<RunOrigin>& out) {
    if (!j.contains("start_time") && !j.contains("host") && !j.contains("os") && !j.contains("cpu"))
      return true;
    RunOrigin& o = out.emplace();
    const Json* cpu = nullptr;
    return get(j, "", "start_time", o.start_time) && get(j, "", "host", o.host) &&
           get(j, "", "os", o.os) && (cpu = object_member(j, "", "cpu")) != nullptr &&
           seconds(*cpu, "cpu", "user_s", o.cpu_user_s) &&
           seconds(*cpu, "cpu", "system_s", o.cpu_system_s);
  }

  bool settings(const Json& j, ReportSettings& s) {
    const std::string at = "settings";
    const Json* o = object_member(j, "", at);
    const Json* dio = o != nullptr ? object_member(*o, at, "dio") : nullptr;
    return dio != nullptr && name(*o, at, "input", s.input) && name(*o, at, "output", s.output) &&
           get(*o, at, "ibs", s.ibs) && get(*o, at, "obs", s.obs) &&
           get(*o, at, "count", s.count) && get(*o, at, "skip", s.skip) &&
           get(*o, at, "seek", s.seek) && get(*o, at, "iterations", s.iterations) &&
           get(*dio, "settings.dio", "read", s.read_direct) &&
           get(*dio, "settings.dio", "write", s.write_direct) && get(*o, at, "conv", s.conv) &&
           get(*o, at, "verbose", s.verbose) && get(*o, at, "report", s.report) &&
           get(*o, at, "progress", s.progress_s) && get(*o, at, "runtime", s.runtime_s) &&
           get(*o, at, "seed", s.seed) && get(*o, at, "distribution", s.distribution) &&
           get(*o, at, "span", s.span) && get(*o, at, "mix", s.mix) &&
           get(*o, at, "iodepth", s.iodepth) && get(*o, at, "poll", s.poll) &&
           get(*o, at, "pattern", s.pattern) && get(*o, at, "verify", s.verify) &&
           get(*o, at, "workers", s.workers) && get(*o, at, "rate", s.rate) &&
           get(*o, at, "arrivals", s.arrivals) && get(*o, at, "interval", s.interval_ms) &&
           get(*o, at, "json_buckets", s.json_buckets) && get(*o, at, "quiet", s.quiet);
  }

  // `parent`: where `j` is in the document ("" for the whole's, "workers[1]" for a worker's).
  bool records(const Json& j, RecordCounts& r, const std::string& parent = "") {
    const std::string at = join(parent, "records");
    const Json* o = object_member(j, parent, "records");
    const Json* in = o != nullptr ? object_member(*o, at, "in") : nullptr;
    const Json* out = in != nullptr ? object_member(*o, at, "out") : nullptr;
    return out != nullptr && get(*in, join(at, "in"), "full", r.in_full) &&
           get(*in, join(at, "in"), "partial", r.in_partial) &&
           get(*out, join(at, "out"), "full", r.out_full) &&
           get(*out, join(at, "out"), "partial", r.out_partial);
  }

  // The "buckets" of `v` as a count per bucket of the histogram, each of which must be one of
  // the histogram's own, and `count` their sum (`count_key` says where it is).
  bool bucket_counts(const Json& v, const std::string& at, const char* count_key,
                     std::uint64_t count, std::vector<std::uint64_t>& counts) {
    const auto buckets = v.find("buckets");
    if (buckets == v.end())
      return fail(join(at, "buckets"), "missing");
    if (!buckets->is_array())
      return fail(join(at, "buckets"), "not a list");
    counts.assign(LatencyHistogram::kBuckets, 0);
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < buckets->size(); ++i) {
      const Json& b = (*buckets)[i];
      const std::string here = item(join(at, "buckets"), i);
      if (!b.is_array() || b.size() != 3)
        return fail(here, "not a list of low, high and count");
      std::uint64_t low = 0, high = 0, n = 0;
      if (!read(b[0], here + "[0]", low) || !read(b[1], here + "[1]", high) ||
          !read(b[2], here + "[2]", n))
        return false;
      const std::size_t index = LatencyHistogram::bucket_index(low);
      if (LatencyHistogram::bucket_low_ns(index) != low ||
          LatencyHistogram::bucket_high_ns(index) != high)
        return fail(here, "[" + std::to_string(low) + ", " + std::to_string(high) +
                              ") is not a bucket of the histogram");
      counts[index] += n;
      total += n;
    }
    if (total != count)
      return fail(join(at, count_key), std::to_string(count) +
                                           " is not the sum of the buckets' counts, " +
                                           std::to_string(total));
    return true;
  }

  // The histogram from its buckets; the sum of the durations from the mean.
  bool latency(const Json& v, const std::string& at, LatencyHistogram& out) {
    std::uint64_t count = 0;
    std::vector<std::uint64_t> counts;
    if (!object(v, at) || !get(v, at, "count", count) ||
        !bucket_counts(v, at, "count", count, counts))
      return false;
    std::uint64_t min = 0, max = 0, sum = 0;
    if (count != 0) {
      const auto mean = v.find("mean");
      if (mean == v.end() || !mean->is_number() || !(mean->get<double>() >= 0))
        return fail(join(at, "mean"), "not a number of 0 or more");
      const double summed = std::round(mean->get<double>() * static_cast<double>(count));
      if (!(summed < 18446744073709551616.0))  // 2^64
        return fail(join(at, "mean"), "the summed durations are out of range");
      sum = static_cast<std::uint64_t>(summed);
      if (!get(v, at, "min", min) || !get(v, at, "max", max))
        return false;
    }
    out = LatencyHistogram::from_counts(
        std::span<const std::uint64_t, LatencyHistogram::kBuckets>(counts.data(), counts.size()),
        sum, min, max);
    return true;
  }

  bool optional_latency(const Json& v, const std::string& at, const char* key,
                        std::optional<LatencyHistogram>& out) {
    const auto found = v.find(key);
    return found == v.end() || latency(*found, join(at, key), out.emplace());
  }

  // rate=: how the run kept to its schedule.
  bool rate(const Json& j, RunReport& r) {
    const auto found = j.find("rate");
    if (found == j.end())
      return true;
    RateReport& rate = r.rate.emplace();
    const Json& v = *found;
    if (!object(v, "rate") || !get(v, "rate", "target_per_s", rate.target_per_s) ||
        !get(v, "rate", "late", rate.late) || !get(v, "rate", "not_issued", rate.not_issued))
      return false;
    // null: no scheduled I/O completed.
    const auto achieved = v.find("achieved_per_s");
    if (achieved == v.end() || !(achieved->is_null() || achieved->is_number()))
      return fail("rate.achieved_per_s", "not a number or null");
    if (achieved->is_number())
      rate.achieved_per_s = achieved->get<double>();
    const auto lateness = v.find("lateness_ns");
    if (lateness == v.end())
      return fail("rate.lateness_ns", "missing");
    return latency(*lateness, "rate.lateness_ns", rate.lateness);
  }

  // A figure that is null where an interval saw no I/O.
  bool nullable(const Json& parent, const std::string& at, const std::string& key,
                std::optional<std::uint64_t>& out) {
    const auto it = parent.find(key);
    if (it == parent.end())
      return fail(join(at, key), "missing");
    out.reset();
    return it->is_null() || read(*it, join(at, key), out.emplace());
  }

  // One direction of one interval. With its buckets, the percentiles are made again from them.
  bool series_figures(const Json& v, const std::string& at, SeriesFigures& f) {
    std::optional<std::uint64_t> max;
    if (!object(v, at) || !get(v, at, "ios", f.ios) || !get(v, at, "bytes", f.bytes) ||
        !nullable(v, at, "p50_ns", f.p50_ns) || !nullable(v, at, "p99_ns", f.p99_ns) ||
        !nullable(v, at, "max_ns", max))
      return false;
    f.max_ns = max.value_or(0);
    if (!v.contains("buckets"))
      return true;
    std::vector<std::uint64_t> counts;
    if (!bucket_counts(v, at, "ios", f.ios, counts))
      return false;
    std::vector<LatencyBucket>& buckets = f.buckets.emplace();
    for (std::size_t i = 0; i < counts.size(); ++i) {
      if (counts[i] != 0)
        buckets.push_back(
            {LatencyHistogram::bucket_low_ns(i), LatencyHistogram::bucket_high_ns(i), counts[i]});
    }
    derive_percentiles(f);
    return true;
  }

  bool series(const Json& j, RunReport& r) {
    const auto o = j.find("series");
    if (o == j.end())
      return true;
    SeriesReport& s = r.series.emplace();
    if (!object(*o, "series") || !get(*o, "series", "interval_ms", s.interval_ms))
      return false;
    const auto list = o->find("intervals");
    if (list == o->end())
      return fail("series.intervals", "missing");
    if (!list->is_array())
      return fail("series.intervals", "not a list");
    for (std::size_t i = 0; i < list->size(); ++i) {
      const Json& v = (*list)[i];
      const std::string at = item("series.intervals", i);
      SeriesInterval& interval = s.intervals.emplace_back();
      if (!object(v, at) || !get(v, at, "start_ms", interval.start_ms) ||
          !get(v, at, "length_ms", interval.length_ms))
        return false;
      for (const IoDirection d : {IoDirection::read, IoDirection::write}) {
        const auto f = v.find(direction_name(d));
        if (f != v.end() &&
            !series_figures(*f, join(at, direction_name(d)), interval.of(d).emplace()))
          return false;
      }
    }
    return true;
  }

  bool directions(const Json& j, std::vector<DirectionFigures>& list,
                  const std::string& parent = "") {
    const Json* o = object_member(j, parent, "directions");
    if (o == nullptr)
      return false;
    for (const auto& [key, v] : o->items()) {
      const std::string at = join(join(parent, "directions"), key);
      const std::optional<IoDirection> d = direction_named(key);
      if (!d)
        return fail(at, "not a direction (read or write)");
      DirectionFigures& f = list.emplace_back();
      f.direction = *d;
      if (!object(v, at) || !get(v, at, "bytes", f.bytes) || !get(v, at, "ios", f.ios) ||
          !get(v, at, "wall_us", f.wall_us))
        return false;
      if (!optional_latency(v, at, "latency_ns", f.latency) ||
          !optional_latency(v, at, "service_ns", f.service))
        return false;
    }
    return true;
  }

  // Each worker's part: the same members as the whole's, under "workers".
  bool workers(const Json& j, RunReport& r) {
    const auto list = j.find("workers");
    if (list == j.end())
      return true;
    if (!list->is_array())
      return fail("workers", "not a list");
    for (std::size_t i = 0; i < list->size(); ++i) {
      const Json& w = (*list)[i];
      const std::string at = item("workers", i);
      WorkerReport& report = r.workers.emplace_back();
      if (!object(w, at) || !get(w, at, "seed", report.seed) || !records(w, report.records, at) ||
          !directions(w, report.directions, at))
        return false;
    }
    return true;
  }

  bool copied_beyond(const Json& j, RunReport& r) {
    const auto list = j.find("copied_beyond_records");
    if (list == j.end())
      return true;
    if (!list->is_array())
      return fail("copied_beyond_records", "not a list");
    for (std::size_t i = 0; i < list->size(); ++i) {
      const std::string at = item("copied_beyond_records", i);
      CopiedBlocks& c = r.copied_beyond.emplace_back();
      if (!object((*list)[i], at) || !get((*list)[i], at, "first_block", c.first) ||
          !get((*list)[i], at, "blocks", c.blocks))
        return false;
    }
    return true;
  }

  bool document(const Json& j, RunReport& r) {
    int version = 0;
    std::string program;
    if (!object(j, "the document") || !get(j, "", "format_version", version))
      return false;
    if (version != RunReport::kFormatVersion)
      return fail("format_version",
                  std::to_string(version) + " is not " + std::to_string(RunReport::kFormatVersion));
    if (!get(j, "", "program", program))
      return false;
    if (program != "kolvane")
      return fail("program", "not kolvane");
    if (!origin(j, r.origin))
      return false;
    return get(j, "", "program_version", r.program_version) && command(j, r.command) &&
           settings(j, r.settings) && get(j, "", "seed", r.seed) && records(j, r.records) &&
           get(j, "", "exit_status", r.exit_status) && get(j, "", "error", r.error) &&
           get(j, "", "interrupted", r.interrupted) && get(j, "", "signal", r.signal) &&
           directions(j, r.directions) && workers(j, r) && copied_beyond(j, r) && rate(j, r) &&
           series(j, r);
  }

 private:
  std::string error_;
};

}  // namespace

JsonReadResult read_json(std::string_view text) {
  JsonReadResult result;
  // nlohmann-json tells what it cannot parse by throwing; that stops here.
  try {
    const Json j = Json::parse(text.begin(), text.end());
    Reader reader;
    RunReport report;
    if (reader.document(j, report)) {
      result.report = std::move(report);
    } else {
      result.error = reader.error();
    }
  } catch (const std::exception& e) {
    result.error = e.what();
  }
  return result;
}

}  // namespace kolvane

#include "cli/scanargs.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cli/parse_integer.h"
#include "cli/usage.h"

namespace kolvane {
namespace {

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (size > 0)
    std::vsnprintf(text.data(), text.size() + 1, fmt, again);
  va_end(again);
  return text;
}

bool equals(const char* a, const char* b) {
  return std::strcmp(a, b) == 0;
}
bool equals(std::string_view a, const char* b) {
  return a == b;
}

std::string dio_rejection(std::int32_t d) {
  return format("Invalid value %d for dio.\n", d) +
         "Valid value for dio is 1, 2 or 3.\n"
         "   1: direct read  + buffered write.\n"
         "   2: direct write + buffered read.\n"
         "   3: direct read  + direct write.\n";
}

// A block size is refused when it is 0 or does not fit the setting.
bool bad_blocksize(std::uint64_t n, const PlatformProfile& profile) {
  return n == 0 || n > profile.blocksize_max;
}

// A value the setting that keeps it cannot hold is refused, never cut to fit.
void check_width(std::uint64_t n, std::uint64_t max, int& invalid) {
  if (n > max)
    invalid = 1;
}

// Stores one numeric keyword. Returns false with the rejection set when the name is unknown or
// a well-formed dio value is not one of 1, 2, 3; `invalid` may be raised for a value that does
// not fit its setting.
bool store_number(std::string_view name, std::uint64_t n, int& invalid, ScanResult& r,
                  const PlatformProfile& profile) {
  Settings& s = r.settings;
  if (equals(name, "dio")) {
    check_width(n, INT32_MAX, invalid);
    if (invalid)
      return true;
    const auto d = static_cast<std::int32_t>(n);
    if (d < 1 || d > 3) {
      r.rejection = dio_rejection(d);
      return false;
    }
    s.r_dio = (d & 1) ? 1 : 0;
    s.w_dio = (d & 2) ? 1 : 0;
  } else if (equals(name, "ibs")) {
    s.input_blocksize = n;
    if (bad_blocksize(n, profile))
      invalid = 1;
  } else if (equals(name, "obs")) {
    s.output_blocksize = n;
    if (bad_blocksize(n, profile))
      invalid = 1;
  } else if (equals(name, "bs")) {
    s.input_blocksize = n;
    s.output_blocksize = n;
    if (bad_blocksize(n, profile))
      invalid = 1;
  } else if (equals(name, "skip")) {
    s.skip_records = n;
  } else if (equals(name, "seek")) {
    s.seek_records = n;
  } else if (equals(name, "count")) {
    s.max_records = n;
    r.count_given = true;
  } else if (equals(name, "iterations")) {
    check_width(n, UINT32_MAX, invalid);
    s.num_iterations = static_cast<std::uint32_t>(n);
    r.iterations_given = true;
  } else if (equals(name, "verbose")) {
    check_width(n, UINT32_MAX, invalid);
    s.verboseflag = static_cast<std::uint32_t>(n);
  } else {
    return false;
  }
  return true;
}

// "notrunc", "fsync" and "fdatasync", alone or in a comma-separated list; false on any other.
bool add_conv_words(std::string_view list, unsigned& conv) {
  for (;;) {
    const std::size_t comma = list.find(',');
    const std::string_view word = list.substr(0, comma);
    if (word == "notrunc") {
      conv |= kConvNotrunc;
    } else if (word == "fsync") {
      conv |= kConvFsync;
    } else if (word == "fdatasync") {
      conv |= kConvFdatasync;
    } else {
      return false;
    }
    if (comma == std::string_view::npos)
      return true;
    list.remove_prefix(comma + 1);
  }
}

// A time in whole seconds: digits only, no unit letters and no products.
bool parse_seconds(const char* text, std::uint64_t& n) {
  if (*text == '\0')
    return false;
  n = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9')
      return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(*p - '0');
    if (n > (UINT64_MAX - digit) / 10)
      return false;
    n = n * 10 + digit;
  }
  return true;
}

enum class WordScan { not_mine, accepted, malformed, out_of_range };

// "uniform", or "zipf:THETA" (THETA > 0), "pareto:H" (0 < H < 0.5), "normal:P" (0 < P <= 100),
// the number in the C locale's decimal form, nothing after it; false for anything else.
bool scan_distribution(const char* value, Settings& s) {
  if (equals(value, "uniform")) {
    s.offset_law = OffsetLaw::uniform;
    return true;
  }
  const struct {
    const char* prefix;
    OffsetLaw law;
    double low, high;  // low < parameter, and parameter < high (zipf) or <= high (normal)
  } laws[] = {{"zipf:", OffsetLaw::zipf, 0, 1e6},
              {"pareto:", OffsetLaw::pareto, 0, 0.5},
              {"normal:", OffsetLaw::normal, 0, 100}};
  for (const auto& law : laws) {
    const std::size_t length = std::strlen(law.prefix);
    if (std::strncmp(value, law.prefix, length) != 0)
      continue;
    const char* number = value + length;
    // Digits and one point only: no sign, exponent, hexadecimal or "inf" to read as a number.
    if (*number == '\0' || std::strspn(number, "0123456789.") != std::strlen(number))
      return false;
    char* end = nullptr;
    const double p = std::strtod(number, &end);
    const bool inside = law.law == OffsetLaw::normal ? p <= law.high : p < law.high;
    if (*end != '\0' || !(p > law.low) || !inside)
      return false;
    s.offset_law = law.law;
    s.law_parameter = p;
    return true;
  }
  return false;
}

// The measuring words. A value that is not a number is malformed; a number the word does not
// take (report=2, progress=0, seed above 32 bits, iodepth=0, workers=0) is out of range.
WordScan scan_measuring_word(std::string_view name, const char* value, Settings& s) {
  const bool time = equals(name, "progress") || equals(name, "runtime");
  const bool number = equals(name, "report") || equals(name, "seed") || equals(name, "iodepth") ||
                      equals(name, "poll") || equals(name, "workers") || equals(name, "span") ||
                      equals(name, "mix") || equals(name, "rate") || equals(name, "interval") ||
                      equals(name, "json-buckets") || equals(name, "quiet");
  if (equals(name, "json") || equals(name, "plot")) {
    if (*value == '\0')
      return WordScan::out_of_range;
    (equals(name, "json") ? s.json_file : s.plot_file) = value;
    return WordScan::accepted;
  }
  if (equals(name, "arrivals")) {
    if (!equals(value, "even") && !equals(value, "poisson"))
      return WordScan::out_of_range;
    s.poisson_arrivals = equals(value, "poisson");
    return WordScan::accepted;
  }
  if (equals(name, "distribution")) {
    if (!scan_distribution(value, s))
      return WordScan::out_of_range;
    s.distribution = value;
    return WordScan::accepted;
  }
  if (!time && !number)
    return WordScan::not_mine;
  std::uint64_t n = 0;
  int invalid = 0;
  if (time ? !parse_seconds(value, n) : (n = parse_integer(value, invalid, 64), invalid != 0))
    return WordScan::malformed;
  if (equals(name, "report") || equals(name, "json-buckets") || equals(name, "quiet")) {
    if (n > 1)
      return WordScan::out_of_range;
    (equals(name, "report") ? s.report : equals(name, "quiet") ? s.quiet : s.json_buckets) = n == 1;
  } else if (equals(name, "rate")) {
    if (n == 0 || n > kMaxRate)
      return WordScan::out_of_range;
    s.rate = n;
  } else if (equals(name, "interval")) {
    if (n < kMinIntervalMs || n > kMaxIntervalMs)
      return WordScan::out_of_range;
    s.interval_ms = static_cast<std::uint32_t>(n);
    s.interval_given = true;
  } else if (equals(name, "iodepth")) {
    if (n == 0 || n > kMaxIoDepth)
      return WordScan::out_of_range;
    s.io_depth = static_cast<std::uint32_t>(n);
  } else if (equals(name, "mix")) {
    if (n > 100)
      return WordScan::out_of_range;
    s.mix_given = true;
    s.mix_percent = static_cast<std::uint32_t>(n);
  } else if (equals(name, "span")) {
    if (n == 0)
      return WordScan::out_of_range;
    s.span_bytes = n;
  } else if (equals(name, "workers")) {
    if (n == 0 || n > kMaxWorkers)
      return WordScan::out_of_range;
    s.workers = static_cast<std::uint32_t>(n);
  } else if (equals(name, "poll")) {
    if (n != 1 && n != 2)
      return WordScan::out_of_range;
    s.poll = static_cast<std::uint32_t>(n);
  } else if (equals(name, "seed")) {
    if (n > UINT32_MAX)
      return WordScan::out_of_range;
    s.seed_given = true;
    s.seed = static_cast<std::uint32_t>(n);
  } else {
    if (n == 0 || n > UINT32_MAX)
      return WordScan::out_of_range;
    (equals(name, "progress") ? s.progress_seconds : s.runtime_seconds) =
        static_cast<std::uint32_t>(n);
  }
  return WordScan::accepted;
}

// The checking words: pattern=random|zero and verify=0|1|2.
WordScan scan_checking_word(std::string_view name, const char* value, Settings& s) {
  if (equals(name, "pattern")) {
    if (!equals(value, "random") && !equals(value, "zero"))
      return WordScan::out_of_range;
    s.stamped = equals(value, "random");
    return WordScan::accepted;
  }
  if (!equals(name, "verify"))
    return WordScan::not_mine;
  int invalid = 0;
  const std::uint64_t n = parse_integer(value, invalid, 64);
  if (invalid != 0)
    return WordScan::malformed;
  if (n > kVerifyCheckOnly)
    return WordScan::out_of_range;
  s.verify = static_cast<std::uint32_t>(n);
  return WordScan::accepted;
}

// Examines one word, reading it only: the words stay as typed. The name is the text before the
// first "=", the value the rest of the word after it (the settings point at that tail).
bool scan_word(const char* word, ScanResult& r, const PlatformProfile& profile) {
  const char* equals_sign = std::strchr(word, '=');
  if (equals_sign == nullptr) {
    r.rejection = format("unrecognized option %s\n", word);
    return false;
  }
  const std::string_view name(word, static_cast<std::size_t>(equals_sign - word));
  const char* value = equals_sign + 1;
  Settings& s = r.settings;
  if (equals(name, "if")) {
    const bool zero = equals(value, "/dev/zero") || equals(value, "\\dev\\zero");
    s.input_file = zero ? kZeroSource : value;
    return true;
  }
  if (equals(name, "of")) {
    const bool null = equals(value, "/dev/null") || equals(value, "\\dev\\null");
    s.output_file = null ? kNullSink : value;
    return true;
  }
  if (equals(name, "conv")) {
    if (add_conv_words(value, s.conv))
      return true;
    r.rejection = format("unrecognized option value %s\n", word);
    return false;
  }
  WordScan scanned = scan_checking_word(name, value, s);
  if (scanned == WordScan::not_mine)
    scanned = scan_measuring_word(name, value, s);
  switch (scanned) {
    case WordScan::not_mine:
      break;
    case WordScan::accepted:
      return true;
    case WordScan::malformed:
      r.rejection = format("invalid number %s\n", value);
      return false;
    case WordScan::out_of_range:
      r.rejection = format("unrecognized option value %s\n", word);
      return false;
  }
  // The value is evaluated before the name is looked up; an unknown name wins over a bad value.
  int invalid = 0;
  const std::uint64_t n = parse_integer(value, invalid, profile.number_bits);
  if (!store_number(name, n, invalid, r, profile)) {
    if (r.rejection.empty())
      r.rejection = format("unrecognized option %s\n", word);
    return false;
  }
  if (invalid) {
    r.rejection = format("invalid number %s\n", value);
    return false;
  }
  return true;
}

}  // namespace

ScanResult scan_words(int argc, const char* const* argv, const PlatformProfile& profile) {
  ScanResult r;
  for (int i = 1; i <= argc - 1; ++i) {
    if (!scan_word(argv[i], r, profile))
      return r;
  }
  if (r.settings.input_blocksize == 0)
    r.settings.input_blocksize = kDefaultBlocksize;
  if (r.settings.output_blocksize == 0)
    r.settings.output_blocksize = kDefaultBlocksize;
  r.accepted = true;
  return r;
}

void scanargs(int argc, const char* const* argv, Settings& settings, bool& count_given,
              bool& iterations_given) {
  ScanResult r = scan_words(argc, argv, this_platform());
  if (!r.accepted) {
    std::fputs(r.rejection.c_str(), stderr);
    usage(1);
  }
  settings = r.settings;
  count_given = count_given || r.count_given;
  iterations_given = iterations_given || r.iterations_given;
}

}  // namespace kolvane

// The run settings: filled once from the argument words, read-only for the rest of the run.
#pragma once

#include <cstdint>
#include <cstring>

namespace kolvane {

// The stored words that mark the two special files (if=/dev/zero, of=/dev/null).
inline constexpr const char* kZeroSource = "zero";
inline constexpr const char* kNullSink = "nul";
// conv= words: they accumulate over several conv= words and comma-separated lists.
inline constexpr unsigned kConvNotrunc = 1;
inline constexpr unsigned kConvFsync = 2;      // sync data and metadata before the end
inline constexpr unsigned kConvFdatasync = 4;  // sync the data before the end
inline constexpr std::uint64_t kNoCount = UINT64_MAX;
inline constexpr std::uint64_t kDefaultBlocksize = 512;
// verify= values: off, read each block back after writing it, or only read and check.
inline constexpr std::uint32_t kVerifyOff = 0;
inline constexpr std::uint32_t kVerifyReadBack = 1;
inline constexpr std::uint32_t kVerifyCheckOnly = 2;
// The deepest queue iodepth= may ask for.
inline constexpr std::uint32_t kMaxIoDepth = 4096;
// The most threads workers= may ask for.
inline constexpr std::uint32_t kMaxWorkers = 256;
// The fastest schedule rate= may ask for, in I/Os per second.
inline constexpr std::uint64_t kMaxRate = 1000000000;
// interval=: the bounds and default of the series' interval, in milliseconds.
inline constexpr std::uint32_t kMinIntervalMs = 10;
inline constexpr std::uint32_t kMaxIntervalMs = 3600000;
inline constexpr std::uint32_t kDefaultIntervalMs = 1000;

// How random offsets are drawn: the digit-wise draw of the C library's rand() sequence (the
// default), or from the program's own generator: uniformly, or by a law of popularity.
enum class OffsetLaw : std::uint8_t { digitwise, uniform, zipf, pareto, normal };

struct Settings {
  // Text settings point into the argument words (or at the fixed words above); absent: nullptr.
  const char* input_file = nullptr;
  const char* output_file = nullptr;
  unsigned conv = 0;
  // Never 0 once the words are scanned. The Windows program holds at most 32 bits here; the
  // scanner refuses anything wider.
  std::uint64_t input_blocksize = 0;
  std::uint64_t output_blocksize = 0;
  std::uint64_t skip_records = 0;
  std::uint64_t seek_records = 0;
  std::uint64_t max_records = kNoCount;
  std::uint32_t num_iterations = 1;
  std::uint32_t verboseflag = 0;
  std::uint32_t r_dio = 0;
  std::uint32_t w_dio = 0;

  // Measuring and repeating: each is off unless its word is given.
  bool report = false;                 // report=1: the summary after the records lines
  const char* json_file = nullptr;     // json=FILE; "-" is standard error
  const char* plot_file = nullptr;     // plot=FILE: a picture of the run in SVG
  std::uint32_t progress_seconds = 0;  // progress=N; 0: no progress lines
  bool seed_given = false;             // seed=N: offsets drawn from srand(N)
  std::uint32_t seed = 0;
  OffsetLaw offset_law = OffsetLaw::digitwise;  // distribution=
  double law_parameter = 0;                     // zipf's THETA, pareto's H, normal's P
  const char* distribution = nullptr;           // the distribution= value as given
  std::uint64_t span_bytes = 0;                 // span=BYTES; 0: each side's whole range
  std::uint32_t runtime_seconds = 0;            // runtime=S; 0: no time limit

  // Checking what is written: each off unless its word is given.
  bool stamped = false;               // pattern=random: the zero source writes stamped blocks
  std::uint32_t verify = kVerifyOff;  // verify=1 / verify=2

  // iodepth=N: up to N I/Os in flight; 1 is the synchronous copy.
  std::uint32_t io_depth = 1;
  // poll=1: reap by spinning, never sleeping while I/Os are in flight; poll=2: the same with a
  // kernel thread that submits. 0: spin briefly before each sleeping wait.
  std::uint32_t poll = 0;

  // workers=N: N threads share the run's iterations or cut its single copy into N ranges.
  std::uint32_t workers = 1;

  // mix=R: each I/O reads the target (the output) with a chance of R %, else writes it.
  bool mix_given = false;
  std::uint32_t mix_percent = 0;

  // rate=N: the scheduled I/Os are due at N per second; 0: flat out. arrivals=poisson draws the
  // gaps between due times from the seed instead of keeping them even.
  std::uint64_t rate = 0;
  bool poisson_arrivals = false;
  // interval=MS: the length of each interval of the latency series; interval_given: the word
  // was given (it asks for the series on its own).
  std::uint32_t interval_ms = kDefaultIntervalMs;
  bool interval_given = false;
  bool json_buckets = false;  // json-buckets=1: json= carries each interval's buckets
  bool quiet = false;         // quiet=1: nothing printed but what is asked for
};

inline bool is_notrunc(const Settings& s) {
  return (s.conv & kConvNotrunc) != 0;
}
inline bool syncs_output(const Settings& s) {
  return (s.conv & (kConvFsync | kConvFdatasync)) != 0;
}

}  // namespace kolvane

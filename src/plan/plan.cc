#include "plan/plan.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <new>
#include <string>
#include <utility>

#include "plan/draw.h"
#include "platform/signals.h"
#include "run/console.h"
#include "run/exit_status.h"
#include "run/failures.h"

namespace kolvane {
namespace {

// The plan's draw looks for a stop request once every this many + 1 entries.
constexpr std::uint32_t kStopCheckMask = 4095;
constexpr std::uint64_t kLargestOffset = INT64_MAX;
const char* const kInputTooSmall =
    "error: the input file size is too small for the specified count, blocksize and skip values\n";
const char* const kOutputTooSmall =
    "error: the output file size is too small for the specified count, blocksize and seek "
    "values\n";

// blocks × block as a byte count, or false when it lies beyond the largest offset a file can
// have (the digit arithmetic would wrap there to a range that looks valid).
bool bytes_of(std::uint64_t blocks, std::uint64_t block, std::uint64_t& bytes) {
  if (blocks != 0 && block > kLargestOffset / blocks)
    return false;
  bytes = blocks * block;
  return true;
}

// A span= refusal (status 1): "span=N" and the rest of the message.
Failure span_refusal(std::uint64_t span, const std::string& rest) {
  return failure_text(kExitBadArgument, "span=" + std::to_string(span) + rest);
}

// What one side of the copy asks of its file: one entry's span of count × block bytes after a
// fixed offset of skip × ibs (seek × obs).
struct Side {
  FileHandle file;
  const char* name;  // as the size-query message shows it
  std::uint64_t count, span_block, offset_blocks, offset_block;
  const char* too_small;
  // span=: the draws keep within this many bytes after the offset; 0: the whole file. The word
  // that sets the offset ("skip" or "seek"), for the message when the span does not fit.
  std::uint64_t window = 0;
  const char* offset_word = "skip";
};

// How much a side is measured.
enum class Need {
  offset,       // nothing: the offset must only be one a file can have
  size,         // the size, for a copy bounded by it
  span,         // offset + span bytes
  random_range  // with iterations: offset + span + 2 bytes, and the range the draws fall in
};

// What calibrate_side found.
struct Measured {
  std::uint64_t offset = 0;
  std::int64_t size = 0;
  OffsetDigits range{};
  OffsetDigits fixed{};
};

// The one calibration of both sides: none, or the failure to query the size (4) or of a file
// too small (5).
Failure calibrate_side(const Side& side, Need need, Measured& m) {
  const auto too_small = [&side] { return failure_text(kExitTooSmall, side.too_small); };
  if (!bytes_of(side.offset_blocks, side.offset_block, m.offset))
    return too_small();
  std::uint64_t span = 0;
  const bool spans = need == Need::span || need == Need::random_range;
  if (spans &&
      (!bytes_of(side.count, side.span_block, span) || span + 2 > kLargestOffset - m.offset))
    return too_small();
  if (need == Need::offset)
    return {};
  if (!file_size(side.file, m.size))
    return size_failure(side.name);
  if (need == Need::size)
    return {};
  if (need == Need::span)
    return m.offset + span > static_cast<std::uint64_t>(m.size) ? too_small() : Failure{};
  if (side.window != 0) {
    if (side.window > static_cast<std::uint64_t>(m.size) ||
        m.offset > static_cast<std::uint64_t>(m.size) - side.window)
      return span_refusal(side.window, " does not fit in '" + std::string(side.name) +
                                           "' after its " + side.offset_word + "=\n");
    // The draws' range as if the file ended 2 bytes past the span (as an entry at the file's
    // end must leave), or at its own end when that comes first.
    m.size = std::min(m.size, static_cast<std::int64_t>(m.offset + side.window + 2));
  }
  // range := size - (span + 1) - fixed, with fixed := offset + 1, in digits.
  m.range = split_digits(m.size);
  subcomponents(m.range, split_digits(static_cast<std::int64_t>(span + 1)));
  m.fixed = split_digits(static_cast<std::int64_t>(m.offset + 1));
  subcomponents(m.range, m.fixed);
  return m.range[3] > kNegativeDigit ? too_small() : Failure{};
}

bool measurable(FileHandle file) {
  return file_kind(file) != FileKind::stream;
}

void print_offset(const char* label, std::uint64_t offset, const PlatformProfile& profile) {
  if (profile.offset_style == OffsetStyle::halves) {
    say(Channel::err, "%s: low %" PRIu32 "   high %" PRId32 "\n", label,
        static_cast<std::uint32_t>(offset),
        static_cast<std::int32_t>(static_cast<std::uint32_t>(offset >> 32)));
  } else {
    say(Channel::err, "%s: %" PRId64 "\n", label, static_cast<std::int64_t>(offset));
  }
}

}  // namespace

Failure calibrate_input(RunFiles& files, Calibration& calibration, const RunShape& shape,
                        const Settings& s, const PlatformProfile& profile) {
  // The zero source is never read, so a skip means nothing there.
  if (shape.ends.zero_source())
    return {};
  const FileHandle in = files.input.get();
  const bool positionable = measurable(in);
  // Iterations draw within the size, as they always have; otherwise only a file or device is
  // measured: for count blocks after the skip, or, without a count, for the size to copy up to.
  // A pipe or character device is read for count blocks or to its end.
  const Need need = shape.repeats()     ? Need::random_range
                    : !positionable     ? Need::offset
                    : shape.count_given ? Need::span
                                        : Need::size;
  const Side side{in,
                  reported_name(s.input_file, "standard input", profile),
                  shape.count_given ? s.max_records : 0,
                  s.input_blocksize,
                  s.skip_records,
                  s.input_blocksize,
                  kInputTooSmall,
                  shape.repeats() ? s.span_bytes : 0,
                  "skip"};
  Measured m;
  Failure failure = calibrate_side(side, need, m);
  if (failure.failed())
    return failure;
  calibration.input_range = m.range;
  calibration.input_fixed = m.fixed;
  // With a count the input is positioned (and reported) as it always was; without one only
  // when a skip asks for it. What cannot be positioned has the skipped bytes read instead.
  files.apply_skip = shape.count_given || s.skip_records != 0;
  files.skip_by_reading = !positionable;
  // A file also written by the run (if=f >> f) would otherwise grow ahead of its own copy.
  if (need == Need::size && m.size > 0) {
    const auto size = static_cast<std::uint64_t>(m.size);
    files.input_limit = m.offset < size ? size - m.offset : 0;
  }
  return {};
}

Failure check_span_words(const RunShape& shape, const Settings& s) {
  const std::uint64_t span = s.span_bytes;
  if (span == 0)
    return {};
  if (!shape.repeats())
    return span_refusal(span, " needs iterations= or runtime=: a single copy draws no offsets\n");
  if (!shape.ends.zero_source() && span % s.input_blocksize != 0)
    return span_refusal(span, " is not a whole number of input blocks (ibs=" +
                                  std::to_string(s.input_blocksize) + ")\n");
  if (!shape.ends.null_sink() && span % s.output_blocksize != 0)
    return span_refusal(span, " is not a whole number of output blocks (obs=" +
                                  std::to_string(s.output_blocksize) + ")\n");
  return {};
}

Failure check_seek_offset(const Endpoints& ends, const Settings& s) {
  std::uint64_t offset = 0;
  if (ends.null_sink() || bytes_of(s.seek_records, s.output_blocksize, offset))
    return {};
  return failure_text(kExitTooSmall, kOutputTooSmall);
}

Failure calibrate_output(RunFiles& files, Calibration& calibration, const RunShape& shape,
                         const Settings& s, const PlatformProfile& profile) {
  // The null sink discards, so a seek means nothing there.
  if (shape.ends.null_sink())
    return {};
  const FileHandle out = files.output.get();
  // Iterations into a pre-existing output draw within its size. An entry writes count x ibs
  // bytes (in obs blocks), so its span is count blocks of the larger size.
  const bool drawn = files.output_preexists && shape.repeats();
  const Side side{out,
                  reported_name(s.output_file, "standard output", profile),
                  s.max_records,
                  std::max(s.input_blocksize, s.output_blocksize),
                  s.seek_records,
                  s.output_blocksize,
                  kOutputTooSmall,
                  drawn ? s.span_bytes : 0,
                  "seek"};
  Measured m;
  Failure failure = calibrate_side(side, drawn ? Need::random_range : Need::offset, m);
  if (failure.failed())
    return failure;
  calibration.output_range = m.range;
  calibration.output_fixed = m.fixed;
  // A pre-existing file is positioned in every entry, as it always was. Any other output only
  // when a seek asks for it, and then before the first entry only: the later ones follow on.
  const bool every_entry = drawn || (files.output_preexists && measurable(out));
  files.apply_seek = every_entry || s.seek_records != 0;
  files.seek_first_entry_only = files.apply_seek && !every_entry && shape.repeats();
  return {};
}

std::optional<Plan> build_plan(const RunFiles& files, const Calibration& calibration,
                               const RunShape& shape, const Settings& settings,
                               RandomSource& random) {
  Plan plan;
  plan.calibration = calibration;
  // Unlimited iterations draw as they go: no entries.
  if (shape.unlimited)
    return plan;
  const std::uint32_t n = shape.iterations_given ? settings.num_iterations : 1;
  if (n > 0) {
    plan.entries.reset(new (std::nothrow) PlanEntry[n]);
    if (!plan.entries)
      return std::nullopt;
  }
  plan.size = n;
  const std::uint64_t ibs = settings.input_blocksize;
  const std::uint64_t obs = settings.output_blocksize;
  if (!shape.iterations_given) {
    // A single entry at exactly the fixed offsets.
    PlanEntry& e = plan.entries[0];
    e.skip_offset = files.apply_skip ? settings.skip_records * ibs : 0;
    e.seek_offset = files.apply_seek ? settings.seek_records * obs : 0;
    return plan;
  }
  EntryDraw draw(files, plan.calibration, settings, shape.seed, shape.run_seed, random);
  PlanEntry* const entries = plan.entries.get();
  // Drawn in order j = 0, 1, ...; the entry drawn last runs first. A stop requested meanwhile
  // ends the draw: the transfer then runs no entry at all.
  for (std::uint32_t j = 0; j < n; ++j) {
    if ((j & kStopCheckMask) == 0 && stop_requested() != StopRequest::none) {
      plan.release();
      return plan;
    }
    entries[n - 1 - j] = draw.next();
  }
  if (files.seek_first_entry_only && n > 0)
    entries[0].seek_offset = settings.seek_records * obs;
  return plan;
}

void report_entry(const RunFiles& files, const RunShape& shape, const Settings& settings,
                  const PlanEntry& entry, std::uint64_t number, const PlatformProfile& profile) {
  if (settings.verboseflag == 0 || (!files.apply_skip && !files.apply_seek))
    return;
  const char* what = files.apply_skip ? (files.apply_seek ? "skip and seek" : "skip") : "seek";
  if (shape.repeats()) {
    say(Channel::err, "\nRunning iteration %" PRIu64 " with %s (in bytes) as follows:\n", number,
        what);
  } else {
    say(Channel::err, "\nRunning with %s (in bytes) as follows:\n", what);
  }
  if (files.apply_skip)
    print_offset("skip", entry.skip_offset, profile);
  if (files.apply_seek)
    print_offset("seek", entry.seek_offset, profile);
}

}  // namespace kolvane

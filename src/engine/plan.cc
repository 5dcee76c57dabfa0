#include "engine/plan.h"

#include <cinttypes>
#include <cstdio>
#include <new>

#include "engine/console.h"
#include "engine/exit_status.h"

namespace kolvane {
namespace {

constexpr std::uint64_t kLargestOffset = INT64_MAX;

// count × block + 1, skip × block + 1 and their sum must stay below 2^63: beyond that no file
// can hold the run, and the digit arithmetic would wrap to a range that looks valid.
bool beyond_digit_model(std::uint64_t count, std::uint64_t skip, std::uint64_t block) {
  const auto span_fits = [block](std::uint64_t blocks) {
    return blocks == 0 || block <= (kLargestOffset - 1) / blocks;
  };
  if (!span_fits(count) || !span_fits(skip))
    return true;
  const std::uint64_t copied = count * block + 1;
  const std::uint64_t fixed = skip * block + 1;
  return copied > kLargestOffset - fixed;
}

// range := size - (count × block + 1) - fixed, with fixed := skip × block + 1. True when the
// file is too small for them.
bool measure(std::int64_t size, std::uint64_t count, std::uint64_t skip, std::uint64_t block,
             OffsetDigits& range, OffsetDigits& fixed) {
  if (beyond_digit_model(count, skip, block))
    return true;
  range = split_digits(size);
  subcomponents(range, split_digits(static_cast<std::int64_t>(count * block + 1)));
  fixed = split_digits(static_cast<std::int64_t>(skip * block + 1));
  subcomponents(range, fixed);
  return range[3] > kNegativeDigit;
}

// The indices of the non-zero digits of a range, ascending.
struct Positions {
  std::uint32_t index[4] = {};
  std::int32_t count = 0;
};

Positions nonzero_digits(const OffsetDigits& range) {
  Positions p;
  for (std::uint32_t i = 0; i < 4; ++i) {
    if (range[i] != 0)
      p.index[p.count++] = i;
  }
  return p;
}

// A random value strictly below the range: a pivot among its non-zero digits, free digits
// below it, the pivot digit below the range's, and the digits above it at most the range's.
OffsetDigits draw_below(const OffsetDigits& range, const Positions& positions) {
  OffsetDigits d{};
  if (positions.count == 0)
    return d;
  const std::uint32_t pivot = positions.index[random_source() % positions.count];
  for (std::uint32_t i = 0; i < 4; ++i) {
    if (i < pivot) {
      d[i] = generaterandomvalue(65536);
    } else if (i == pivot) {
      d[i] = generaterandomvalue(range[i]);
    } else {
      d[i] = generaterandomvalue(range[i] + 1);
    }
  }
  return d;
}

// Rounds offsets down to whole blocks; a power-of-two block (the usual case) needs only a mask
// instead of a 64-bit division per offset.
class BlockRounding {
 public:
  explicit BlockRounding(std::uint64_t block)
      : block_(block), mask_((block & (block - 1)) == 0 ? ~(block - 1) : 0) {}
  std::uint64_t operator()(std::uint64_t value) const {
    return mask_ != 0 ? value & mask_ : value - value % block_;
  }

 private:
  std::uint64_t block_;
  std::uint64_t mask_;
};

// One side's offsets in a plan with iterations. Only a positioned side with a non-zero range
// draws; any other side makes no rand call and has the same offset in every entry, worked out
// once here.
class OffsetSide {
 public:
  OffsetSide(bool applied, const OffsetDigits& range, const OffsetDigits& fixed,
             std::uint64_t block)
      : range_(range),
        fixed_(fixed),
        positions_(applied ? nonzero_digits(range) : Positions{}),
        rounding_(block),
        constant_(
            positions_.count != 0 ? 0 : rounding_(join_digits(applied ? fixed : OffsetDigits{}))) {}

  std::uint64_t next() const {
    if (positions_.count == 0)
      return constant_;
    OffsetDigits d = draw_below(range_, positions_);
    addcomponents(d, fixed_);
    return rounding_(join_digits(d));
  }

 private:
  const OffsetDigits& range_;
  const OffsetDigits& fixed_;
  const Positions positions_;
  const BlockRounding rounding_;
  const std::uint64_t constant_;
};

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

int calibrate_input(RunState& state, Settings& settings, const PlatformProfile& profile) {
  if (is_zero_source(settings))
    return kExitSuccess;
  if (state.count_given)
    state.apply_skip = true;
  std::int64_t size = 0;
  if (!file_size(state.input.get(), size)) {
    say(Channel::err, "error getting the size of '%s': ",
                 reported_name(settings.input_file, "standard input", profile));
    report_system_error();
    return kExitSizeQuery;
  }
  if (!state.count_given) {
    settings.max_records = static_cast<std::uint64_t>(size) / settings.input_blocksize;
    return kExitSuccess;
  }
  Calibration& c = state.calibration;
  if (measure(size, settings.max_records, settings.skip_records, settings.input_blocksize,
              c.input_range, c.input_fixed)) {
    say(Channel::err,
                 "error: the input file size is too small for the specified count, blocksize "
                 "and skip values\n");
    return kExitTooSmall;
  }
  return kExitSuccess;
}

int calibrate_output(RunState& state, const Settings& settings, const PlatformProfile& profile) {
  if (!state.output_preexists || is_null_sink(settings))
    return kExitSuccess;
  state.apply_seek = true;
  std::int64_t size = 0;
  if (!file_size(state.output.get(), size)) {
    say(Channel::err, "error getting the size of '%s': ",
                 reported_name(settings.output_file, "standard output", profile));
    report_system_error();
    return kExitSizeQuery;
  }
  Calibration& c = state.calibration;
  if (measure(size, settings.max_records, settings.seek_records, settings.output_blocksize,
              c.output_range, c.output_fixed)) {
    say(Channel::err,
                 "error: the output file size is too small for the specified count, blocksize "
                 "and seek values\n");
    return kExitTooSmall;
  }
  return kExitSuccess;
}

int build_plan(RunState& state, const Settings& settings) {
  const std::uint32_t n = state.iterations_given ? settings.num_iterations : 1;
  Plan& plan = state.plan;
  if (n > 0) {
    plan.entries.reset(new (std::nothrow) PlanEntry[n]);
    if (!plan.entries) {
      say(Channel::err, "Error allocating memory for the iteration plan\n");
      return kExitNoMemory;
    }
  }
  plan.size = n;
  const std::uint64_t ibs = settings.input_blocksize;
  const std::uint64_t obs = settings.output_blocksize;
  if (!state.iterations_given) {
    // A single entry at exactly the fixed offsets.
    PlanEntry& e = plan.entries[0];
    e.skip_offset = state.apply_skip ? settings.skip_records * ibs : 0;
    e.seek_offset = state.apply_seek ? settings.seek_records * obs : 0;
    return kExitSuccess;
  }
  const Calibration& c = state.calibration;
  const OffsetSide skip(state.apply_skip, c.input_range, c.input_fixed, ibs);
  const OffsetSide seek(state.apply_seek, c.output_range, c.output_fixed, obs);
  PlanEntry* const entries = plan.entries.get();
  // Drawn in order j = 0, 1, ...; the entry drawn last runs first. Within an entry the input's
  // draw comes before the output's.
  for (std::uint32_t j = 0; j < n; ++j) {
    PlanEntry& e = entries[n - 1 - j];
    e.skip_offset = skip.next();
    e.seek_offset = seek.next();
  }
  return kExitSuccess;
}

void report_entry(const RunState& state, const Settings& settings, const PlanEntry& entry,
                  int number, const PlatformProfile& profile) {
  if (settings.verboseflag == 0 || (!state.apply_skip && !state.apply_seek))
    return;
  const char* what = state.apply_skip ? (state.apply_seek ? "skip and seek" : "skip") : "seek";
  if (state.iterations_given) {
    say(Channel::err, "\nRunning iteration %d with %s (in bytes) as follows:\n", number, what);
  } else {
    say(Channel::err, "\nRunning with %s (in bytes) as follows:\n", what);
  }
  if (state.apply_skip)
    print_offset("skip", entry.skip_offset, profile);
  if (state.apply_seek)
    print_offset("seek", entry.seek_offset, profile);
}

}  // namespace kolvane

// The iteration plan: measures the files, refuses ones too small for the count, block size
// and offset, and draws every iteration's block-aligned offsets before any data moves.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "cli/settings.h"
#include "plan/digits.h"
#include "platform/profile.h"
#include "run/failures.h"
#include "run/run_context.h"
#include "run/run_files.h"

namespace kolvane {

// No member initializers: a plan of millions of entries is allocated without a pass that
// zeroes it, since the draw writes every entry. PlanEntry{} is still all zeros.
struct PlanEntry {
  std::uint64_t skip_offset;
  std::uint64_t seek_offset;
};

// The planner's measurements: the ranges the files' offsets are drawn in.
struct Calibration {
  OffsetDigits input_range{};
  OffsetDigits input_fixed{};
  OffsetDigits output_range{};
  OffsetDigits output_fixed{};
};

// The iteration plan, in the order its entries run, in one allocation; with the calibration
// its entries were drawn from, which unlimited iterations draw from as the run goes.
struct Plan {
  std::unique_ptr<PlanEntry[]> entries;
  std::uint32_t size = 0;
  Calibration calibration;

  void release() {
    entries.reset();
    size = 0;
  }
};

// After the input is opened: decides how the input is positioned and how far it is read, and
// measures it where the run needs its size, into `calibration`. Returns none to go on, or the
// failure (status 4 or 5).
Failure calibrate_input(RunFiles& files, Calibration& calibration, const RunShape& shape,
                        const Settings& settings, const PlatformProfile& profile);

// Before anything is opened: none, or the refusal (1) of a span= the run cannot use (a single
// copy, or not a whole number of a drawn side's blocks).
Failure check_span_words(const RunShape& shape, const Settings& settings);

// Before the output is opened, so that an output no seek can reach is left as it was: none, or
// the output's too-small failure (5) when seek x obs lies beyond any file.
Failure check_seek_offset(const Endpoints& ends, const Settings& settings);

// After the output is opened and checked: the same for the output.
Failure calibrate_output(RunFiles& files, Calibration& calibration, const RunShape& shape,
                         const Settings& settings, const PlatformProfile& profile);

// The whole plan, after both calibrations, holding a copy of `calibration`: no entries for
// unlimited iterations, and none left when a stop request came during the draw, which takes
// its digit-wise values from `random`. std::nullopt when the entries cannot be allocated (the
// driver's plan_memory_failure()).
std::optional<Plan> build_plan(const RunFiles& files, const Calibration& calibration,
                               const RunShape& shape, const Settings& settings,
                               RandomSource& random);

// The verbose report at the top of iteration `number` (counting from 1).
void report_entry(const RunFiles& files, const RunShape& shape, const Settings& settings,
                  const PlanEntry& entry, std::uint64_t number, const PlatformProfile& profile);

}  // namespace kolvane

// The engine's stages called over one RunOwners, each given the parts the driver hands it: the
// sides decided from the settings as they stand, the calibration made into the plan's own, and
// the plan built kept as the driver keeps it. A stage's failure is printed as the driver prints
// it, and its status returned.
#pragma once

#include <optional>
#include <utility>

#include "driver/run_owners.h"
#include "engine/transfer.h"
#include "plan/plan.h"
#include "run/exit_status.h"
#include "run/failures.h"

namespace kolvane {

// A case may change its settings between stages; the driver decides the sides once, after
// scanning, so each stage here decides them again from the settings it is given.
inline void decide_sides(RunOwners& st, const Settings& s) {
  st.context.shape.ends = decide_endpoints(s);
}

inline int told(const Failure& failure) {
  say_failure(failure);
  return failure.status;
}

inline int calibrate_input(RunOwners& st, const Settings& s, const PlatformProfile& profile) {
  decide_sides(st, s);
  return told(calibrate_input(st.files, st.plan.calibration, st.context.shape, s, profile));
}

inline int calibrate_output(RunOwners& st, const Settings& s, const PlatformProfile& profile) {
  decide_sides(st, s);
  return told(calibrate_output(st.files, st.plan.calibration, st.context.shape, s, profile));
}

// 0, or the driver's status when the plan cannot be allocated.
inline int build_plan(RunOwners& st, const Settings& s) {
  std::optional<Plan> plan =
      build_plan(st.files, st.plan.calibration, st.context.shape, s, st.context.random);
  if (!plan)
    return kExitNoMemory;
  st.plan = std::move(*plan);
  return 0;
}

inline int run_entry(RunOwners& st, const Settings& s, const PlanEntry& entry,
                     const PlatformProfile& profile) {
  decide_sides(st, s);
  return told(run_entry(st.files, st.transfer, st.context, s, entry, profile));
}

}  // namespace kolvane

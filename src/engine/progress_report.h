// progress=N: a line on standard error every N seconds while the data move, from the run's
// meter; with a total where the run's end is known in advance.
#pragma once

#include <cstdint>

#include "cli/settings.h"
#include "engine/run_state.h"
#include "measure/meter.h"
#include "report/progress.h"

namespace kolvane {

class ProgressReporter final : public MeterListener {
 public:
  // Reads the plan and the calibration from `state` at the first tick, once they are known.
  ProgressReporter(const Settings& settings, const RunState& state);

  void tick(const Meter& meter, std::uint64_t now_ns) override;
  // Before the run's last lines: a terminal's progress line is kept in view.
  void finish();

 private:
  const Settings& settings_;
  const RunState& state_;
  ProgressLine line_;
  std::uint64_t previous_bytes_ = 0;
  std::uint64_t previous_ns_ = 0;
};

}  // namespace kolvane

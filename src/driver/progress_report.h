// progress=N: a line on standard error every N seconds while the data move, from the run's
// meter; with a total where the run's end is known in advance. Its times are those the meter
// read on its clock when it ticked: the reporter reads no clock of its own.
#pragma once

#include <cstdint>

#include "cli/settings.h"
#include "measure/meter.h"
#include "plan/plan.h"
#include "report/progress.h"
#include "run/run_context.h"
#include "run/run_files.h"

namespace kolvane {

class ProgressReporter final : public MeterListener {
 public:
  // Reads the plan's size and the input's limit at each tick: they are known by the first.
  ProgressReporter(const Settings& settings, const RunShape& shape, const RunFiles& files,
                   const Plan& plan);

  void tick(const Meter& meter, std::uint64_t now_ns) override;
  // Before the run's last lines: a terminal's progress line is kept in view.
  void finish();

 private:
  const Settings& settings_;
  const RunShape& shape_;
  const RunFiles& files_;
  const Plan& plan_;
  ProgressLine line_;
  std::uint64_t previous_bytes_ = 0;
  std::uint64_t previous_ns_ = 0;
};

}  // namespace kolvane

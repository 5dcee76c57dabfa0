#include "engine/run_control.h"

#include "engine/run_end.h"
#include "platform/signals.h"

namespace kolvane {

void RunControl::start() {
  started_ = true;
  if (limit_seconds_ != 0)
    deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(limit_seconds_);
}

bool RunControl::after_io(const RecordTotals& totals, const Meter& meter) {
  if (take_status_request())
    show_status(totals, meter, settings_);
  if (stop_requested() != StopRequest::none)
    return true;
  if (limit_seconds_ != 0 && !timed_out_ && std::chrono::steady_clock::now() >= deadline_)
    timed_out_ = true;
  return timed_out_;
}

bool RunControl::stopping() const {
  return timed_out_ || stop_requested() != StopRequest::none;
}

}  // namespace kolvane

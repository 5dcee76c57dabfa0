#include "engine/run_control.h"

#include "engine/run_end.h"
#include "platform/signals.h"

namespace kolvane {

void RunControl::start() {
  started_ = true;
  if (limit_seconds_ != 0)
    deadline_ns_ = clock_->now_ns() + std::uint64_t{limit_seconds_} * 1000000000u;
}

bool RunControl::after_io(const RecordTotals& totals, const Meter& meter) {
  if (take_status_request())
    show_status(totals, meter, settings_, ends_);
  if (stop_requested() != StopRequest::none)
    return true;
  if (limit_seconds_ != 0 && !timed_out_ && clock_->now_ns() >= deadline_ns_)
    timed_out_ = true;
  return timed_out_;
}

bool RunControl::stopping() const {
  return timed_out_ || stop_requested() != StopRequest::none;
}

}  // namespace kolvane

#include "run/run_control.h"

#include <algorithm>
#include <cinttypes>

#include "platform/signals.h"
#include "run/console.h"
#include "run/transfer_state.h"

namespace kolvane {

void print_records(const RecordTotals& t, const PlatformProfile& profile) {
  if (profile.signed_records) {
    say(Channel::err, "%" PRId64 "+%" PRId64 " records in\n",
        static_cast<std::int64_t>(t.r_full_total), static_cast<std::int64_t>(t.r_partial_total));
    say(Channel::err, "%" PRId64 "+%" PRId64 " records out\n",
        static_cast<std::int64_t>(t.w_full_total), static_cast<std::int64_t>(t.w_partial_total));
  } else {
    say(Channel::err, "%" PRIu64 "+%" PRIu64 " records in\n", t.r_full_total, t.r_partial_total);
    say(Channel::err, "%" PRIu64 "+%" PRIu64 " records out\n", t.w_full_total, t.w_partial_total);
  }
}

void RunControl::start() {
  start_at(limit_seconds_ != 0 ? clock_->now_ns() : 0);
}

void RunControl::start_at(std::uint64_t now_ns) {
  started_ = true;
  if (limit_seconds_ != 0)
    deadline_ns_ = now_ns + std::uint64_t{limit_seconds_} * 1000000000u;
}

void RunControl::answer_status(const RecordTotals& totals, const Meter& meter) const {
  if (status_reply_)
    status_reply_(totals, meter);
  else
    print_records(totals, this_platform());
}

bool RunControl::after_io(const RecordTotals& totals, const Meter& meter) {
  if (link_ != nullptr) {
    if (link_->after_io(totals, meter))
      return true;
  } else if (take_status_request()) {
    answer_status(totals, meter);
  }
  if (stop_requested() != StopRequest::none || halted())
    return true;
  if (limit_seconds_ != 0 && !timed_out_ && clock_->now_ns() >= deadline_ns_)
    timed_out_ = true;
  return timed_out_;
}

bool RunControl::stopping() const {
  return timed_out_ || stop_requested() != StopRequest::none || halted() ||
         (link_ != nullptr && link_->stopping());
}

bool RunControl::wait_until(std::uint64_t due_ns) {
  const std::uint64_t until = limit_seconds_ != 0 ? std::min(due_ns, deadline_ns_) : due_ns;
  for (std::uint64_t now = clock_->now_ns(); now < due_ns; now = clock_->now_ns()) {
    if (limit_seconds_ != 0 && now >= deadline_ns_)
      timed_out_ = true;
    if (stopping())
      return false;
    clock_->pause_toward(until);
  }
  return true;
}

}  // namespace kolvane

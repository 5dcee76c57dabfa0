#include "engine/engine.h"

#include "engine/exit_status.h"
#include "engine/queued.h"
#include "engine/transfer.h"

namespace kolvane {
namespace {

// One I/O at a time: each entry positioned, then copied, before the next is asked for.
class SynchronousEngine final : public TransferEngine {
 public:
  SynchronousEngine(RunState& state, const Settings& s, const PlatformProfile& profile)
      : state_(state), s_(s), profile_(profile) {}

  int run(const EntrySource& next_entry) override {
    int status = kExitSuccess;
    PlanEntry entry{};
    while (status == kExitSuccess && !state_.control.stopping() && next_entry(entry))
      status = run_entry(state_, s_, entry, profile_);
    return status;
  }

 private:
  RunState& state_;
  const Settings& s_;
  const PlatformProfile& profile_;
};

class QueuedEngine final : public TransferEngine {
 public:
  QueuedEngine(RunState& state, const Settings& s) : state_(state), s_(s) {}
  int run(const EntrySource& next_entry) override { return run_queued(state_, s_, next_entry); }

 private:
  RunState& state_;
  const Settings& s_;
};

}  // namespace

std::unique_ptr<TransferEngine> make_transfer_engine(RunState& state, const Settings& settings,
                                                     const PlatformProfile& profile) {
  if (settings.io_depth > 1)
    return std::make_unique<QueuedEngine>(state, settings);
  return std::make_unique<SynchronousEngine>(state, settings, profile);
}

}  // namespace kolvane

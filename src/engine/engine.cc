#include "engine/engine.h"

#include "engine/queued.h"
#include "engine/transfer.h"
#include "engine/verify.h"
#include "run/exit_status.h"

namespace kolvane {
namespace {

// One I/O at a time: each entry positioned, then copied, before the next is asked for.
class SynchronousEngine final : public TransferEngine {
 public:
  SynchronousEngine(RunFiles& files, TransferState& transfer, RunContext& run, const Settings& s,
                    const PlatformProfile& profile)
      : files_(files), transfer_(transfer), run_(run), s_(s), profile_(profile) {}

  Failure run(const EntrySource& next_entry) override {
    Failure failure;
    PlanEntry entry{};
    while (!failure.failed() && !run_.control.stopping() && next_entry(entry))
      failure = run_entry(files_, transfer_, run_, s_, entry, profile_);
    return failure;
  }

 private:
  RunFiles& files_;
  TransferState& transfer_;
  RunContext& run_;
  const Settings& s_;
  const PlatformProfile& profile_;
};

class QueuedEngine final : public TransferEngine {
 public:
  QueuedEngine(const RunFiles& files, TransferState& transfer, RunContext& run, const Settings& s)
      : files_(files), transfer_(transfer), run_(run), s_(s) {}
  Failure run(const EntrySource& next_entry) override {
    return run_queued(files_, transfer_, run_, s_, next_entry);
  }

 private:
  const RunFiles& files_;
  TransferState& transfer_;
  RunContext& run_;
  const Settings& s_;
};

}  // namespace

std::unique_ptr<TransferEngine> make_transfer_engine(RunFiles& files, TransferState& transfer,
                                                     RunContext& run, const Settings& settings,
                                                     const PlatformProfile& profile) {
  if (settings.io_depth > 1)
    return std::make_unique<QueuedEngine>(files, transfer, run, settings);
  return std::make_unique<SynchronousEngine>(files, transfer, run, settings, profile);
}

Failure run_transfer(RunFiles& files, TransferState& transfer, RunContext& run,
                     const Settings& settings, const PlatformProfile& profile,
                     const EntrySource& next_entry) {
  Failure failure = make_transfer_engine(files, transfer, run, settings, profile)->run(next_entry);
  if (run.check != nullptr && (failure.status == kExitSuccess || failure.status == kExitVerify))
    return run.check->conclude();
  return failure;
}

}  // namespace kolvane

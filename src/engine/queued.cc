#include "engine/queued.h"

#include "engine/positioned_sides.h"
#include "engine/queue_driver.h"
#include "platform/io_queue.h"
#include "run/exit_status.h"
#include "run/failures.h"

namespace kolvane {
namespace {

static_assert(kMaxIoDepth == kMaxQueueDepth, "iodepth= and the queue agree on the deepest");

Failure refuse_depth(const char* why, std::uint32_t depth) {
  return refusal(why, depth);
}

constexpr std::uint64_t kMaxQueuedBlock = std::uint64_t{1} << 30;

}  // namespace

Failure check_io_depth(const RunFiles& files, const RunShape& shape, const Settings& s) {
  const std::uint32_t depth = s.io_depth;
  if (depth <= 1)
    return {};
  Failure failure = check_positioned_sides(files, shape, s, "iodepth", depth);
  if (failure.failed())
    return failure;
  // A queued transfer moves a block in one I/O, whose length the queue holds in 32 bits.
  if (s.input_blocksize > kMaxQueuedBlock || s.output_blocksize > kMaxQueuedBlock)
    return refuse_depth("iodepth=%u takes blocks of at most 1 GiB (ibs= and obs=)\n", depth);
  return check_positioned_shape(shape, s, "iodepth", depth);
}

Failure check_poll_words(const Settings& s, const PlatformProfile& profile) {
  if (s.poll == 0)
    return {};
  if (s.io_depth <= 1)
    return refusal("poll=%u needs iodepth= above 1: one I/O at a time has no queue to poll\n",
                   s.poll);
  if (s.poll == 2 && profile.no_kernel_submission != nullptr)
    return failure_text(kExitBadArgument, profile.no_kernel_submission);
  return {};
}

Failure run_queued(const RunFiles& files, TransferState& transfer, RunContext& run,
                   const Settings& s, const EntrySource& next_entry) {
  QueueDriver driver(files, transfer, run, s);
  Failure failure = driver.open();
  if (failure.failed())
    return failure;
  return run.shape.repeats() ? run_queued_entries(driver, next_entry)
                             : run_queued_copy(driver, next_entry);
}

}  // namespace kolvane

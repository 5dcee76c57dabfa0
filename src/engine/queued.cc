#include "engine/queued.h"

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

// A side the queue can serve: a named regular file or device (the standard streams may share
// their offset with the shell, and a pipe has none), or the zero source / null sink.
bool positioned_input(const RunFiles& files, const Endpoints& ends) {
  if (ends.zero_source())
    return true;
  return ends.named_input() && file_kind(files.input.get()) != FileKind::stream;
}

bool positioned_output(const Endpoints& ends) {
  return ends.null_sink() || ends.positioned_named_output();
}

bool same_file_both_sides(const Endpoints& ends, const Settings& s) {
  if (!ends.named_input() || !ends.named_output())
    return false;
  FileIdentity in;
  FileIdentity out;
  return identity_of_name(s.input_file, in) && identity_of_name(s.output_file, out) &&
         same_file(in, out);
}

constexpr std::uint64_t kMaxQueuedBlock = std::uint64_t{1} << 30;

}  // namespace

Failure check_io_depth(const RunFiles& files, const RunShape& shape, const Settings& s) {
  const std::uint32_t depth = s.io_depth;
  if (depth <= 1)
    return {};
  if (!positioned_input(files, shape.ends))
    return refuse_depth(
        "iodepth=%u needs an input the run can position: a file or device "
        "named by if=, or the zero source\n",
        depth);
  if (!positioned_output(shape.ends))
    return refuse_depth(
        "iodepth=%u needs an output the run can position: a file or device "
        "named by of=, or the null sink\n",
        depth);
  if (same_file_both_sides(shape.ends, s))
    return refuse_depth("iodepth=%u cannot read and write the same file\n", depth);
  // A queued transfer moves a block in one I/O, whose length the queue holds in 32 bits.
  if (s.input_blocksize > kMaxQueuedBlock || s.output_blocksize > kMaxQueuedBlock)
    return refuse_depth("iodepth=%u takes blocks of at most 1 GiB (ibs= and obs=)\n", depth);
  if (shape.repeats()) {
    // Entries that overlap must each position the output: one the run created or truncated
    // has its entries follow on from each other.
    if (!shape.ends.null_sink() && !is_notrunc(s))
      return refuse_depth(
          "iodepth=%u with iterations needs an existing output written in "
          "place (conv=notrunc) or the null sink\n",
          depth);
    return {};
  }
  if (s.input_blocksize != s.output_blocksize)
    return refuse_depth("iodepth=%u with a single copy needs ibs equal to obs\n", depth);
  return {};
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

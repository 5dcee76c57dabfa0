#include "engine/transfer.h"

#include <cstdio>
#include <cstring>

#include "engine/exit_status.h"
#include "engine/plan.h"

namespace kolvane {
namespace {

const char* input_name(const Settings& s) { return shown_name(s.input_file, "standard input"); }
const char* output_name(const Settings& s) {
  return shown_name(s.output_file, "standard output");
}

int read_failure(const Settings& s) {
  std::fprintf(stderr, "error reading '%s': ", input_name(s));
  report_system_error();
  return kExitReadWrite;
}

int write_failure(const Settings& s) {
  std::fprintf(stderr, "error writing to '%s': ", output_name(s));
  report_system_error();
  return kExitReadWrite;
}

// Both buffers are asked for before either result is looked at.
int obtain_buffers(RunState& state, const Settings& s) {
  TransferBuffers& b = state.buffers;
  b.input.reset(alloc_aligned(s.input_blocksize));
  b.output.reset(alloc_aligned(s.output_blocksize));
  if (b.input.get() == nullptr || b.output.get() == nullptr) {
    std::fprintf(stderr, "Error allocating aligned memory\n");
    return kExitNoMemory;
  }
  b.obtained = true;
  if (is_zero_source(s)) std::memset(b.input.get(), 0, s.input_blocksize);
  return kExitSuccess;
}

// Writes one output block and counts it; a block shorter than obs is a partial record.
bool put_block(RunState& state, const Settings& s, const unsigned char* data, std::uint64_t n) {
  const bool partial = n < s.output_blocksize;
  if (!write_block(state.output.get(), data, n, partial && s.w_dio != 0)) return false;
  if (partial) {
    ++state.totals.w_partial_total;
  } else {
    ++state.totals.w_full_total;
  }
  state.block_written = true;
  return true;
}

int write_zero_blocks(RunState& state, const Settings& s) {
  for (std::uint64_t i = 0; i < s.max_records; ++i) {
    if (!write_block(state.output.get(), state.buffers.input.get(), s.input_blocksize, false)) {
      return write_failure(s);
    }
    ++state.totals.r_full_total;
    ++state.totals.w_full_total;
  }
  return kExitSuccess;
}

// Re-blocks: moves the bytes of one read into obs-sized output blocks, writing each block as
// it fills. Whole blocks that lie inside the bytes read go out straight from the input buffer.
bool move_to_output(RunState& state, const Settings& s, const unsigned char* data,
                    std::uint64_t pending, std::uint64_t& fill) {
  const std::uint64_t obs = s.output_blocksize;
  unsigned char* out = state.buffers.output.get();
  while (pending != 0) {
    if (fill == 0 && pending >= obs) {
      if (!put_block(state, s, data, obs)) return false;
      data += obs;
      pending -= obs;
      continue;
    }
    const std::uint64_t moved = min(pending, obs - fill);
    std::memcpy(out + fill, data, moved);
    fill += moved;
    data += moved;
    pending -= moved;
    if (fill == obs) {
      if (!put_block(state, s, out, obs)) return false;
      fill = 0;
    }
  }
  return true;
}

int copy_blocks(RunState& state, const Settings& s) {
  // count=0 copies nothing, whatever the input holds.
  if (state.count_given && s.max_records == 0) return kExitSuccess;
  const std::uint64_t ibs = s.input_blocksize;
  const unsigned char* in = state.buffers.input.get();
  std::uint64_t fill = 0;
  std::uint64_t full_reads = 0;
  bool first_read = true;
  for (;;) {
    const std::int64_t got = read_block(state.input.get(), state.buffers.input.get(), ibs);
    if (got < 0) return read_failure(s);
    if (got == 0) {
      if (first_read) {
        std::fprintf(stderr, "error reading '%s': skipping past EOF", input_name(s));
        return kExitReadWrite;
      }
      state.end_of_input = true;
      break;
    }
    first_read = false;
    if (static_cast<std::uint64_t>(got) < ibs) {
      ++state.totals.r_partial_total;
    } else {
      ++full_reads;
      ++state.totals.r_full_total;
    }
    if (!move_to_output(state, s, in, static_cast<std::uint64_t>(got), fill)) {
      return write_failure(s);
    }
    // Without a count the copy runs to the end of the input.
    if (state.count_given && full_reads == s.max_records) break;
    if (state.end_of_input && state.block_written) break;
  }
  // Whatever ended the entry, the bytes already read go out: the rest as a partial block.
  if (fill != 0 && !put_block(state, s, state.buffers.output.get(), fill)) {
    return write_failure(s);
  }
  return kExitSuccess;
}

}  // namespace

int run_entry(RunState& state, const Settings& s, const PlanEntry& entry,
              const PlatformProfile& profile) {
  if (state.apply_skip && !set_position(state.input.get(), entry.skip_offset)) {
    std::fprintf(stderr, profile.skip_error_prefix, input_name(s));
    report_system_error();
    return kExitOpenOrPosition;
  }
  if (state.apply_seek && !set_position(state.output.get(), entry.seek_offset)) {
    std::fprintf(stderr, profile.seek_error_prefix, output_name(s));
    report_system_error();
    return kExitOpenOrPosition;
  }
  if (!state.buffers.obtained) {
    const int status = obtain_buffers(state, s);
    if (status != kExitSuccess) return status;
  }
  return is_zero_source(s) ? write_zero_blocks(state, s) : copy_blocks(state, s);
}

}  // namespace kolvane

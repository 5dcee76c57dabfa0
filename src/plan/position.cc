#include "plan/position.h"

#include <algorithm>
#include <vector>

#include "platform/signals.h"
#include "run/exit_status.h"
#include "run/failures.h"

namespace kolvane {
namespace {

// The most a skip by reading holds in memory at once.
constexpr std::uint64_t kSkipChunk = 65536;

// Reads and drops exactly `bytes` bytes, never more: what follows them is the copy's.
// A stop request ends it early, as a success: the entry then copies nothing.
Failure skip_by_reading(FileCursor& input, RunContext& run, const RecordTotals& totals,
                        std::uint64_t bytes, const Settings& s) {
  std::vector<unsigned char> scratch(static_cast<std::size_t>(std::min(bytes, kSkipChunk)));
  while (bytes != 0) {
    const std::int64_t got =
        input.read(scratch.data(), std::min<std::uint64_t>(bytes, scratch.size()));
    if (got < 0 && got != kReadInterrupted && stop_requested() == StopRequest::none)
      return read_failure(input_name(s));
    if (got == 0)
      return past_eof(s);
    if (got > 0)
      bytes -= static_cast<std::uint64_t>(got);
    if (run.after_io(totals))
      return {};
  }
  return {};
}

// A file the program opened by name is positioned by the offsets the engine keeps; the
// standard streams and whatever has no position (a pipe, terminal or character device) by the
// system. Known once the files are open, and the same for the whole run.
void attach_cursors(RunFiles& files, const Settings& s) {
  FileCursors& cursors = files.cursors;
  if (cursors.attached)
    return;
  const auto by_offset = [](const char* name, const OwnedFile& file) {
    return name != nullptr && file.is_open() && file_kind(file.get()) != FileKind::stream;
  };
  cursors.input = FileCursor(files.input.get(), by_offset(s.input_file, files.input));
  cursors.output = FileCursor(files.output.get(), by_offset(s.output_file, files.output));
  cursors.attached = true;
}

}  // namespace

Failure position_files(RunFiles& files, RunContext& run, const RecordTotals& totals,
                       const Settings& s, const PlanEntry& entry, const PlatformProfile& profile) {
  attach_cursors(files, s);
  if (files.apply_skip) {
    if (files.skip_by_reading) {
      Failure failure = skip_by_reading(files.cursors.input, run, totals, entry.skip_offset, s);
      if (failure.failed())
        return failure;
    } else if (!files.cursors.input.seek(entry.skip_offset)) {
      return skip_failure(profile.skip_error_prefix, input_name(s));
    }
  }
  if (files.apply_seek) {
    if (!files.cursors.output.seek(entry.seek_offset))
      return seek_failure(profile.seek_error_prefix, output_name(s));
    // The later entries go on where the one before ended.
    if (files.seek_first_entry_only)
      files.apply_seek = false;
  }
  return {};
}

}  // namespace kolvane

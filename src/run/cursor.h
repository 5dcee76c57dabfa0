// Where the next block of the input or the output is read or written.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace kolvane {

// A file the program opened by name (a regular file or a block device) is read and written at
// offsets kept here, with one positioned call per I/O instead of a seek and a transfer.
// Standard input and output keep the position the system holds for them, since a shell may
// share it with the commands around this one; pipes, terminals and character devices have no
// position to keep. Those are positioned and moved on by the system, as the calls always did.
class FileCursor {
 public:
  FileCursor() = default;
  FileCursor(FileHandle file, bool positioned) : file_(file), positioned_(positioned) {}

  FileHandle file() const { return file_; }
  bool positioned() const { return positioned_; }
  // Where a positioned file's next block goes.
  std::uint64_t offset() const { return offset_; }

  // False only when the system refuses to position the file (its text is then the last error).
  bool seek(std::uint64_t offset) {
    if (!positioned_)
      return set_position(file_, offset);
    offset_ = offset;
    return true;
  }

  // As read_block: the bytes read, 0 at the end, -1 or kReadInterrupted.
  std::int64_t read(void* buffer, std::uint64_t n) {
    if (!positioned_)
      return read_block(file_, buffer, n);
    const std::int64_t got = read_block_at(file_, buffer, n, offset_);
    if (got > 0)
      offset_ += static_cast<std::uint64_t>(got);
    return got;
  }

  // As write_block: all n bytes, a failure, or (on a stream) a stop that cut the write short.
  Written write(const void* data, std::uint64_t n, bool unaligned_tail) {
    if (!positioned_)
      return write_block(file_, data, n, unaligned_tail);
    if (!write_block_at(file_, data, n, offset_, unaligned_tail))
      return {Written::End::failed, 0};
    offset_ += n;
    return {Written::End::all, n};
  }

 private:
  FileHandle file_ = kNoFile;
  bool positioned_ = false;
  std::uint64_t offset_ = 0;
};

// The run's two cursors, attached once the files are open (by the first entry that runs) and
// kept from entry to entry, so that an entry that positions nothing follows on.
struct FileCursors {
  FileCursor input;
  FileCursor output;
  bool attached = false;
};

}  // namespace kolvane

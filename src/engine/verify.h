// Checking what the run writes: stamped blocks from the zero source (pattern=random), each
// block read back and checked once written (verify=1), and the check-only pass that reads the
// blocks an earlier run wrote (verify=2). A run without these words never reaches this module.
#pragma once

#include <cstdint>

#include "cli/settings.h"
#include "engine/cursor.h"
#include "engine/owned.h"
#include "engine/run_context.h"
#include "engine/transfer_state.h"
#include "platform/profile.h"

namespace kolvane {

// Refuses, before any file is opened, the checking words the run cannot carry out: 0, or 1
// after the message.
int check_verify_words(const Settings& s);

// The seed stamped blocks carry: seed= when given, else the process id, as the offset draws.
std::uint32_t run_seed(const Settings& s);

// Opens the output as the checking words need it: for reading and writing with verify=1, for
// reading alone with verify=2 (never created or truncated). A check-only pass takes the output
// as pre-existing exactly when the writing run with the same words found it so, so that both
// runs plan the same offsets.
FileHandle open_run_output(const Settings& s, bool& output_preexists);

// Follows the output's offset from block to block, stamps the blocks and checks what it reads
// back. The driver owns it and hands it to the transfer through RunContext::check.
class OutputCheck {
 public:
  OutputCheck() = default;
  OutputCheck(const OutputCheck&) = delete;
  OutputCheck& operator=(const OutputCheck&) = delete;

  // After the output is opened: the read buffer and, where the platform needs one, a handle of
  // its own for direct reads. Returns 0, 2 (the read handle not opened) or 6 (no buffer),
  // having printed the message.
  int start(const Settings& s, FileHandle output, const PlatformProfile& profile);

  // Before each plan entry: where its first block goes when the entry positions the output;
  // otherwise it follows on from the last entry.
  void begin_entry(bool positioned, std::uint64_t offset);

  // The zero source's blocks of one entry, written through `out` from the transfer's input
  // buffer, stamped or zero, each checked after its write when reading back. Returns 0, 3 or 9.
  int write_zero_source(FileCursor& out, TransferState& transfer, RunContext& run,
                        const Settings& s);

  // verify=2: reads and checks one entry's blocks through `out`. Returns 0, 3 or 9.
  int check_entry(FileCursor& out, TransferState& transfer, RunContext& run, const Settings& s);

  // After `n` bytes from `data` went out at the current offset: with verify=1 reads them back
  // and checks them. Returns 0, or 3 or 9 after the message.
  int written(const unsigned char* data, std::uint64_t n);

  bool check_only() const { return check_only_; }
  bool stamps() const { return stamps_; }
  bool reads_back() const { return reads_back_; }

  // For a transfer that reads the blocks itself (the queued one): the handle to read them
  // through, whether those reads are direct, and how much to ask for a block of `n` bytes
  // (a direct read moves the whole aligned block).
  FileHandle reader() const { return own_reader_.is_open() ? own_reader_.get() : output_; }
  bool direct() const { return direct_; }
  std::uint64_t read_length(std::uint64_t n) const { return direct_ ? block_ : n; }
  // Checks `got` bytes read into `read` for a block of `n` bytes at `offset`, written from
  // `data` (nullptr: stamped). 0, or 9 after the verify error's message.
  int judge_block(const unsigned char* data, std::uint64_t n, const unsigned char* read,
                  std::uint64_t got, std::uint64_t offset) const;

  // Fills `block` (n bytes) with the stamped block for `offset` in iteration `iteration`, for
  // a transfer that keeps its own offsets (the queued one).
  void stamp(unsigned char* block, std::uint64_t n, std::uint64_t offset,
             std::uint64_t iteration) const;

 private:
  // Reads the block at `offset` into the read buffer, `n` bytes or, for a direct read, the
  // whole aligned block; the bytes read, or -1 after the read failure's message.
  std::int64_t read_back(FileHandle file, std::uint64_t offset, std::uint64_t n);
  // Checks `got` bytes read for a block of `n` at `offset` (written from `data`, or stamped);
  // 0, or 9 after the verify error's message.
  int judge(const unsigned char* data, std::uint64_t n, std::uint64_t got, std::uint64_t offset);

  const Settings* settings_ = nullptr;
  FileHandle output_ = kNoFile;
  OwnedFile own_reader_;  // the direct read handle, when the output's own cannot read direct
  AlignedBuffer read_buffer_;
  std::uint64_t block_ = 0;
  std::uint64_t offset_ = 0;
  std::uint64_t iteration_ = 0;
  std::uint32_t seed_ = 0;
  bool stamps_ = false;
  bool reads_back_ = false;
  bool check_only_ = false;
  bool direct_ = false;
};

}  // namespace kolvane

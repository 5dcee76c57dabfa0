// The copy's rules, with no I/O in them: what a read gives the copy (its bytes up to the input's
// limit, a full or partial record, or the end of the input), which output blocks those bytes
// make once re-blocked, and when the entry ends. Both engines follow them: the synchronous one
// between its calls, the queued one as each entry's I/Os complete, so that a queued run writes
// and counts exactly what one I/O at a time does.
#pragma once

#include <cstdint>
#include <optional>

#include "cli/settings.h"
#include "run/run_context.h"

namespace kolvane {

struct CopyRules {
  std::uint64_t ibs = 0;
  std::uint64_t obs = 0;
  // Direct writes need memory aligned as the device wants it: a block that starts elsewhere in
  // the read buffer goes through the output buffer.
  bool direct_writes = false;
  bool counted = false;
  std::uint64_t max_records = 0;
  // The most input bytes an entry takes (kNoLimit: up to the input's end).
  std::uint64_t input_limit = 0;

  // The most reads a single copy of ibs-sized blocks makes: count= blocks, or as many as the
  // measured size holds and at least one, which tells an empty input; unbounded otherwise.
  std::uint64_t copy_reads() const;
  // The input bytes a single copy's block `block` may still take.
  std::uint64_t left_at(std::uint64_t block) const;
};

CopyRules copy_rules(const Settings& s, const RunShape& shape, std::uint64_t input_limit);

// What one read gave the copy.
enum class ReadRecord : std::uint8_t {
  past_eof,      // nothing, on the entry's first read: there is nothing to copy
  end_of_input,  // nothing, after the entry's first read: the entry ends
  partial,
  full,
};

struct ReadTaken {
  std::uint64_t got = 0;  // the bytes that are the input's to copy
  ReadRecord record = ReadRecord::past_eof;
};

// A read that returned `returned` bytes of ibs asked for, when the input has `left` bytes still
// to give: reads ask for whole blocks (direct reads stay aligned), but bytes past a measured
// input's size are not the input's, whatever it has grown to meanwhile.
ReadTaken take_read(std::uint64_t returned, std::uint64_t ibs, std::uint64_t left, bool first);

// One output block to write: `length` bytes from `data`, a partial record when shorter than obs.
struct OutputBlock {
  const unsigned char* data = nullptr;
  std::uint64_t length = 0;
  bool partial = false;
};

// One entry of a copy: takes each read, gives the output blocks its bytes fill, and tells when
// the entry ends. The bytes of a read must stay where they are until its blocks are written.
class EntryCopy {
 public:
  EntryCopy(const CopyRules& rules, unsigned char* output_buffer)
      : rules_(&rules), buffer_(output_buffer), left_(rules.input_limit) {}

  // count=0 copies nothing, whatever the input holds.
  bool copies_nothing() const { return rules_->counted && rules_->max_records == 0; }

  // A read of `returned` bytes into `data`: its bytes are next()'s until they have all gone.
  ReadTaken took(std::uint64_t returned, const unsigned char* data);

  // The next output block ready to write, or nothing until more is read (or the entry ends).
  // Whole blocks that lie inside the bytes read go out straight from there.
  std::optional<OutputBlock> next();

  // After a read's blocks were written: whether the entry ends there. The run flags (a read met
  // the end of the input, an output block was written) carry over from earlier entries.
  bool ends_after_read(bool end_of_input, bool block_written) const;

  // No more reads: the bytes still held go out as one partial block, next()'s last.
  void finish() { finished_ = true; }

 private:
  const CopyRules* rules_;
  unsigned char* buffer_;
  std::uint64_t left_;
  std::uint64_t full_reads_ = 0;
  bool first_read_ = true;
  const unsigned char* data_ = nullptr;  // read bytes not yet in an output block
  std::uint64_t pending_ = 0;
  std::uint64_t fill_ = 0;  // bytes in the output buffer
  bool finished_ = false;
};

}  // namespace kolvane

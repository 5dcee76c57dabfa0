// What differs between the Linux and the Windows program, as data: number widths and the few
// texts that the two builds word differently. Both tables live in profile.cc so either can be
// tested anywhere; each back end names its own through this_platform().
#pragma once

#include <cstdint>

namespace kolvane {

// What rand() is in the platform's C library. The digit-wise draw of offsets keeps to it, so a
// seed draws the offsets each build has always drawn.
enum class RandAlgorithm {
  additive_feedback,    // 31 words of state, r[i] = r[i-31] + r[i-3]; 31-bit values
  linear_congruential,  // one word of state; 15-bit values
};

enum class OffsetStyle {
  whole,   // "skip: %lld"
  halves,  // "skip: low %lu   high %ld": the 32-bit halves
};

struct PlatformProfile {
  // Size expressions read numbers at this width (strtoul's unsigned long), and the operand
  // after an "x" is cut to it.
  unsigned number_bits;
  // The widest block size a setting holds.
  std::uint64_t blocksize_max;
  // Full help: synopsis format (may hold one %s for the program word), the common body, and
  // the examples (may hold four %s).
  const char* help_synopsis;
  const char* help_examples;
  // Prefixes for a failed positioning of the input and of the output (one %s, for the name);
  // nullptr: a failed read's and a failed write's own wording.
  const char* skip_error_prefix;
  const char* seek_error_prefix;
  OffsetStyle offset_style;
  bool signed_records;
  // What an absent if= or of= shows as in the "For this run" line and the size-query messages;
  // nullptr means "standard input" / "standard output".
  const char* absent_name_text;
  // Direct writes do not make reads on the same handle direct (write-through only): a direct
  // read-back needs a handle of its own, opened for direct reads.
  bool direct_readback_own_handle;
  // Why poll=2 (a kernel thread that submits the I/Os) cannot be had; nullptr where it can.
  const char* no_kernel_submission;
  RandAlgorithm rand_algorithm;
};

extern const PlatformProfile posix_profile;
extern const PlatformProfile win32_profile;

// Supplied by the back end the program is linked with.
const PlatformProfile& this_platform();

}  // namespace kolvane

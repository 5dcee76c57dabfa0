#include "engine/positioned_sides.h"

#include <string>

#include "platform/platform.h"

namespace kolvane {
namespace {

// `rest` follows "WORD=VALUE" in the message and holds at most one %u, for the value.
Failure refuse(const char* word, const char* rest, std::uint32_t value) {
  return refusal((std::string(word) + "=%u" + rest).c_str(), value);
}

// A named regular file or device (the standard streams may share their offset with the shell,
// and a pipe has none), or the zero source / null sink.
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

}  // namespace

Failure check_positioned_sides(const RunFiles& files, const RunShape& shape, const Settings& s,
                               const char* word, std::uint32_t value) {
  if (!positioned_input(files, shape.ends))
    return refuse(word,
                  " needs an input the run can position: a file or device named by if=, or the "
                  "zero source\n",
                  value);
  if (!positioned_output(shape.ends))
    return refuse(word,
                  " needs an output the run can position: a file or device named by of=, or the "
                  "null sink\n",
                  value);
  if (same_file_both_sides(shape.ends, s))
    return refuse(word, " cannot read and write the same file\n", value);
  return {};
}

Failure check_positioned_shape(const RunShape& shape, const Settings& s, const char* word,
                               std::uint32_t value) {
  if (shape.repeats()) {
    // Entries that overlap must each position the output: one the run created or truncated
    // has its entries follow on from each other.
    if (!shape.ends.null_sink() && !is_notrunc(s))
      return refuse(word,
                    " with iterations needs an existing output written in place (conv=notrunc) "
                    "or the null sink\n",
                    value);
    return {};
  }
  if (s.input_blocksize != s.output_blocksize)
    return refuse(word, " with a single copy needs ibs equal to obs\n", value);
  return {};
}

}  // namespace kolvane

#include "engine/mix.h"

namespace kolvane {

Failure check_mix_words(const RunShape& shape, const Settings& s) {
  if (!s.mix_given)
    return {};
  const unsigned r = s.mix_percent;
  if (!shape.ends.zero_source())
    return refusal(
        "mix=%u needs the zero source as its input: it writes the zero source's blocks "
        "(pattern= says which)\n",
        r);
  // A file is written in place; a device is never truncated.
  if (!shape.ends.named_output() || shape.ends.output_stream ||
      (!is_notrunc(s) && !name_is_device(s.output_file)))
    return refusal(
        "mix=%u needs a target to read and write: an existing file named by of= with "
        "conv=notrunc, or a block device\n",
        r);
  if (!shape.count_given || !shape.repeats())
    return refusal("mix=%u needs count= with iterations= or runtime=\n", r);
  // A read takes a block of the size a write puts.
  if (s.input_blocksize != s.output_blocksize)
    return refusal("mix=%u needs ibs equal to obs\n", r);
  if (s.verify == kVerifyCheckOnly)
    return refusal("mix=%u writes: verify=2 is a pass that writes nothing\n", r);
  return {};
}

FileHandle open_mix_reader(const Settings& s) {
  return open_input(s.output_file, s.r_dio != 0);
}

}  // namespace kolvane

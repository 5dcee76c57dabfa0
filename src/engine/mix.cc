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
  // Written in place, file or device: without conv=notrunc a device's entries would follow on
  // from each other, as those of any output the run did not find, and run off its end.
  if (!shape.ends.named_output() || shape.ends.output_stream || !is_notrunc(s))
    return refusal(
        "mix=%u needs a target to read and write in place: an existing file or a block device "
        "named by of=, with conv=notrunc\n",
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

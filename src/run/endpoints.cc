#include "run/endpoints.h"

#include <cstring>

#include "platform/platform.h"

namespace kolvane {

Endpoints decide_endpoints(const Settings& s) {
  Endpoints ends;
  if (s.input_file != nullptr)
    ends.input =
        std::strcmp(s.input_file, kZeroSource) == 0 ? InputSide::zero_source : InputSide::named;
  if (s.output_file != nullptr)
    ends.output =
        std::strcmp(s.output_file, kNullSink) == 0 ? OutputSide::null_sink : OutputSide::named;
  return ends;
}

void settle_output_stream(Endpoints& ends, const Settings& s) {
  if (ends.named_output())
    ends.output_stream = name_is_stream(s.output_file);
}

}  // namespace kolvane

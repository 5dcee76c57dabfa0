// The runs whose I/Os need not go one after the other (iodepth= above 1, workers= above 1):
// each I/O carries its own offset, so both sides must be files the run positions, and the
// entries or the single copy must not depend on the order the I/Os complete in.
#pragma once

#include <cstdint>

#include "cli/settings.h"
#include "run/failures.h"
#include "run/run_context.h"
#include "run/run_files.h"

namespace kolvane {

// Asked once the input is open: none, or the refusal (1) naming `word`=`value`, when a side is
// a stream or the standard input or output, or both sides are one file.
Failure check_positioned_sides(const RunFiles& files, const RunShape& shape, const Settings& s,
                               const char* word, std::uint32_t value);

// Then: iterations need an output positioned in every entry (conv=notrunc or the null sink),
// and a single copy equal block sizes. None, or the refusal (1).
Failure check_positioned_shape(const RunShape& shape, const Settings& s, const char* word,
                               std::uint32_t value);

}  // namespace kolvane

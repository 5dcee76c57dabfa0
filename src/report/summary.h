// The text of report=1: per direction what was moved, how fast, and how long each block took.
#pragma once

#include <span>
#include <string>

#include "report/figures.h"

namespace kolvane {

// Two tables with aligned columns, one row per direction: bytes (and MB, MiB), I/Os, the wall
// time of the transfer phase, MB/s and IOPS; then the latency figures in microseconds. A figure
// that cannot be had (no time passed, nothing measured) is "-". Empty when there is no
// direction (the zero source copied to the null sink). Plain ASCII.
std::string format_summary(std::span<const DirectionFigures> directions);

}  // namespace kolvane

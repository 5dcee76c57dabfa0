// The text of report=1: per direction what was moved, how fast, and how long each block took.
#pragma once

#include <span>
#include <string>

#include "report/figures.h"
#include "report/json_report.h"

namespace kolvane {

// Two tables with aligned columns, one row per direction: bytes (and MB, MiB), I/Os, the wall
// time of the transfer phase, MB/s and IOPS; then the latency figures in microseconds. A figure
// that cannot be had (no time passed, nothing measured) is "-". Empty when there is no
// direction (the zero source copied to the null sink). Plain ASCII.
std::string format_summary(std::span<const DirectionFigures> directions);

// A run of several ranks: a table of one row per rank (its host, IOPS and MB/s over its
// directions, the p99 of all its I/Os in microseconds), a straggler marked at the end of its
// row. Empty for a document that lists no ranks or no direction.
std::string format_rank_table(const RunReport& whole);

}  // namespace kolvane

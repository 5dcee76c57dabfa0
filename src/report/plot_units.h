// Numbers as the picture of a run prints them: counts, sizes and durations in units a reader
// takes in at a glance.
#pragma once

#include <cstdint>
#include <string>

namespace kolvane {

// One number through a printf format of one double ("%.1f").
std::string format_number(const char* format, double value);

// A count with thin spaces between groups of three digits: "1 000 000" reads the same in every
// locale, where a comma or a point would not.
std::string count_text(std::uint64_t n);

// Bytes below 1000 as they are ("512 B"); more in decimal and binary units with three
// significant digits: "1.05 MB (1.00 MiB)".
std::string bytes_text(std::uint64_t bytes);

// A power of ten of nanoseconds in its unit: "100 ns", "1 µs", "10 ms", "1 s", "1000 s".
std::string decade_label(std::uint64_t ns);

// A duration with three significant digits in the largest unit that keeps it at or above 1
// (ns, µs, ms, s): "850 ns", "12.3 µs", "1.00 ms", "3.60 s".
std::string duration_text(double ns);

}  // namespace kolvane

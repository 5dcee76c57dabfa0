#include "report/plot_units.h"

#include <cstddef>
#include <cstdio>

namespace kolvane {

namespace {

// Three significant digits in the largest of the units (each base times the one before) that
// keeps the value at 1 or more; a value that would round up to a whole base moves to the next
// unit (999.7 ns is 1.00 µs, not 1000 ns).
template <std::size_t N>
std::string in_units(double v, double base, const char* const (&units)[N]) {
  std::size_t u = 0;
  while (u + 1 < N && v >= base - 0.5) {
    v /= base;
    ++u;
  }
  const int decimals = v < 9.995 ? 2 : v < 99.95 ? 1 : 0;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f %s", decimals, v, units[u]);
  return buf;
}

}  // namespace

std::string format_number(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

std::string count_text(std::uint64_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0)
      out += "\xE2\x80\x89";
    out += digits[i];
  }
  return out;
}

std::string bytes_text(std::uint64_t bytes) {
  if (bytes < 1000)
    return std::to_string(bytes) + " B";
  static const char* const kDecimal[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
  static const char* const kBinary[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  const double b = static_cast<double>(bytes);
  return in_units(b / 1000, 1000, kDecimal) + " (" + in_units(b / 1024, 1024, kBinary) + ")";
}

std::string decade_label(std::uint64_t ns) {
  if (ns < 1000)
    return std::to_string(ns) + " ns";
  if (ns < 1000000)
    return std::to_string(ns / 1000) + " \xC2\xB5s";
  if (ns < 1000000000)
    return std::to_string(ns / 1000000) + " ms";
  return std::to_string(ns / 1000000000) + " s";
}

std::string duration_text(double ns) {
  static const char* const kUnits[] = {"ns", "\xC2\xB5s", "ms", "s"};
  return in_units(ns, 1000, kUnits);
}

}  // namespace kolvane

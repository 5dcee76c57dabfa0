// The command line under libFuzzer: the input is a list of argument words (split at NUL or
// newline), scanned with each platform's profile, and each word read as a size expression.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/parse_integer.h"
#include "cli/scanargs.h"

namespace kolvane {
const PlatformProfile& this_platform() { return posix_profile; }
}  // namespace kolvane

namespace {
using namespace kolvane;

void check(bool holds) {
  if (!holds) std::abort();
}

// Fresh copies of the words each time: the scanner keeps pointers into them.
ScanResult scan(const std::vector<std::string>& words, const PlatformProfile& profile) {
  std::vector<std::vector<char>> buffers;
  buffers.emplace_back(std::vector<char>{'k', '\0'});
  for (const std::string& w : words) buffers.emplace_back(w.c_str(), w.c_str() + w.size() + 1);
  std::vector<char*> argv;
  for (auto& b : buffers) argv.push_back(b.data());
  argv.push_back(nullptr);
  ScanResult r = scan_words(static_cast<int>(buffers.size()), argv.data(), profile);
  const Settings& s = r.settings;
  if (r.accepted) {
    check(r.rejection.empty() && s.input_blocksize != 0 && s.output_blocksize != 0);
    check(s.input_blocksize <= profile.blocksize_max && s.output_blocksize <= profile.blocksize_max);
    check(s.r_dio <= 1 && s.w_dio <= 1);
    check((s.conv & ~(kConvNotrunc | kConvFsync | kConvFdatasync)) == 0);
  } else {
    check(!r.rejection.empty() && r.rejection.back() == '\n');
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\0' || data[i] == '\n') words.emplace_back();
    else words.back() += static_cast<char>(data[i]);
  }
  for (const PlatformProfile* profile : {&posix_profile, &win32_profile}) {
    scan(words, *profile);
    for (const std::string& w : words) {
      int invalid = 0;
      const std::uint64_t n = parse_integer(w.c_str(), invalid, profile->number_bits);
      check(invalid == 0 || n == 0);
      int raised = 1;
      parse_integer(w.c_str(), raised, profile->number_bits);
      check(raised == 1);
      // As a block size, the word is refused exactly when it is malformed, 0 or too wide.
      const ScanResult r = scan({"bs=" + w}, *profile);
      check(r.accepted == (invalid == 0 && n != 0 && n <= profile->blocksize_max));
      check(!r.accepted || (r.settings.input_blocksize == n && r.settings.output_blocksize == n));
    }
  }
  return 0;
}

#include "report/utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace kolvane {
namespace {

// Whatever the bytes, the text is clean UTF-8 with no controls: cleaning it again changes
// nothing, and nothing in it needs escaping but the five markup characters.
TEST(PlotText, AnyBytesComeOutClean) {
  std::mt19937 gen(14);
  const unsigned char pool[] = {0x00, 0x09, 0x1F, 0x20, 0x26, 0x3C, 0x41, 0x7F, 0x80, 0x9F,
                                0xBF, 0xC0, 0xC2, 0xC3, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xFF};
  for (int n = 0; n < 20000; ++n) {
    std::string raw(gen() % 12, '\0');
    for (char& c : raw) c = static_cast<char>(pool[gen() % sizeof pool]);
    const std::string clean = clean_text(raw);
    ASSERT_EQ(clean_text(clean), clean);
    for (unsigned char c : clean) ASSERT_TRUE(c >= 0x20 && c != 0x7F);
  }
}

}  // namespace
}  // namespace kolvane

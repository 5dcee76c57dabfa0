#include "report/svg_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace kolvane {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(PlotText, NamesBecomeCleanEscapedText) {
  const struct {
    std::string raw, shown;
  } cases[] = {
      {"in.img", "in.img"},
      {"a&b<c>d\"e'f", "a&amp;b&lt;c&gt;d&quot;e&apos;f"},
      {"&amp;", "&amp;amp;"},  // an entity in a name is text, not markup
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF, the last code point
      {"\xFF", kFffd},
      {"x\xC3", "x" + kFffd},                                // cut short at the end
      {std::string("\xE2\x82") + "A", kFffd + kFffd + "A"},  // cut short before another one
      {"\xC0\xAF", kFffd + kFffd},                           // overlong '/'
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd},               // overlong in three bytes
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},               // a surrogate
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},   // past U+10FFFF
      {"\x80", kFffd},                                       // a lone continuation byte
      {"\xEF\xBF\xBE|\xEF\xBF\xBF", kFffd + "|" + kFffd},    // U+FFFE, U+FFFF: not XML
      {"a\tb\nc\r\x1B[31md\x7F", "abc[31md"},
      {std::string("n\0ul", 4), "nul"},
      {"\xC2\x85x\xC2\x9F", "x"},  // C1 controls
      {"\xC2\xA0", "\xC2\xA0"},    // the first character after them stays
      {"\xFE<\xC3", kFffd + "&lt;" + kFffd},
  };
  for (const auto& c : cases) EXPECT_EQ(svg_text(c.raw), c.shown) << c.raw;
}

TEST(PlotText, LongTextKeepsItsEndsAndWholeCharacters) {
  const struct {
    std::string raw;
    std::size_t max;
    std::string shown;
  } cases[] = {
      {"abcdefghij", 10, "abcdefghij"},
      {"abcdefghij", 5, "ab\xE2\x80\xA6ij"},
      {"abcdefghij", 4, "ab\xE2\x80\xA6j"},
      {"abcdefghij", 1, "\xE2\x80\xA6"},
      {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 3, "\xC3\xA9\xE2\x80\xA6\xC3\xA9"},
      {"&&&&&&", 3, "&amp;\xE2\x80\xA6&amp;"},              // shortened before escaping
      {"a\x01\x02\x03\x04" + std::string("bc"), 3, "abc"},  // counted after the controls are gone
  };
  for (const auto& c : cases)
    EXPECT_EQ(svg_text(c.raw, c.max), c.shown) << c.raw << " to " << c.max;
}

}  // namespace
}  // namespace kolvane

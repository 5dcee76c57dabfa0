#include "report/utf8.h"

#include <cstdint>

namespace kolvane {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool continuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// The length of the well-formed sequence at the start of s, 0 if there is none. The second
// byte's range depends on the first: that is what rules out overlong forms, surrogates and
// values past U+10FFFF.
std::size_t sequence_length(std::string_view s) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (s.size() < length || byte(1) < low || byte(1) > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (!continuation(byte(i))) {
      return 0;
    }
  }
  return length;
}

}  // namespace

std::string valid_utf8(std::string_view text, bool& replaced) {
  replaced = false;
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t length = sequence_length(text);
    if (length == 0) {
      out += kReplacement;
      replaced = true;
      text.remove_prefix(1);
    } else {
      out += text.substr(0, length);
      text.remove_prefix(length);
    }
  }
  return out;
}

std::string clean_text(std::string_view raw) {
  // The JSON report's rule for names first, so that both reports show a name alike.
  bool replaced = false;
  const std::string valid = valid_utf8(raw, replaced);
  std::string out;
  out.reserve(valid.size());
  for (std::size_t i = 0; i < valid.size();) {
    const auto lead = static_cast<unsigned char>(valid[i]);
    const std::size_t len = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const std::string_view c = std::string_view(valid).substr(i, len);
    i += len;
    const bool c0 = lead < 0x20 || lead == 0x7F;
    const bool c1 = lead == 0xC2 && static_cast<unsigned char>(c[1]) <= 0x9F;  // U+0080-U+009F
    if (c0 || c1)
      continue;  // control characters: left out
    out += c == "\xEF\xBF\xBE" || c == "\xEF\xBF\xBF" ? kReplacement : c;
  }
  return out;
}

std::vector<std::size_t> char_starts(std::string_view text) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!continuation(static_cast<unsigned char>(text[i])))
      starts.push_back(i);
  return starts;
}

std::string shorten(std::string_view text, std::size_t max_chars) {
  const std::vector<std::size_t> starts = char_starts(text);
  if (starts.size() <= max_chars)
    return std::string(text);
  if (max_chars == 0)
    return {};
  const std::size_t tail = (max_chars - 1) / 2;
  const std::size_t head = max_chars - 1 - tail;
  std::string out(text.substr(0, starts[head]));
  out += kEllipsis;
  if (tail > 0)
    out += text.substr(starts[starts.size() - tail]);
  return out;
}

std::string hex_bytes(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

}  // namespace kolvane

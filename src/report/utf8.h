// Text for reports that must be valid UTF-8 (JSON, SVG), made from bytes that may not be.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kolvane {

// The text with every byte that does not belong to a well-formed UTF-8 sequence (overlong
// forms, surrogates and values past U+10FFFF included) replaced by U+FFFD, one per byte.
// `replaced` tells whether there was any.
std::string valid_utf8(std::string_view text, bool& replaced);

// The bytes as lower-case hexadecimal, two digits each: "a\xff" gives "61ff".
std::string hex_bytes(std::string_view bytes);

// U+2026, where text gave way.
inline constexpr std::string_view kEllipsis = "\xE2\x80\xA6";

// Text fit to be shown: valid UTF-8 as it is; each byte that does not belong to a well-formed
// sequence becomes U+FFFD, as valid_utf8 does; control characters (U+0000 to U+001F, U+007F to
// U+009F) are left out; U+FFFE and U+FFFF, which XML does not allow, become U+FFFD.
std::string clean_text(std::string_view raw);

// The offsets where the characters of valid UTF-8 start, one per character.
std::vector<std::size_t> char_starts(std::string_view text);

// Valid UTF-8 of at most max_chars characters: longer text keeps its start and end around an
// ellipsis, so that both a path's top and its file name stay visible.
std::string shorten(std::string_view text, std::size_t max_chars);

}  // namespace kolvane

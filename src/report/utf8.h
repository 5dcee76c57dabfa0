// Text for reports that must be valid UTF-8 (JSON), made from bytes that may not be.
#pragma once

#include <string>
#include <string_view>

namespace kolvane {

// The text with every byte that does not belong to a well-formed UTF-8 sequence (overlong
// forms, surrogates and values past U+10FFFF included) replaced by U+FFFD, one per byte.
// `replaced` tells whether there was any.
std::string valid_utf8(std::string_view text, bool& replaced);

// The bytes as lower-case hexadecimal, two digits each: "a\xff" gives "61ff".
std::string hex_bytes(std::string_view bytes);

}  // namespace kolvane

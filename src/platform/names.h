// Names and texts the system hands over (file names, argument words, its error texts), made
// UTF-8 for reports. POSIX names are bytes, usually UTF-8 already, and pass through unchanged;
// Windows gives them in the ANSI code page, which is converted. A text the code page cannot
// read is returned unchanged, so the report shows its raw bytes.
#pragma once

#include <string>
#include <string_view>

namespace kolvane {

std::string name_to_utf8(std::string_view native);

}  // namespace kolvane

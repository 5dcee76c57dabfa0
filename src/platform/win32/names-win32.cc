#include <windows.h>

#include <climits>
#include <string>

#include "platform/names.h"

namespace kolvane {

std::string name_to_utf8(std::string_view native) {
  if (native.empty() || native.size() > INT_MAX) {
    return std::string(native);
  }
  const int length = static_cast<int>(native.size());
  // A byte sequence that is not valid in the code page fails here rather than turning into '?'.
  const int wide_length =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, native.data(), length, nullptr, 0);
  if (wide_length <= 0) {
    return std::string(native);
  }
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, native.data(), length, wide.data(),
                          wide_length) != wide_length) {
    return std::string(native);
  }
  const int utf8_length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  if (utf8_length <= 0) {
    return std::string(native);
  }
  std::string utf8(static_cast<std::size_t>(utf8_length), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, utf8.data(), utf8_length, nullptr,
                          nullptr) != utf8_length) {
    return std::string(native);
  }
  return utf8;
}

}  // namespace kolvane

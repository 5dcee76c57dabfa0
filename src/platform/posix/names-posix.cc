#include "platform/names.h"

namespace kolvane {

// The system does not say how a name's bytes are meant; they are taken as UTF-8 as they are.
std::string name_to_utf8(std::string_view native) {
  return std::string(native);
}

}  // namespace kolvane

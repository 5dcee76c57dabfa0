// The Windows queue's platform facts for the shared queue tests.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "io_queue_helpers.h"

namespace kolvane::queue_test {
const std::uint32_t kReadOnWriteOnlyError = ERROR_ACCESS_DENIED;
bool direct_refused() {
  return GetLastError() == ERROR_INVALID_PARAMETER;
}
}  // namespace kolvane::queue_test

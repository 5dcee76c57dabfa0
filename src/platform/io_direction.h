// Which way an I/O moves bytes: shared by the I/O queue, the meter and the reports.
#pragma once

#include <cstdint>

namespace kolvane {

enum class IoDirection : std::uint8_t { read, write };

}  // namespace kolvane

// What a report says of the machine a run was made on and what the run cost it: the host's
// name, the system's own version and the processor time the process used. One back end per
// platform (chosen by CMake), apart from the file operations so that any program can ask.
#pragma once

#include <string>

namespace kolvane {

// The host's name in UTF-8; empty when the system does not tell it.
std::string host_name();

// The system's name and version as the system itself reports it, not as a compatibility layer
// shows it to the program: "Linux 6.1.0-28-amd64", "Windows 10.0.19045". Empty when unknown.
std::string system_version();

// The processor time the process used so far, in seconds, in user and in system mode, all its
// threads together. False when the system does not tell (both are then left as they were).
struct ProcessorTime {
  double user_s = 0;
  double system_s = 0;
};
bool processor_time(ProcessorTime& time);

}  // namespace kolvane

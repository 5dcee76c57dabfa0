// The console control handler, exposed so tests can deliver console events to it directly:
// the emulator the tests run under cannot send them.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kolvane {

BOOL WINAPI console_event(DWORD event);

}  // namespace kolvane

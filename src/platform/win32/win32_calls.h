// The Win32 calls the back end makes for opening, measuring, reading, writing and closing,
// behind a table that tests can replace to make them fail or come back short.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, whose types it uses: the disk length request.
#include <winioctl.h>

#include <string>

namespace kolvane {

struct Win32Calls {
  HANDLE(WINAPI* create_file)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  BOOL(WINAPI* read_file)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* write_file)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* get_file_size)(HANDLE, PLARGE_INTEGER);
  BOOL(WINAPI* device_io_control)
  (HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* close_handle)(HANDLE);
};

// The table in use; the real calls unless a test has swapped them.
Win32Calls& win32_calls();
const Win32Calls& real_win32_calls();

// The error code of the last failed call, as taken right after it failed.
DWORD last_failure_code();

// The system's text for an error code, as last_error_text() gives it: whole lines, each
// ending in a bare "\n".
std::string system_error_text(DWORD code);

}  // namespace kolvane

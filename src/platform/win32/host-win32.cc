#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "platform/host.h"

namespace kolvane {
namespace {

std::string to_utf8(const wchar_t* wide, int length) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0)
    return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide, length, text.data(), size, nullptr, nullptr) != size)
    return {};
  return text;
}

// A FILETIME counts 100 ns ticks.
double seconds(const FILETIME& t) {
  const ULONGLONG ticks = (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  return static_cast<double>(ticks) / 1e7;
}

}  // namespace

std::string host_name() {
  DWORD size = 0;
  // The first call only tells the size, its terminating null included.
  GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
  if (size == 0)
    return {};
  std::wstring name(size, L'\0');
  if (!GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size))
    return {};
  return to_utf8(name.data(), static_cast<int>(size));
}

// GetVersionEx answers with the version the program's manifest claims to know, not the system's
// own; ntdll's RtlGetVersion does not. It is looked up at run time so that the program keeps
// importing only KERNEL32 and the C library.
std::string system_version() {
  using RtlGetVersionCall = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr)
    return {};
  // Through the generic function pointer type, which any function pointer converts to unwarned.
  const auto call = reinterpret_cast<RtlGetVersionCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (call == nullptr)
    return {};
  RTL_OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  if (call(&info) != 0)
    return {};
  return "Windows " + std::to_string(info.dwMajorVersion) + "." +
         std::to_string(info.dwMinorVersion) + "." + std::to_string(info.dwBuildNumber);
}

bool processor_time(ProcessorTime& time) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
    return false;
  time.user_s = seconds(user);
  time.system_s = seconds(kernel);
  return true;
}

}  // namespace kolvane

// The file operations over the Win32 file calls. Direct reads bypass the system cache
// (FILE_FLAG_NO_BUFFERING); direct writes are written through (FILE_FLAG_WRITE_THROUGH).
#include <malloc.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/profile.h"
#include "platform/signals.h"
#include "platform/win32/win32_calls.h"

namespace kolvane {
namespace {

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

const Win32Calls kRealCalls = {&CreateFileA,   &ReadFile,        &WriteFile,
                               &GetFileSizeEx, &DeviceIoControl, &CloseHandle};
Win32Calls g_calls = kRealCalls;

// The error code of the call that failed, taken at once: printing the prefix and formatting
// the text are calls too, and may change what GetLastError returns.
// One per thread: each worker tells its own failed call.
thread_local DWORD g_error = 0;
// The standard handles stay open for the program's own text lines.
HANDLE g_std_input = nullptr;
HANDLE g_std_output = nullptr;

HANDLE handle_of(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle file_of(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }

void note_failure() { g_error = GetLastError(); }

FileHandle checked_open(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) {
    note_failure();
    return kNoFile;
  }
  return file_of(handle);
}

HANDLE create(const char* name, DWORD access, DWORD disposition, DWORD flags) {
  return g_calls.create_file(name, access, kShareReadWrite, nullptr, disposition, flags, nullptr);
}

// Volumes and devices refuse to be created; only they may fall back to opening what exists.
bool is_device_path(const char* name) { return std::strncmp(name, "\\\\.\\", 4) == 0; }

// A disk or volume handle measures itself only when it was opened with read access.
bool disk_length(HANDLE handle, std::int64_t& size) {
  GET_LENGTH_INFORMATION length;
  DWORD got = 0;
  if (!g_calls.device_io_control(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                                 sizeof length, &got, nullptr)) {
    return false;
  }
  size = length.Length.QuadPart;
  return true;
}

// Files on disk get the volume's serial number and the file's index; a pipe, which has neither,
// is known by its handle, so it is the same as itself and nothing else.
bool identity_of_handle(HANDLE handle, FileIdentity& identity) {
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_PIPE) {
    identity = {~std::uint64_t{0}, reinterpret_cast<std::uintptr_t>(handle)};
    return true;
  }
  if (type != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info)) {
    identity = {info.dwVolumeSerialNumber,
                (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    return true;
  }
  // Wine refuses the query above on an inherited standard handle and reports no volume for it
  // here: the index alone is what can be compared then.
  FILE_ID_INFO id;
  if (!GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) return false;
  std::uint64_t index = 0;
  std::memcpy(&index, id.FileId.Identifier, sizeof index);
  identity = {id.VolumeSerialNumber, index, id.VolumeSerialNumber != 0};
  return true;
}

}  // namespace

Win32Calls& win32_calls() { return g_calls; }
const Win32Calls& real_win32_calls() { return kRealCalls; }
DWORD last_failure_code() { return g_error; }

const PlatformProfile& this_platform() { return win32_profile; }

FileHandle open_input(const char* name, bool direct) {
  if (name == nullptr) {
    g_std_input = GetStdHandle(STD_INPUT_HANDLE);
    return checked_open(g_std_input);
  }
  return checked_open(
      create(name, GENERIC_READ, OPEN_EXISTING, direct ? FILE_FLAG_NO_BUFFERING : 0));
}

FileHandle open_output(const char* name, bool direct, bool notrunc, bool& output_preexists,
                       OutputAccess access) {
  if (name == nullptr) {
    g_std_output = GetStdHandle(STD_OUTPUT_HANDLE);
    return checked_open(g_std_output);
  }
  const DWORD flags = direct ? FILE_FLAG_WRITE_THROUGH : 0;
  const bool reads = is_device_path(name) || access == OutputAccess::read_write;
  const DWORD rights = reads ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
  if (!notrunc) {
    const HANDLE created = create(name, rights, CREATE_ALWAYS, flags);
    if (created != INVALID_HANDLE_VALUE && created != nullptr) return file_of(created);
    if (!is_device_path(name)) {
      note_failure();
      return kNoFile;
    }
  }
  const HANDLE existing = create(name, rights, OPEN_EXISTING, flags);
  output_preexists = true;
  return checked_open(existing);
}

// The console, the null device, serial and printer ports and named pipes: each name is reserved
// in every directory, with or without an extension.
bool name_is_stream(const char* name) {
  if (_strnicmp(name, "\\\\.\\pipe\\", 9) == 0) return true;
  const char* base = name;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') base = p + 1;
  }
  static const char* const kReserved[] = {"con", "conin$", "conout$", "nul", "prn", "aux"};
  const std::size_t stem = std::strcspn(base, ".");
  for (const char* word : kReserved) {
    if (stem == std::strlen(word) && _strnicmp(base, word, stem) == 0) return true;
  }
  const bool port_word = _strnicmp(base, "com", 3) == 0 || _strnicmp(base, "lpt", 3) == 0;
  return stem == 4 && port_word && base[3] >= '1' && base[3] <= '9';
}

// Told by the name alone: a name in the device namespace (\\.\ or \\?\) that is one word,
// with no path under it, is a drive, volume or physical disk (\\.\C:, \\.\PhysicalDrive0,
// \\?\Volume{...}); \\?\C:\dir\file and the like are ordinary paths.
bool name_is_device(const char* name) {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  const bool namespace_prefix = separator(name[0]) && separator(name[1]) &&
                                (name[2] == '.' || name[2] == '?') && separator(name[3]);
  if (!namespace_prefix || name[4] == '\0') return false;
  for (const char* p = name + 4; *p != '\0'; ++p) {
    if (separator(*p)) return false;
  }
  return true;
}

bool file_size(FileHandle file, std::int64_t& size) {
  LARGE_INTEGER value;
  if (g_calls.get_file_size(handle_of(file), &value)) {
    size = value.QuadPart;
    return true;
  }
  // Disks and volumes have no file size, only a length; anything else keeps the size query's
  // own error.
  note_failure();
  return disk_length(handle_of(file), size);
}

FileKind file_kind(FileHandle file) {
  const HANDLE handle = handle_of(file);
  if (GetFileType(handle) != FILE_TYPE_DISK) return FileKind::stream;
  // A disk-type handle whose size cannot be read as a file's is a volume or a physical drive.
  LARGE_INTEGER size;
  return g_calls.get_file_size(handle, &size) ? FileKind::regular : FileKind::device;
}

bool set_position(FileHandle file, std::uint64_t offset) {
  // A pipe or console has no position: the system would take the call and change nothing.
  if (GetFileType(handle_of(file)) != FILE_TYPE_DISK) {
    g_error = ERROR_SEEK_ON_DEVICE;
    return false;
  }
  LARGE_INTEGER target;
  target.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(handle_of(file), target, nullptr, FILE_BEGIN)) {
    note_failure();
    return false;
  }
  return true;
}

namespace {

// Where a call moves its bytes: at the handle's own file pointer (a standard handle, whose
// pointer a shell may share), or at an offset the engine keeps, given in an OVERLAPPED on the
// synchronous handle so that one call both positions and transfers.
struct Place {
  HANDLE handle;
  bool positioned;
  std::uint64_t offset;

  // The OVERLAPPED of the next call, or none for the file pointer. A synchronous handle
  // completes the call before it returns, so the structure need not outlive it.
  LPOVERLAPPED where(OVERLAPPED& at) const {
    if (!positioned)
      return nullptr;
    at = OVERLAPPED{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return &at;
  }
};

// The console handler cuts short a call blocked on a pipe or the console when a stop is asked
// (CancelSynchronousIo). A positioned call never waits on a peer: one it cut short anyway is
// made again, so the stop ends the run between I/Os as on a file it always did.
bool cut_by_stop(DWORD error) {
  return error == ERROR_OPERATION_ABORTED && stop_requested() != StopRequest::none;
}

std::int64_t read_into(const Place& at, void* buffer, std::uint64_t n) {
  for (;;) {
    DWORD got = 0;
    OVERLAPPED overlapped;
    if (g_calls.read_file(at.handle, buffer, static_cast<DWORD>(n), &got,
                          at.where(overlapped)))
      return got;
    const DWORD error = GetLastError();
    // The writer of an anonymous pipe has gone, or a positioned read starts at or past the end
    // of the file: that is the end of the input.
    if (error == ERROR_BROKEN_PIPE || (at.positioned && error == ERROR_HANDLE_EOF))
      return 0;
    if (cut_by_stop(error)) {
      if (at.positioned) continue;
      return got != 0 ? static_cast<std::int64_t>(got) : kReadInterrupted;
    }
    g_error = error;
    return -1;
  }
}

Written write_from(Place at, const void* buffer, std::uint64_t n) {
  const auto* data = static_cast<const unsigned char*>(buffer);
  std::uint64_t moved = 0;
  while (n != 0) {
    DWORD put = 0;
    OVERLAPPED overlapped;
    if (!g_calls.write_file(at.handle, data, static_cast<DWORD>(n), &put, at.where(overlapped))) {
      const DWORD error = GetLastError();
      if (cut_by_stop(error)) {
        if (!at.positioned) return {Written::End::stopped, moved + put};
        put = 0;
      } else {
        g_error = error;
        return {Written::End::failed, moved};
      }
    } else if (put == 0) {
      // A write that takes nothing would never finish the block.
      g_error = ERROR_WRITE_FAULT;
      return {Written::End::failed, moved};
    }
    data += put;
    n -= put;
    moved += put;
    at.offset += put;
  }
  return {Written::End::all, moved};
}

}  // namespace

std::int64_t read_block(FileHandle file, void* buffer, std::uint64_t n) {
  return read_into({handle_of(file), false, 0}, buffer, n);
}

Written write_block(FileHandle file, const void* buffer, std::uint64_t n, bool) {
  return write_from({handle_of(file), false, 0}, buffer, n);
}

std::int64_t read_block_at(FileHandle file, void* buffer, std::uint64_t n, std::uint64_t offset) {
  return read_into({handle_of(file), true, offset}, buffer, n);
}

bool write_block_at(FileHandle file, const void* buffer, std::uint64_t n, std::uint64_t offset,
                    bool) {
  return static_cast<bool>(write_from({handle_of(file), true, offset}, buffer, n));
}

// Windows has one flush for both: it writes the data and the file's metadata.
bool sync_file(FileHandle file, bool) {
  if (FlushFileBuffers(handle_of(file))) return true;
  note_failure();
  return false;
}

bool close_file(FileHandle file) {
  const HANDLE handle = handle_of(file);
  if (handle == g_std_input || handle == g_std_output) return true;
  if (g_calls.close_handle(handle)) return true;
  note_failure();
  return false;
}

namespace {

bool document_in_place(const char* name, Replacement& r) {
  bool preexists = false;
  r.file = open_output(name, false, false, preexists);
  return r.file != kNoFile;
}

}  // namespace

bool open_replacement(const char* name, Replacement& r) {
  r = Replacement{};
  r.target = name;
  const DWORD attributes = GetFileAttributesA(name);
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (name_is_stream(name) || is_device_path(name) ||
      (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
    return document_in_place(name, r);
  static unsigned made = 0;
  for (;;) {
    r.temporary = std::string(name) + ".kolvane-" + std::to_string(GetCurrentProcessId()) + "-" +
                  std::to_string(made++) + ".tmp";
    const HANDLE handle = create(r.temporary.c_str(), GENERIC_WRITE, CREATE_NEW, 0);
    if (handle != INVALID_HANDLE_VALUE) {
      r.file = file_of(handle);
      return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    r.temporary.clear();
    // A file the program may write in a folder it may not add to: in place, as before.
    if (exists && error == ERROR_ACCESS_DENIED) return document_in_place(name, r);
    g_error = error;
    return false;
  }
}

bool commit_replacement(Replacement& r) {
  const FileHandle file = r.file;
  r.file = kNoFile;
  if (r.temporary.empty()) return close_file(file);
  bool done = FlushFileBuffers(handle_of(file)) != 0;
  if (!done) note_failure();
  done = close_file(file) && done;
  // An existing document's attributes carry over to the one that replaces it. A read-only one
  // is not replaced (as it was not overwritten): the temporary stays removable then.
  if (done) {
    const DWORD attributes = GetFileAttributesA(r.target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
      SetFileAttributesA(r.temporary.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    done = MoveFileExA(r.temporary.c_str(), r.target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!done) note_failure();
  }
  if (!done) DeleteFileA(r.temporary.c_str());
  r.temporary.clear();
  return done;
}

void abandon_replacement(Replacement& r) {
  if (r.file != kNoFile) static_cast<void>(close_file(r.file));
  r.file = kNoFile;
  if (!r.temporary.empty()) DeleteFileA(r.temporary.c_str());
  r.temporary.clear();
}

void* alloc_aligned(std::uint64_t n) { return _aligned_malloc(n == 0 ? 1 : n, kBufferAlignment); }

void free_aligned(void* buffer) { _aligned_free(buffer); }

std::string last_error_text() { return system_error_text(g_error); }

std::string system_error_text(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
      nullptr);
  if (length == 0 || text == nullptr) {
    char fallback[64];
    std::snprintf(fallback, sizeof fallback, "system error %lu\n",
                  static_cast<unsigned long>(code));
    return fallback;
  }
  // Standard error is a text stream that turns each "\n" into CR LF: hand it bare line ends,
  // or every line of the system's text would end in CR CR LF.
  std::string lines(text, length);
  LocalFree(text);
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == '\r' && i + 1 < lines.size() && lines[i + 1] == '\n') continue;
    out += lines[i];
  }
  return out;
}

// Files opened here are handles, never numbered like the standard streams: an output file
// cannot take the place of a missing standard handle, so there is nothing to fill.
void fill_closed_standard_streams() {}

bool identity_of_name(const char* name, FileIdentity& identity) {
  // Opening a named pipe connects to it and takes an instance the copy itself would need; a
  // volume or drive is not where standard output goes. Neither is asked.
  if (is_device_path(name)) return false;
  // No access asked: only the file's identity is read, and nothing is locked or created.
  const HANDLE handle =
      CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = GetFileType(handle) != FILE_TYPE_PIPE && identity_of_handle(handle, identity);
  CloseHandle(handle);
  return known;
}

bool identity_of_stream(StandardStream stream, FileIdentity& identity) {
  const HANDLE handle =
      GetStdHandle(stream == StandardStream::input    ? STD_INPUT_HANDLE
                   : stream == StandardStream::output ? STD_OUTPUT_HANDLE
                                                      : STD_ERROR_HANDLE);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         identity_of_handle(handle, identity);
}

// A console answers for its screen buffer; a pipe or a file does not.
bool error_stream_is_terminal(std::size_t& columns) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return false;
  const int width = info.srWindow.Right - info.srWindow.Left + 1;
  if (width > 0) columns = static_cast<std::size_t>(width);
  return true;
}

std::uint32_t process_id() { return GetCurrentProcessId(); }

}  // namespace kolvane

// An in-memory back end: the engine runs against it without touching a disk. Files are byte
// vectors; every call is logged, and any call can be scripted to fail or come back short.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kolvane::fake {

struct File {
  std::string name;
  std::vector<unsigned char> data;
  std::uint64_t position = 0;
  bool open = true;
  // Failures and short counts, by call number on this file (1 for the first call).
  int fail_read_call = 0;
  int fail_write_call = 0;
  bool size_fails = false;
  bool seek_fails = false;
  bool close_fails = false;
  // Reads return at most this many bytes (a pipe or terminal gives short reads).
  std::uint64_t read_limit = UINT64_MAX;
  // What the file is: a regular file unless a test makes it a device or a stream.
  FileKind kind = FileKind::regular;
  int reads = 0;
  int writes = 0;
};

struct System {
  std::map<FileHandle, File> files;
  std::vector<std::string> log;  // "read 3 512", "write 4 512", "close 3", "alloc 512", ...
  int fail_alloc_call = 0;       // the Nth alloc_aligned fails
  int allocs = 0;
  int live_buffers = 0;
  FileHandle next_handle = 3;
};

System& sys();
// Clears all files, scripts and the log.
void reset();
// A file the engine can open by name (open_input / open_output find it by name).
FileHandle add_file(const std::string& name, std::vector<unsigned char> data);
File& file(FileHandle h);
// n bytes counting up from `first` (mod 256), so copied ranges are easy to check.
std::vector<unsigned char> pattern(std::size_t n, unsigned first = 0);

}  // namespace kolvane::fake

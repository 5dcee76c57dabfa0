// The file operations the copy engine needs, one back end per platform (chosen by CMake).
// Every operation reports failure only through its result: the engine prints the message,
// releases what it holds and chooses the exit status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kolvane {

// A descriptor on POSIX, a HANDLE on Win32, widened so one type serves both.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Absent name: standard input. Returns kNoFile on failure.
FileHandle open_input(const char* name, bool direct);

// Absent name: standard output. Sets output_preexists when the output is the null sink or an
// existing file opened without truncation. Returns kNoFile on failure, or when notrunc asks
// for a file that does not exist (no open is made then).
FileHandle open_output(const char* name, bool direct, bool notrunc, bool& output_preexists);

bool output_exists(const char* name);

// Size in bytes as the system reports it (0 for pipes and devices); false on failure.
bool file_size(FileHandle file, std::int64_t& size);

// What an open file is: whether it can be positioned and measured, or only read or written in
// order.
enum class FileKind {
  regular,  // a regular file
  device,   // a block device or volume
  stream,   // a pipe, terminal, socket or character device
};
FileKind file_kind(FileHandle file);

// Positions at a byte offset from the start of the file; false on failure.
bool set_position(FileHandle file, std::uint64_t offset);

// One block: returns the bytes read, 0 at the end of the input, -1 on failure. Interrupted
// calls are retried, and a read cut short by the system's per-call limit is continued; any
// other short count is returned as it is (a partial record).
std::int64_t read_block(FileHandle file, void* buffer, std::uint64_t n);

// Writes all n bytes, continuing after short writes; false on failure. A partial block on a
// direct output asks for `unaligned_tail`: the back end then writes it past the direct path,
// since devices refuse direct transfers of odd lengths.
bool write_block(FileHandle file, const void* buffer, std::uint64_t n, bool unaligned_tail);

// Closes an opened file; the standard streams are left open. The result is not looked at.
void close_file(FileHandle file);

// Buffers aligned for direct transfers (kBufferAlignment). nullptr on failure.
inline constexpr std::size_t kBufferAlignment = 4096;
void* alloc_aligned(std::uint64_t n);
void free_aligned(void* buffer);

// The system's text for the last failed call, as printed after an error prefix: whole lines,
// each ending in "\n" (empty on POSIX).
std::string last_error_text();

std::uint32_t process_id();

}  // namespace kolvane

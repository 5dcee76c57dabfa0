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

// What the output is opened for: a run that reads its own blocks back opens it for both.
enum class OutputAccess { write, read_write };

// Absent name: standard output. Sets output_preexists when the output is the null sink or an
// existing file opened without truncation. Returns kNoFile on failure; with notrunc a file
// that does not exist is a failure too (nothing is created). A block device is opened for
// this program alone where the system allows it, so a mounted or claimed one is refused.
FileHandle open_output(const char* name, bool direct, bool notrunc, bool& output_preexists,
                       OutputAccess access = OutputAccess::write);

// True when the name is a pipe, terminal, socket or other character device: a file that
// cannot be read back at the offsets it was written at. Asked without opening it, since
// opening a pipe may wait for the other end. False for a name that does not exist.
bool name_is_stream(const char* name);

// True when the name is a block device (on Windows a drive or volume): a file a report must
// never be written to. Asked without opening it. False for a name that does not exist.
bool name_is_device(const char* name);

// Size in bytes: a block device's or volume's capacity, a regular file's length, 0 for pipes
// and terminals; false on failure.
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

// One block: returns the bytes read, 0 at the end of the input, -1 on failure, or
// kReadInterrupted when a stop or status request cut the read short before any byte came (a
// read with bytes already returns them). Calls interrupted otherwise are retried, and a read cut
// short by the system's per-call limit is continued; any other short count is returned as it is (a
// partial record).
std::int64_t read_block(FileHandle file, void* buffer, std::uint64_t n);
inline constexpr std::int64_t kReadInterrupted = -2;

// How a write of a block ended, and the bytes of it that went out (`moved`).
struct Written {
  enum class End {
    all,      // every byte went out
    failed,   // the system refused; its text is the last error
    stopped,  // a stop request ended a write blocked on a pipe, FIFO or terminal whose reader
              // does not read: waiting on would swallow the request
  };
  End end = End::all;
  std::uint64_t moved = 0;
  explicit operator bool() const { return end == End::all; }
};

// Writes all n bytes, continuing after short writes and interrupted calls, except that a stop
// request ends the write (see Written). A partial block on a direct output asks for
// `unaligned_tail`: the back end then writes it past the direct path, since devices refuse
// direct transfers of odd lengths.
Written write_block(FileHandle file, const void* buffer, std::uint64_t n, bool unaligned_tail);

// The same two at a byte offset from the start of the file, in one positioned call each (a read
// cut at the per-call limit continues at the offset past what came): for files the program
// opened by name, whose position nothing else shares. The file's own position is not used.
// At or past the end of the file a read gives 0.
// A positioned write never waits on a reader, so it is always finished: true, or false on failure.
std::int64_t read_block_at(FileHandle file, void* buffer, std::uint64_t n, std::uint64_t offset);
bool write_block_at(FileHandle file, const void* buffer, std::uint64_t n, std::uint64_t offset,
                    bool unaligned_tail);

// Makes what was written to the file reach its device: its data and metadata, or with
// `data_only` the data and only the metadata needed to read them back. False on failure.
bool sync_file(FileHandle file, bool data_only);

// Closes an opened file; the standard streams are left open (true). False when the system
// reports a failure: for an output, data written may not have reached the file.
bool close_file(FileHandle file);

// A document (json=, plot=) written whole or not at all: into a new file beside the one it
// replaces (beside a symbolic link's target, so the link keeps pointing where it did), which
// takes the old file's place in one step once complete, keeping its mode; a new document gets
// the mode new files get (0666 less the umask on POSIX). What is not a regular file (a FIFO, a
// terminal, a character device) is written in place, as is a file in a folder the program may
// not add a file to.
struct Replacement {
  FileHandle file = kNoFile;
  std::string temporary;  // empty: written in place
  std::string target;
};
// Opens `name` for the document. False on failure, with the system's text as the last error;
// an open that waited on a FIFO's reader and was given up for a stop request fails too.
bool open_replacement(const char* name, Replacement& replacement);
// Makes the written document the file's: synced and put in the old one's place (in place:
// closed). False on failure, with the system's text; nothing is left behind then.
bool commit_replacement(Replacement& replacement);
// Closes and removes what open_replacement made, leaving the file as it was (in place: closed).
void abandon_replacement(Replacement& replacement);

// Buffers aligned for direct transfers (kBufferAlignment). nullptr on failure.
inline constexpr std::size_t kBufferAlignment = 4096;
void* alloc_aligned(std::uint64_t n);
// Whether memory at `p` may take part in a direct transfer.
inline bool is_direct_aligned(const void* p) {
  return reinterpret_cast<std::uintptr_t>(p) % kBufferAlignment == 0;
}
void free_aligned(void* buffer);

// The system's text for the last failed call, as printed after an error prefix: whole lines,
// each ending in "\n".
std::string last_error_text();

// Standard input, output and error that the program was started without are opened on the
// null device, so that no file the run opens can take their place and receive text lines.
void fill_closed_standard_streams();

// Tells whether two names or streams reach the same file. Only regular files, block devices
// and pipes have an identity: a terminal or the null device is never "the same file".
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  // Some systems cannot name the volume of an inherited standard handle; the file's index is
  // then compared alone. Moving lines that need not move is harmless, mixing them in is not.
  bool device_known = true;
};
inline bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.index == b.index && (a.device == b.device || !a.device_known || !b.device_known);
}
enum class StandardStream { input, output, error };
// False when the file does not exist or has no identity.
bool identity_of_name(const char* name, FileIdentity& identity);
bool identity_of_stream(StandardStream stream, FileIdentity& identity);

// Whether standard error is a terminal (a console on Windows) and, when the system tells, how
// many columns wide it is (`columns` is left as it was otherwise).
bool error_stream_is_terminal(std::size_t& columns);

std::uint32_t process_id();

}  // namespace kolvane

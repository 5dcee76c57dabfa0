// The Win32 back end through its replaceable call table, run under wine in the cross build.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/signals.h"
#include "platform/win32/win32_calls.h"
#include "platform/win32/win32_signals.h"

namespace kolvane {

std::string wrong_access_text() {
  return system_error_text(ERROR_ACCESS_DENIED);
}

namespace {

struct Script {
  std::vector<DWORD> dispositions;  // of each CreateFileA call
  std::vector<DWORD> accesses;      // of each CreateFileA call
  DWORD create_always_error = 0;    // CREATE_ALWAYS fails with this code when not 0
  DWORD read_error = 0;
  DWORD write_limit = 0;  // WriteFile takes at most this many bytes
  std::string written;
  DWORD size_error = 0;    // GetFileSizeEx fails with this code when not 0
  DWORD length_error = 0;  // the disk length request fails with this code when not 0
  DWORD close_error = 0;   // CloseHandle fails with this code when not 0
  std::vector<DWORD> control_codes;
  // The offset each read or write was given in its OVERLAPPED; kOwnPointer without one.
  std::vector<std::uint64_t> offsets;
} script;

constexpr std::uint64_t kOwnPointer = ~std::uint64_t{0};

void note_offset(LPOVERLAPPED at) {
  script.offsets.push_back(at == nullptr ? kOwnPointer
                                         : (std::uint64_t{at->OffsetHigh} << 32) | at->Offset);
}

BOOL scripted(DWORD error) {
  if (error == 0)
    return TRUE;
  SetLastError(error);
  return FALSE;
}

BOOL WINAPI fake_size(HANDLE, PLARGE_INTEGER size) {
  size->QuadPart = 5000;
  return scripted(script.size_error);
}

BOOL WINAPI fake_control(HANDLE, DWORD code, LPVOID, DWORD, LPVOID out, DWORD out_size, LPDWORD got,
                         LPOVERLAPPED) {
  script.control_codes.push_back(code);
  if (out_size >= sizeof(GET_LENGTH_INFORMATION))
    static_cast<GET_LENGTH_INFORMATION*>(out)->Length.QuadPart = LONGLONG{1} << 40;
  *got = sizeof(GET_LENGTH_INFORMATION);
  return scripted(script.length_error);
}

BOOL WINAPI fake_close(HANDLE) {
  return scripted(script.close_error);
}

HANDLE WINAPI fake_create(LPCSTR, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD, HANDLE) {
  script.dispositions.push_back(disposition);
  script.accesses.push_back(access);
  if (disposition == CREATE_ALWAYS && script.create_always_error != 0) {
    SetLastError(script.create_always_error);
    return INVALID_HANDLE_VALUE;
  }
  return reinterpret_cast<HANDLE>(std::intptr_t{0x100});
}

BOOL WINAPI fake_read(HANDLE, LPVOID, DWORD, LPDWORD got, LPOVERLAPPED at) {
  note_offset(at);
  *got = 0;
  SetLastError(script.read_error);
  return FALSE;
}

BOOL WINAPI fake_write(HANDLE, LPCVOID data, DWORD n, LPDWORD put, LPOVERLAPPED at) {
  note_offset(at);
  *put = n < script.write_limit ? n : script.write_limit;
  script.written.append(static_cast<const char*>(data), *put);
  return TRUE;
}

class Win32Backend : public testing::Test {
 protected:
  void SetUp() override {
    script = Script{};
    win32_calls() = {&fake_create, &fake_read, &fake_write, &fake_size, &fake_control, &fake_close};
  }
  void TearDown() override { win32_calls() = real_win32_calls(); }
};

// A device path also asks read access, without which a volume cannot be measured.
TEST_F(Win32Backend, OnlyDevicePathsFallBackToOpeningWhatExists) {
  constexpr DWORD kWrite = GENERIC_WRITE, kBoth = GENERIC_READ | GENERIC_WRITE;
  const struct {
    const char* name;
    bool notrunc, opened, preexists;
    std::vector<DWORD> calls, accesses;
  } rows[] = {
      {"plain.img", false, false, false, {CREATE_ALWAYS}, {kWrite}},
      {"\\\\.\\x:", false, true, true, {CREATE_ALWAYS, OPEN_EXISTING}, {kBoth, kBoth}},
      {"\\\\.\\PhysicalDrive1", true, true, true, {OPEN_EXISTING}, {kBoth}},
      {"plain.img", true, true, true, {OPEN_EXISTING}, {kWrite}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    script = Script{};
    script.create_always_error = ERROR_ACCESS_DENIED;
    bool preexists = false;
    const FileHandle h = open_output(row.name, false, row.notrunc, preexists);
    EXPECT_EQ(h != kNoFile, row.opened);
    EXPECT_EQ(preexists, row.preexists);
    EXPECT_EQ(script.dispositions, row.calls);
    EXPECT_EQ(script.accesses, row.accesses);
    // The code reported is the refused create's, whatever the calls after it left behind.
    SetLastError(0);
    if (!row.opened) {
      EXPECT_EQ(last_failure_code(), DWORD{ERROR_ACCESS_DENIED});
    }
  }
}

// A file has a size; a disk or volume, which has none, has a length; anything else keeps the
// size query's own error.
TEST_F(Win32Backend, SizeIsTheFileSizeOrTheDiskLength) {
  const struct {
    DWORD size_error, length_error;
    bool ok;
    std::int64_t size;
    std::size_t requests;
    DWORD code;
  } rows[] = {
      {0, 0, true, 5000, 0, 0},
      {ERROR_INVALID_PARAMETER, 0, true, std::int64_t{1} << 40, 1, 0},
      {ERROR_INVALID_HANDLE, ERROR_INVALID_FUNCTION, false, -1, 1, ERROR_INVALID_HANDLE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.size_error);
    script = Script{};
    script.size_error = row.size_error;
    script.length_error = row.length_error;
    std::int64_t size = -1;
    EXPECT_EQ(file_size(0x100, size), row.ok);
    EXPECT_EQ(size, row.size);
    EXPECT_EQ(script.control_codes.size(), row.requests);
    if (row.requests != 0) {
      EXPECT_EQ(script.control_codes[0], DWORD{IOCTL_DISK_GET_LENGTH_INFO});
    }
    if (!row.ok) {
      EXPECT_EQ(last_failure_code(), row.code);
    }
  }
}

TEST_F(Win32Backend, AFailedCloseIsReported) {
  EXPECT_TRUE(close_file(0x100));
  script.close_error = ERROR_DISK_FULL;
  EXPECT_FALSE(close_file(0x100));
  EXPECT_EQ(last_failure_code(), DWORD{ERROR_DISK_FULL});
}

TEST_F(Win32Backend, BrokenPipeEndsTheInputOtherErrorsFail) {
  char buffer[16];
  script.read_error = ERROR_BROKEN_PIPE;
  EXPECT_EQ(read_block(0x100, buffer, sizeof buffer), 0);
  script.read_error = ERROR_ACCESS_DENIED;
  EXPECT_EQ(read_block(0x100, buffer, sizeof buffer), -1);
  EXPECT_EQ(last_failure_code(), DWORD{ERROR_ACCESS_DENIED});
}

// The end of the file, met by a positioned read, is a read of nothing; without an offset the
// same code stays a failure. A positioned write cut short goes on at the offset past it.
TEST_F(Win32Backend, PositionedCallsCarryTheirOffset) {
  char buffer[16];
  const std::uint64_t beyond = (std::uint64_t{5} << 32) + 4096;
  const std::string block(1000, 'k');
  // clang-format off
  const struct { const char* what; DWORD read_error; std::function<bool()> call;
                 std::vector<std::uint64_t> offsets; DWORD code; } rows[] = {
      {"end of the file", ERROR_HANDLE_EOF, [&] { return read_block_at(0x100, buffer, 16, beyond) == 0; }, {beyond}, 0},
      {"failed read", ERROR_CRC, [&] { return read_block_at(0x100, buffer, 16, beyond) == -1; }, {beyond}, ERROR_CRC},
      {"unpositioned", ERROR_HANDLE_EOF, [&] { return read_block(0x100, buffer, 16) == -1; }, {kOwnPointer}, ERROR_HANDLE_EOF},
      {"short writes", 0, [&] { return write_block_at(0x100, block.data(), 1000, beyond, false); },
       {beyond, beyond + 400, beyond + 800}, 0}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    script = Script{};
    script.read_error = r.read_error;
    script.write_limit = 400;
    EXPECT_TRUE(r.call());
    EXPECT_EQ(script.offsets, r.offsets);
    if (r.code != 0) {
      EXPECT_EQ(last_failure_code(), r.code);
    }
  }
  EXPECT_EQ(script.written, block);
}

TEST_F(Win32Backend, ShortWritesAreFinishedAndNoProgressFails) {
  const std::string block(1000, 'k');
  script.write_limit = 300;
  ASSERT_TRUE(write_block(0x100, block.data(), block.size(), false));
  EXPECT_EQ(script.written, block);
  script.write_limit = 0;
  EXPECT_FALSE(write_block(0x100, block.data(), block.size(), false));
}

TEST_F(Win32Backend, BuffersAreAlignedForUnbufferedReads) {
  for (std::uint64_t n : {1u, 512u, 4097u, 1u << 20}) {
    void* p = alloc_aligned(n);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % kBufferAlignment, 0u) << n;
    free_aligned(p);
  }
}

// The names that reach a console, a port or a pipe, whatever the folder or extension (a run
// that reads its blocks back refuses them before opening anything), and the drives, volumes and
// physical disks, told by their name alone: one word in the device namespace.
TEST(Win32StreamNames, StreamsAndDevicesAreToldByTheirNames) {
  const struct {
    const char* name;
    bool stream, device;
  } rows[] = {
      {"CON", true, false},
      {"con.txt", true, false},
      {"c:\\dir\\nul", true, false},
      {"Conout$", true, false},
      {"COM1", true, false},
      {"lpt9.log", true, false},
      {"\\\\.\\pipe\\kolvane", true, false},
      {"console", false, false},
      {"com", false, false},
      {"COM10", false, false},
      {"out.img", false, false},
      {"\\\\.\\x:", false, true},
      {"d:\\nul\\out", false, false},
      {"\\\\.\\PhysicalDrive0", false, true},
      {"//./c:", false, true},
      {"\\\\?\\Volume{0b1c}", false, true},
      {"\\\\?\\C:\\dir\\r.json", false, false},
      {"\\\\.\\", false, false},
      {"\\\\server\\share", false, false},
      {"C:", false, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(name_is_stream(row.name), row.stream) << row.name;
    EXPECT_EQ(name_is_device(row.name), row.device) << row.name;
  }
}

// Console events reach the handler through its seam: the emulator cannot send them. Ctrl-C and
// Ctrl-Break ask to stop as an interrupt, closing the console as a termination; the first one
// is taken, a second one goes on to the system's handler, which ends the program at once.
TEST(Win32Signals, ConsoleEventsAskToStopOnce) {
  const struct {
    DWORD first, second;
    StopRequest request;
  } rows[] = {
      {CTRL_C_EVENT, CTRL_C_EVENT, StopRequest::interrupt},
      {CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT, StopRequest::interrupt},
      {CTRL_CLOSE_EVENT, CTRL_C_EVENT, StopRequest::terminate},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.first);
    simulate_request(StopRequest::none, false);
    EXPECT_FALSE(request_pending());
    EXPECT_EQ(console_event(row.first), TRUE);
    EXPECT_EQ(stop_requested(), row.request);
    // The JSON of a run so ended tells the status the program ends with.
    EXPECT_EQ(request_exit_status(row.request), 130);
    EXPECT_TRUE(request_pending());
    EXPECT_EQ(console_event(row.second), FALSE);
    EXPECT_EQ(stop_requested(), row.request);
  }
  // Events that are not a request to stop are left to the system.
  simulate_request(StopRequest::none, false);
  EXPECT_EQ(console_event(CTRL_LOGOFF_EVENT), FALSE);
  EXPECT_EQ(console_event(CTRL_SHUTDOWN_EVENT), FALSE);
  EXPECT_EQ(stop_requested(), StopRequest::none);
  EXPECT_FALSE(take_status_request());
}

// The first request cuts short a read or a write waiting on a pipe whose other end does
// nothing: the console handler runs on a thread of its own, and the copy must not wait on.
TEST(Win32Signals, TheFirstRequestEndsACallWaitingOnAPipe) {
  install_signal_handlers();
  HANDLE read_end = nullptr, write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 4096));
  std::vector<unsigned char> block(65536, 7);
  for (const bool reading : {true, false}) {
    SCOPED_TRACE(reading ? "read" : "write");
    simulate_request(StopRequest::none, false);
    std::thread asker([] {
      Sleep(300);
      console_event(CTRL_C_EVENT);
    });
    if (reading) {
      EXPECT_EQ(read_block(reinterpret_cast<FileHandle>(read_end), block.data(), 16),
                kReadInterrupted);
    } else {
      const Written written =
          write_block(reinterpret_cast<FileHandle>(write_end), block.data(), block.size(), false);
      EXPECT_EQ(written.end, Written::End::stopped);
      EXPECT_LT(written.moved, block.size());
    }
    asker.join();
  }
  simulate_request(StopRequest::none, false);
  CloseHandle(read_end);
  CloseHandle(write_end);
}

}  // namespace
}  // namespace kolvane

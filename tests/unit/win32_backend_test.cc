// The Win32 back end through its replaceable call table, run under wine in the cross build.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32_calls.h"

namespace kolvane {
namespace {

struct Script {
  std::vector<DWORD> dispositions;  // of each CreateFileA call
  DWORD create_always_error = 0;    // CREATE_ALWAYS fails with this code when not 0
  DWORD read_error = 0;
  DWORD write_limit = 0;  // WriteFile takes at most this many bytes
  std::string written;
} script;

HANDLE WINAPI fake_create(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                          HANDLE) {
  script.dispositions.push_back(disposition);
  if (disposition == CREATE_ALWAYS && script.create_always_error != 0) {
    SetLastError(script.create_always_error);
    return INVALID_HANDLE_VALUE;
  }
  return reinterpret_cast<HANDLE>(std::intptr_t{0x100});
}

BOOL WINAPI fake_read(HANDLE, LPVOID, DWORD, LPDWORD got, LPOVERLAPPED) {
  *got = 0;
  SetLastError(script.read_error);
  return FALSE;
}

BOOL WINAPI fake_write(HANDLE, LPCVOID data, DWORD n, LPDWORD put, LPOVERLAPPED) {
  *put = n < script.write_limit ? n : script.write_limit;
  script.written.append(static_cast<const char*>(data), *put);
  return TRUE;
}

class Win32Backend : public testing::Test {
 protected:
  void SetUp() override {
    script = Script{};
    win32_calls() = {&fake_create, &fake_read, &fake_write};
  }
  void TearDown() override { win32_calls() = real_win32_calls(); }
};

TEST_F(Win32Backend, OnlyDevicePathsFallBackToOpeningWhatExists) {
  const struct {
    const char* name;
    bool notrunc, opened, preexists;
    std::vector<DWORD> calls;
  } rows[] = {
      {"plain.img", false, false, false, {CREATE_ALWAYS}},
      {"\\\\.\\x:", false, true, true, {CREATE_ALWAYS, OPEN_EXISTING}},
      {"plain.img", true, true, true, {OPEN_EXISTING}},
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
    // The code reported is the refused create's, whatever the calls after it left behind.
    SetLastError(0);
    if (!row.opened) {
      EXPECT_EQ(last_failure_code(), DWORD{ERROR_ACCESS_DENIED});
    }
  }
}

TEST_F(Win32Backend, BrokenPipeEndsTheInputOtherErrorsFail) {
  char buffer[16];
  script.read_error = ERROR_BROKEN_PIPE;
  EXPECT_EQ(read_block(0x100, buffer, sizeof buffer), 0);
  script.read_error = ERROR_ACCESS_DENIED;
  EXPECT_EQ(read_block(0x100, buffer, sizeof buffer), -1);
  EXPECT_EQ(last_failure_code(), DWORD{ERROR_ACCESS_DENIED});
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

}  // namespace
}  // namespace kolvane

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/signals.h"
#include "platform/win32/win32_signals.h"

namespace kolvane {
namespace {

// Written by the console's handler thread, read by the copy between I/Os: nothing else is
// touched there (the C library's state, rand's among it, belongs to the main thread).
volatile LONG g_stop = 0;  // a StopRequest
// The thread that copies, whose blocked read or write on a pipe or the console the first
// request cuts short (the handler runs on a thread of its own). Set before the handler is
// installed and never changed, so the handler only reads it.
HANDLE g_copy_thread = nullptr;

constexpr int kInterruptedStatus = 130;

}  // namespace

BOOL WINAPI console_event(DWORD event) {
  LONG request = 0;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      request = static_cast<LONG>(StopRequest::interrupt);
      break;
    case CTRL_CLOSE_EVENT:
      request = static_cast<LONG>(StopRequest::terminate);
      break;
    default:
      return FALSE;
  }
  // A second request finds the first one set and falls through to the system's default
  // handler, which ends the program at once.
  if (InterlockedCompareExchange(&g_stop, request, 0) != 0) return FALSE;
  // A call waiting on a peer that may never come would swallow the request: it returns with
  // ERROR_OPERATION_ABORTED, which the back end takes as the stop. Nothing waiting: no effect.
  if (g_copy_thread != nullptr) CancelSynchronousIo(g_copy_thread);
  return TRUE;
}

void install_signal_handlers() {
  // Ctrl-C ignored when the program started (started as a background job) stays ignored: the
  // process then does not receive it at all, and adding a handler does not change that.
  if (g_copy_thread == nullptr)
    g_copy_thread = OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId());
  SetConsoleCtrlHandler(console_event, TRUE);
}

StopRequest stop_requested() {
  return static_cast<StopRequest>(InterlockedCompareExchange(&g_stop, 0, 0));
}

bool take_status_request() { return false; }

bool request_pending() { return stop_requested() != StopRequest::none; }

void end_by_request(StopRequest) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(kInterruptedStatus);
}

int request_exit_status(StopRequest) {
  return kInterruptedStatus;
}

void simulate_request(StopRequest request, bool) {
  InterlockedExchange(&g_stop, static_cast<LONG>(request));
}

}  // namespace kolvane

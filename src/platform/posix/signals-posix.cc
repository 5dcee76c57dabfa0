#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/signals.h"

namespace kolvane {
namespace {

// Set in a handler, read by every worker thread: lock-free atomics are safe in both places.
std::atomic<int> g_stop{0};  // 0, or the signal number of the first stop request
std::atomic<int> g_status{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handlers' flags need no lock");

// The first request of either signal is noted for the run to answer. A second one, of either
// signal, ends the program at once as that signal would without a handler: the default action
// restored and the signal raised again, delivered as soon as this handler returns (it is
// blocked while the handler runs). Both calls are safe in a handler.
void on_stop(int signal_number) {
  int none = 0;
  if (g_stop.compare_exchange_strong(none, signal_number))
    return;
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void on_status(int) {
  g_status = 1;
}

// No SA_RESTART: a read or write blocked on a pipe or a terminal returns EINTR, so the copy
// sees the request without waiting for its peer.
void install_stop(int signal_number) {
  struct sigaction old {};
  if (sigaction(signal_number, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
    return;
  struct sigaction action {};
  action.sa_handler = on_stop;
  sigemptyset(&action.sa_mask);
  // Neither stop signal interrupts the other's handler halfway through its first request.
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  action.sa_flags = 0;
  sigaction(signal_number, &action, nullptr);
}

}  // namespace

void install_signal_handlers() {
  install_stop(SIGINT);
  install_stop(SIGTERM);
  // No SA_RESTART either: a read blocked on a pipe is cut short, so the counts are shown at
  // once; the back end makes interrupted writes again, and the engine the read.
  struct sigaction action {};
  action.sa_handler = on_status;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGUSR1, &action, nullptr);
  // A write past the file-size limit (ulimit -f) then fails with EFBIG and ends the run as any
  // failed write does, at every queue depth, instead of the signal killing the program with
  // the blocks before it unreported.
  action.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &action, nullptr);
}

StopRequest stop_requested() {
  switch (g_stop) {
    case 0:
      return StopRequest::none;
    case SIGTERM:
      return StopRequest::terminate;
    default:
      return StopRequest::interrupt;
  }
}

bool take_status_request() {
  return g_status.exchange(0) != 0;
}

bool request_pending() {
  return g_stop != 0 || g_status != 0;
}

void end_by_request(StopRequest request) {
  std::fflush(stdout);
  std::fflush(stderr);
  const int signal_number = request == StopRequest::terminate ? SIGTERM : SIGINT;
  signal(signal_number, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal_number);
  // Only reached if the default action did not end the process.
  std::_Exit(128 + signal_number);
}

int request_exit_status(StopRequest request) {
  return 128 + (request == StopRequest::terminate ? SIGTERM : SIGINT);
}

void simulate_request(StopRequest request, bool status) {
  g_stop = request == StopRequest::none ? 0 : request == StopRequest::terminate ? SIGTERM : SIGINT;
  g_status = status ? 1 : 0;
}

}  // namespace kolvane

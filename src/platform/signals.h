// Requests that reach a running copy from outside: the user asks it to stop (Ctrl-C, SIGTERM,
// Ctrl-Break, closing the console) or, on Linux, to show its counts so far (SIGUSR1). The
// handlers only set flags; the copy looks at them between I/Os, so a stop ends at the end of
// the I/O in flight and the run still reports what it did.
#pragma once

namespace kolvane {

enum class StopRequest {
  none,
  interrupt,  // SIGINT, Ctrl-C, Ctrl-Break
  terminate,  // SIGTERM, the console closing
};

// At start-up. A stop signal that was ignored when the program started (a background job)
// stays ignored. After the first stop request the next one ends the program at once.
void install_signal_handlers();

// The first stop request received, or none.
StopRequest stop_requested();

// True once per status request (SIGUSR1) received since the last call.
bool take_status_request();

// A stop or a status request has arrived and not yet been taken: a read that the request
// interrupted is given back to the engine to answer it, rather than made again.
bool request_pending();

// Ends the process as the stop request would have ended it without a handler (the shell sees
// 130 or 143 on Linux; status 130 on Windows). Standard output and error are flushed first.
[[noreturn]] void end_by_request(StopRequest request);

// The status the shell sees after end_by_request(request), for the reports written before it.
int request_exit_status(StopRequest request);

// For tests: as if a stop or status request had arrived; `none` clears every request.
void simulate_request(StopRequest request, bool status);

}  // namespace kolvane

// A failure of the run as a value: its exit status and its message, made where it happens and
// printed once by the driver, so that a worker or another rank can hand one up unprinted. Each
// wording stands here once.
#pragma once

#include <string>

#include "cli/settings.h"
#include "platform/platform.h"
#include "platform/profile.h"
#include "run/exit_status.h"

namespace kolvane {

// status 0: no failure (a stop request that ended the run early is none either).
struct Failure {
  int status = kExitSuccess;
  // The whole message as printed, line end and the system's text included.
  std::string message;

  bool failed() const { return status != kExitSuccess; }
  // The message without its line end, as the JSON document and the picture show it.
  std::string line() const;
};

// The name a read or write message shows: the name, or "standard input" / "standard output".
const char* input_name(const Settings& s);
const char* output_name(const Settings& s);

// Status 3. `text`: the system's text for the failure (by default the last failed call's).
Failure read_failure(const char* name, const std::string& text = last_error_text());
Failure write_failure(const char* name, const std::string& text = last_error_text());
// The input ended before the first byte an entry asked for.
Failure past_eof(const Settings& s);
// Status 2.
Failure open_failure(const char* name);
// Status 2. `prefix`: the platform's wording, with a %s for the name; nullptr for a failed
// read's (skip) or write's (seek).
Failure skip_failure(const char* prefix, const char* name);
Failure seek_failure(const char* prefix, const char* name);
// Status 4.
Failure size_failure(const char* name);
// Status 3.
Failure sync_failure(const char* name);
Failure close_failure(const char* name);
// Status 6.
Failure buffer_failure();
Failure plan_memory_failure();
// A word the run cannot carry out (status 1): `format` holds at most one %u, for `value`.
Failure refusal(const char* format, unsigned value = 0);
// Status 5: the output holds no part of its own for each of `workers` writing workers.
Failure too_small_for_workers(unsigned workers);
// A failure whose whole message is `text` (a refusal of words, a file too small, a check's
// verdict, the queue's own text).
Failure failure_text(int status, std::string text);

// The failure's message on the error channel: what the driver does once with the run's.
void say_failure(const Failure& failure);

// The name a message shows for a file: the name, or `absent` when no name was given.
inline const char* shown_name(const char* name, const char* absent) {
  return name != nullptr ? name : absent;
}

// The same for the "For this run" line and the size-query messages, where the platform may
// show an absent name its own way.
inline const char* reported_name(const char* name, const char* absent,
                                 const PlatformProfile& profile) {
  return shown_name(name, profile.absent_name_text != nullptr ? profile.absent_name_text : absent);
}

}  // namespace kolvane

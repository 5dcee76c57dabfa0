#include "run/failures.h"

#include <cstdio>
#include <utility>

#include "run/console.h"

namespace kolvane {
namespace {

// printf of one value.
template <typename Value>
std::string formatted(const char* format, Value value) {
  const int n = std::snprintf(nullptr, 0, format, value);
  std::string text(n > 0 ? static_cast<std::size_t>(n) + 1 : 1, '\0');
  if (n > 0)
    std::snprintf(text.data(), text.size(), format, value);
  text.pop_back();
  return text;
}

// `format` holds one %s, for the name.
Failure named(int status, const char* format, const char* name, const std::string& text) {
  return {status, formatted(format, name) + text};
}

constexpr const char* kReading = "error reading '%s': ";
constexpr const char* kWritingTo = "error writing to '%s': ";

}  // namespace

std::string Failure::line() const {
  std::string text = message;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

const char* input_name(const Settings& s) {
  return shown_name(s.input_file, "standard input");
}
const char* output_name(const Settings& s) {
  return shown_name(s.output_file, "standard output");
}

Failure read_failure(const char* name, const std::string& text) {
  return named(kExitReadWrite, kReading, name, text);
}

Failure write_failure(const char* name, const std::string& text) {
  return named(kExitReadWrite, kWritingTo, name, text);
}

Failure past_eof(const Settings& s) {
  return read_failure(input_name(s), "skipping past EOF\n");
}

Failure open_failure(const char* name) {
  return named(kExitOpenOrPosition, "error opening '%s': ", name, last_error_text());
}

Failure skip_failure(const char* prefix, const char* name) {
  return named(kExitOpenOrPosition, prefix != nullptr ? prefix : kReading, name, last_error_text());
}

Failure seek_failure(const char* prefix, const char* name) {
  return named(kExitOpenOrPosition, prefix != nullptr ? prefix : kWritingTo, name,
               last_error_text());
}

Failure size_failure(const char* name) {
  return named(kExitSizeQuery, "error getting the size of '%s': ", name, last_error_text());
}

Failure sync_failure(const char* name) {
  return named(kExitReadWrite, "error syncing '%s': ", name, last_error_text());
}

Failure close_failure(const char* name) {
  return named(kExitReadWrite, "error closing '%s': ", name, last_error_text());
}

Failure buffer_failure() {
  return {kExitNoMemory, "Error allocating aligned memory\n"};
}

Failure plan_memory_failure() {
  return {kExitNoMemory, "Error allocating memory for the iteration plan\n"};
}

Failure refusal(const char* format, unsigned value) {
  return {kExitBadArgument, formatted(format, value)};
}

Failure too_small_for_workers(unsigned workers) {
  return {kExitTooSmall,
          formatted("error: the output file size is too small for the specified count, "
                    "blocksize and seek values shared among %u workers\n",
                    workers)};
}

Failure failure_text(int status, std::string text) {
  return {status, std::move(text)};
}

void say_failure(const Failure& failure) {
  if (failure.failed() && !failure.message.empty())
    say(Channel::err, "%s", failure.message.c_str());
}

}  // namespace kolvane

#include "engine/console.h"

#include <cstdarg>

#include "platform/platform.h"

namespace kolvane {
namespace {

bool g_out_moved = false;
bool g_err_moved = false;
std::string g_err_line;
bool g_err_line_ended = true;
bool g_progress_stands = false;

// Keeps the text of the error channel's last line.
void remember_error_text(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  if (n < 0)
    return;
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.pop_back();
  if (text.empty())
    return;
  if (g_err_line_ended)
    g_err_line.clear();
  g_err_line += text;
  // A progress line on a terminal ends in a carriage return and is a line of its own.
  g_err_line_ended = text.back() == '\n' || text.back() == '\r';
}

}  // namespace

void route_lines(bool data_on_stdout, bool data_on_stderr) {
  g_out_moved = data_on_stdout;
  g_err_moved = data_on_stderr;
}

std::FILE* channel_stream(Channel channel) {
  if (g_out_moved && g_err_moved) return nullptr;
  if (channel == Channel::out) return g_out_moved ? stderr : stdout;
  return g_err_moved ? stdout : stderr;
}

void end_progress_line() {
  if (!g_progress_stands) return;
  g_progress_stands = false;
  if (std::FILE* stream = channel_stream(Channel::err)) std::fputs("\n", stream);
}

bool progress_line_stands() { return g_progress_stands; }

void say_progress(const std::string& line) {
  std::FILE* stream = channel_stream(Channel::err);
  if (stream == nullptr || line.empty()) return;
  std::fputs(line.c_str(), stream);
  g_progress_stands = line.back() == '\r';
}

void say(Channel channel, const char* format, ...) {
  end_progress_line();
  va_list args;
  if (channel == Channel::err) {
    va_start(args, format);
    remember_error_text(format, args);
    va_end(args);
  }
  std::FILE* stream = channel_stream(channel);
  if (stream == nullptr) return;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
}

const std::string& last_error_line() {
  return g_err_line;
}

void report_system_error() { say(Channel::err, "%s", last_error_text().c_str()); }

}  // namespace kolvane

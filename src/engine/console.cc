#include "engine/console.h"

#include <cstdarg>

#include "platform/platform.h"

namespace kolvane {
namespace {

bool g_out_moved = false;
bool g_err_moved = false;

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

void say(Channel channel, const char* format, ...) {
  std::FILE* stream = channel_stream(channel);
  if (stream == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
}

void report_system_error() { say(Channel::err, "%s", last_error_text().c_str()); }

}  // namespace kolvane

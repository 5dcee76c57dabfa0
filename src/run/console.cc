#include "run/console.h"

#include <cstdarg>
#include <mutex>

namespace kolvane {
namespace {

bool g_out_moved = false;
bool g_err_moved = false;
bool g_progress_stands = false;
// Workers say their iterations' offsets (verbose=) while the waiting thread may say a status
// request's lines: one line at a time, and the standing progress line known to each.
std::mutex g_lines;

void end_standing_line() {
  if (!g_progress_stands)
    return;
  g_progress_stands = false;
  if (std::FILE* stream = channel_stream(Channel::err))
    std::fputs("\n", stream);
}

}  // namespace

void route_lines(bool data_on_stdout, bool data_on_stderr) {
  g_out_moved = data_on_stdout;
  g_err_moved = data_on_stderr;
}

std::FILE* channel_stream(Channel channel) {
  if (g_out_moved && g_err_moved)
    return nullptr;
  if (channel == Channel::out)
    return g_out_moved ? stderr : stdout;
  return g_err_moved ? stdout : stderr;
}

void end_progress_line() {
  const std::lock_guard<std::mutex> lock(g_lines);
  end_standing_line();
}

bool progress_line_stands() {
  const std::lock_guard<std::mutex> lock(g_lines);
  return g_progress_stands;
}

void say_progress(const std::string& line) {
  const std::lock_guard<std::mutex> lock(g_lines);
  std::FILE* stream = channel_stream(Channel::err);
  if (stream == nullptr || line.empty())
    return;
  std::fputs(line.c_str(), stream);
  g_progress_stands = line.back() == '\r';
}

void say(Channel channel, const char* format, ...) {
  const std::lock_guard<std::mutex> lock(g_lines);
  end_standing_line();
  std::FILE* stream = channel_stream(channel);
  if (stream == nullptr)
    return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
}

}  // namespace kolvane

#include "run/console.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace kolvane {
namespace {

bool g_out_moved = false;
bool g_err_moved = false;
bool g_progress_stands = false;
// Workers say their iterations' offsets (verbose=) while the waiting thread may say a status
// request's lines: one line at a time, and the standing progress line known to each.
std::mutex g_lines;
std::string g_prefix;
// Whether the next text said on each stream starts a line (the prefix goes before it).
bool g_at_line_start[2] = {true, true};

// The text with the prefix before each line it starts, written at once: the launcher carries
// each write of every rank on its own, and a line written in pieces could be cut by another's.
void put_prefixed(std::FILE* stream, const std::string& text) {
  bool& at_start = g_at_line_start[stream == stdout ? 0 : 1];
  std::string lines;
  for (std::size_t at = 0; at < text.size();) {
    if (at_start)
      lines += g_prefix;
    const std::size_t end = text.find('\n', at);
    const std::size_t next = end == std::string::npos ? text.size() : end + 1;
    lines.append(text, at, next - at);
    at_start = end != std::string::npos;
    at = next;
  }
  std::fwrite(lines.data(), 1, lines.size(), stream);
}

void end_standing_line() {
  if (!g_progress_stands)
    return;
  g_progress_stands = false;
  if (std::FILE* stream = channel_stream(Channel::err))
    std::fputs("\n", stream);
}

}  // namespace

void prefix_lines(std::string prefix) {
  const std::lock_guard<std::mutex> lock(g_lines);
  g_prefix = std::move(prefix);
}

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
  if (g_prefix.empty()) {
    std::vfprintf(stream, format, args);
  } else {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    put_prefixed(stream, text);
  }
  va_end(args);
}

}  // namespace kolvane

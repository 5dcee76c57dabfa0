// The program's text lines and where they go. Standard output normally carries the banner,
// "Please be patient..." and the elapsed time, standard error everything else. When the data
// themselves go to one of those streams, its lines move to the other one, or are dropped when
// the data go to both: no text line may ever land inside the data.
#pragma once

#include <cstdio>
#include <string>

namespace kolvane {

enum class Channel { out, err };

// Decided once at start-up, before the banner.
void route_lines(bool data_on_stdout, bool data_on_stderr);

// The stream a channel's lines go to; nullptr when they are dropped.
std::FILE* channel_stream(Channel channel);

// printf onto a channel; nothing when its lines are dropped.
void say(Channel channel, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// The last line said on the error channel, whether printed or dropped: when a run fails, its
// message (an error prefix and the system's text said apart make one line).
const std::string& last_error_line();

// The system's text for the last failed call, after an error prefix already printed.
void report_system_error();

}  // namespace kolvane

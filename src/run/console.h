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

// A rank other than 0 of a run on several hosts: every line it says, on either channel, begins
// with `prefix` ("rank 2 (node7): "), so that its lines read apart from rank 0's.
void prefix_lines(std::string prefix);

// The stream a channel's lines go to; nullptr when they are dropped.
std::FILE* channel_stream(Channel channel);

// printf onto a channel; nothing when its lines are dropped.
void say(Channel channel, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// A progress line on the error channel. One that ends in "\r" (a terminal's, which the next
// one rewrites) stands until other text comes: any other line said on either channel then
// starts on a line of its own below it, so that none is written over its start and leaves its
// tail behind. Progress lines are never the error channel's last line.
void say_progress(const std::string& line);
// Whether a progress line stands, not yet followed by other text.
bool progress_line_stands();
// Before the run's last lines: a progress line that still stands is ended, so it stays in view.
void end_progress_line();

}  // namespace kolvane

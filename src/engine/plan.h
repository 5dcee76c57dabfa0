// The iteration plan: measures the files, refuses ones too small for the count, block size
// and offset, and draws every iteration's block-aligned offsets before any data moves.
#pragma once

#include "cli/settings.h"
#include "engine/run_state.h"
#include "platform/profile.h"

namespace kolvane {

// After the input is opened: decides how the input is positioned and how far it is read, and
// measures it where the run needs its size. Returns an exit status: 0 to go on, or 4 / 5 after
// printing the message.
int calibrate_input(RunState& state, const Settings& settings, const PlatformProfile& profile);

// Before the output is opened, so that an output no seek can reach is left as it was: 0, or 5
// after the output's too-small message when seek x obs lies beyond any file.
int check_seek_offset(const Settings& settings);

// After the output is opened and checked: the same for the output. Returns 0, 4 or 5.
int calibrate_output(RunState& state, const Settings& settings, const PlatformProfile& profile);

// Fills state.plan, whole; returns 0, or 6 when the plan cannot be allocated.
int build_plan(RunState& state, const Settings& settings);

// The verbose report at the top of iteration `number` (counting from 1).
void report_entry(const RunState& state, const Settings& settings, const PlanEntry& entry,
                  std::uint64_t number, const PlatformProfile& profile);

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

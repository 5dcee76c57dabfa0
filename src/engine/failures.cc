#include "engine/failures.h"

#include "engine/console.h"
#include "engine/exit_status.h"
#include "engine/plan.h"

namespace kolvane {

const char* input_name(const Settings& s) {
  return shown_name(s.input_file, "standard input");
}
const char* output_name(const Settings& s) {
  return shown_name(s.output_file, "standard output");
}

int read_failure(const Settings& s) {
  say(Channel::err, "error reading '%s': ", input_name(s));
  report_system_error();
  return kExitReadWrite;
}

int write_failure(const Settings& s) {
  say(Channel::err, "error writing to '%s': ", output_name(s));
  report_system_error();
  return kExitReadWrite;
}

int past_eof(const Settings& s) {
  say(Channel::err, "error reading '%s': skipping past EOF\n", input_name(s));
  return kExitReadWrite;
}

}  // namespace kolvane

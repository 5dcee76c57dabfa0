#include <limits.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "platform/host.h"

namespace kolvane {
namespace {

double seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

std::string host_name() {
  char name[HOST_NAME_MAX + 1] = {};
  // A name cut to fit is not terminated: the last byte stays 0 whatever the system does.
  if (gethostname(name, sizeof name - 1) != 0)
    return {};
  return name;
}

std::string system_version() {
  utsname u;
  if (uname(&u) != 0)
    return {};
  return std::string(u.sysname) + " " + u.release;
}

bool processor_time(ProcessorTime& time) {
  rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0)
    return false;
  time.user_s = seconds(usage.ru_utime);
  time.system_s = seconds(usage.ru_stime);
  return true;
}

}  // namespace kolvane

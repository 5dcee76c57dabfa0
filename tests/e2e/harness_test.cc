// The harness runs a lost emulator run again; it must never take the program's own failure for
// one, or a real fault would be run until it happened to pass.
#include "harness.h"

#include <gtest/gtest.h>

namespace e2e {
namespace {

TEST(Harness, OnlyTheEmulatorsOwnLossesAreRunAgain) {
  struct Case {
    const char* why;
    Result r;
    Streams to;
    bool lost;
  };
  const Case cases[] = {
      {"failure, nothing on either stream", {"", "", 1}, {}, true},
      {"the emulator's client lost its server",
       {"", "wine client error:0: recvmsg\n", 0},
       {},
       true},
      {"the program's message", {"", "invalid number x\n", 1}, {}, false},
      {"banner only, then a failure", {"Today's date and time: x\n", "", 2}, {}, false},
      {"success with nothing printed", {"", "", 0}, {}, false},
      {"error sent to a file", {"", "", 1}, {"", "log"}, false},
      {"output sent to a file", {"", "", 1}, {"data", ""}, false},
      {"standard output closed", {"", "", 1}, {"", "", true}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(emulator_lost_run(c.r, c.to), c.lost);
  }
}

}  // namespace
}  // namespace e2e

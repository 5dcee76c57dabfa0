// The whole run against the in-memory back end: how it ends when closing a file fails.
#include "engine/driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_backend.h"
#include "program_run.h"

namespace kolvane {
namespace {

// The output's close decides whether the data are safe; the input's does not.
TEST(DriverTest, AFailedCloseOfTheOutputFailsTheRun) {
  const struct {
    bool input_fails, output_fails;
    int status;
    std::string err;
  } rows[] = {
      {false, false, 0, "2+0 records in\n2+0 records out\n"},
      {true, false, 0, "2+0 records in\n2+0 records out\n"},
      {false, true, 3, "error closing 'out': "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.input_fails << row.output_fails);
    fake::reset();
    const FileHandle in = fake::add_file("in", fake::pattern(1024));
    const FileHandle out = fake::add_file("out", {});
    fake::file(in).close_fails = row.input_fails;
    fake::file(out).close_fails = row.output_fails;
    const ProgramRun run = run_words("if=in of=out");
    const std::string& lines = run.out;
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(lines.find("Elapsed time") != std::string::npos, row.status == 0) << lines;
    EXPECT_EQ(fake::file(out).data, fake::pattern(1024));
    // Each file is closed once, the input first.
    std::vector<std::string> closes;
    for (const std::string& line : fake::sys().log) {
      if (line.rfind("close", 0) == 0)
        closes.push_back(line);
    }
    EXPECT_EQ(closes, (std::vector<std::string>{"close " + std::to_string(in),
                                                "close " + std::to_string(out)}));
  }
}

}  // namespace
}  // namespace kolvane

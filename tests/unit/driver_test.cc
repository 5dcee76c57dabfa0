// The whole run against the in-memory back end: how it ends when closing a file fails.
#include "driver/driver.h"

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

// Whatever ends the run, what it holds goes in one order: the input closed, then the output,
// then the transfer's buffers (input, then output). The queued transfer's memory is its own and
// goes with its queue, before the files close. A run ended before the output is opened closes
// only the input.
TEST(DriverTest, TheRunReleasesInOneOrderOnEveryEnd) {
  enum Fault { none, short_input, read, write, close_output };
  const struct {
    const char* name;
    const char* words;
    Fault fault;
    int status;
    const char* order;  // "in" and "out" for the files' closes, "free" for a buffer
  } rows[] = {
      {"normal end", "if=in of=out bs=512", none, 0, "in out free free"},
      {"queued", "if=in of=out bs=512 iodepth=2", none, 0, "free in out"},
      {"input too small", "if=in of=out bs=512 count=9", short_input, 5, "in"},
      {"failed read", "if=in of=out bs=512", read, 3, "in out free free"},
      {"failed write", "if=in of=out bs=512", write, 3, "in out free free"},
      {"failed close", "if=in of=out bs=512", close_output, 3, "in out free free"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fake::reset();
    const FileHandle in = fake::add_file("in", fake::pattern(1024));
    const FileHandle out = fake::add_file("out", {});
    fake::file(in).fail_read_call = row.fault == read ? 2 : 0;
    fake::file(out).fail_write_call = row.fault == write ? 1 : 0;
    fake::file(out).close_fails = row.fault == close_output;
    const ProgramRun run = run_words(row.words);
    EXPECT_EQ(run.status, row.status) << run.err;
    std::string order;
    for (const std::string& line : fake::sys().log) {
      const std::string event = line == "close " + std::to_string(in)    ? "in"
                                : line == "close " + std::to_string(out) ? "out"
                                : line == "free"                         ? "free"
                                                                         : "";
      if (!event.empty())
        order += (order.empty() ? "" : " ") + event;
    }
    EXPECT_EQ(order, row.order);
    EXPECT_EQ(fake::sys().live_buffers, 0);
  }
}

}  // namespace
}  // namespace kolvane

// The data and the program's text lines never mix: when the output is the same file as standard
// output or standard error, the lines meant for that stream go to the other one, or are dropped
// when the output is both. A terminal or the null device never counts as the same file.
#include "harness.h"

namespace e2e {
namespace {

// Where a group of lines ends up: the harness's standard output pipe, its standard error pipe,
// or nowhere (dropped, or written to the null device).
enum Where { kOut, kErr, kNowhere };

struct StreamCase {
  const char* name;
  const char* words;  // "if=in bs=512" or the like, where "in" holds 1000 bytes
  Streams to;
  Where out_lines;  // the banner, "Please be patient..." and the elapsed time
  Where err_lines;  // the records lines
  // Where the data are afterwards: a file of the working directory, or "" for the standard
  // output pipe, nullptr when they went to the null device. They must be the input's bytes and
  // nothing else.
  const char* data;
  bool linux_only = false;
  Stdin in{};
  const char* lines_file = nullptr;  // holds the lines meant for standard output
};

const StreamCase kStreamCases[] = {
    {"OutputIsStdoutFile", "if=in of=out bs=512", {.out = "out"}, kErr, kErr, "out"},
    {"NoOfStdoutFile", "if=in bs=512", {.out = "out"}, kErr, kErr, "out"},
    {"NoOfStdoutPipe", "if=in bs=512", {}, kErr, kErr, ""},
    {"DevStdout", "if=in of=/dev/stdout bs=512", {.out = "out"}, kErr, kErr, "out", true},
    {"DevFdOnePipe", "if=in of=/dev/fd/1 bs=512", {}, kErr, kErr, "", true},
    {"OutputIsStderrFile", "if=in of=out bs=512", {.err = "out"}, kOut, kOut, "out"},
    {"OutputIsBoth",
     "if=in of=out bs=512",
     {.out = "out", .err = "out"},
     kNowhere,
     kNowhere,
     "out"},
    {"NoOfStdoutIsStderr", "if=in bs=512", {.out = "out", .err = "out"}, kNowhere, kNowhere, "out"},
    // Another file, or the null device, as standard output: nothing moves.
    {"OtherFile",
     "if=in of=out bs=512",
     {.out = "lines"},
     kNowhere,
     kErr,
     "out",
     false,
     {},
     "lines"},
    {"NullStdout", "if=in bs=512", {.out = "/dev/null"}, kNowhere, kErr, nullptr},
    // Started without standard output, the output must not become descriptor 1.
    {"ClosedStdout",
     "of=out bs=512",
     {.closed_out = true},
     kNowhere,
     kErr,
     "out",
     true,
     Stdin{.file = "in"}},
};

class Streamed : public E2e, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(Streamed, TextLinesStayOutOfTheData) {
  const StreamCase& c = GetParam();
  if (c.linux_only && !target().linux_devices)
    GTEST_SKIP() << "a Linux-only case";
  const std::string in = random_bytes(1000, 31);
  put("in", in);
  const Result r = run(c.words, c.in, {}, c.to);
  ASSERT_EQ(r.status, 0) << r.err;

  std::string piped = r.out;
  if (c.data != nullptr && c.data[0] == '\0') {
    EXPECT_EQ(r.out, in);
    piped.clear();
  } else if (c.data != nullptr) {
    EXPECT_EQ(get(c.data), in);
  }
  const std::string records = text(rec("1+1", "1+1"));
  for (const Where pipe : {kOut, kErr}) {
    SCOPED_TRACE(pipe == kOut ? "standard output" : "standard error");
    const std::string& lines = pipe == kOut ? piped : r.err;
    const std::string err_part = c.err_lines == pipe ? records : "";
    if (c.out_lines == pipe) {
      expect_lines(lines, text("Please be patient...\n") + err_part, true, r.seconds);
    } else {
      EXPECT_EQ(lines, err_part);
    }
  }
  if (c.lines_file != nullptr) {
    expect_lines(get(c.lines_file), text("Please be patient...\n"), true, r.seconds);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Streamed, ::testing::ValuesIn(kStreamCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A message the run ends with is moved like any other line.
TEST_F(E2e, AnErrorMovesWithItsStream) {
  const Result r = run("if=missing of=out", {}, {}, Streams{.err = "out"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "");
  const std::string prefix = "error opening 'missing': ";
  const std::size_t at = r.out.find(prefix);
  ASSERT_NE(at, std::string::npos) << r.out;
  expect_lines(r.out.substr(0, at), "", false, r.seconds);
  expect_error(r.out.substr(at), prefix);
  EXPECT_EQ(get("out"), "");
}

}  // namespace
}  // namespace e2e

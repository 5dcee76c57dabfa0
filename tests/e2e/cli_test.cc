// The command line as a user meets it: the help, the version line and every rejected word.
#include <filesystem>

#include "harness.h"

namespace e2e {
namespace {

const char* const kSynopsis =
    "\nUsage: %s [if=FILE] [of=FILE] [bs=BYTES] [ibs=BYTES] [obs=BYTES] [dio=N] \n"
    "               [skip=BLOCKS] [seek=BLOCKS] [count=BLOCKS] [conv=CONVERSION]\n\n";

const char* const kBody = R"(Copy a file/device.

  bs=BYTES        force ibs=BYTES and obs=BYTES
  count=BLOCKS    copy only BLOCKS input blocks
  ibs=BYTES       read BYTES bytes at a time
  if=FILE         read from FILE instead of stdin
  obs=BYTES       write BYTES bytes at a time
  of=FILE         write to FILE instead of stdout
  seek=BLOCKS     skip BLOCKS obs-sized blocks at start of output
  skip=BLOCKS     skip BLOCKS ibs-sized blocks at start of input
  iterations=m    operation is iterated m times with random values for the skip
                  offset provided the input file is not /dev/zero, and random
                  values for the seek offset provided output file already
                  exists and is not /dev/null (the random values are generated
                  in a range calibrated to the size of files in question
                  as well as to other relevant parameters specified upon
                  invocaton of the program); default number of iterations is 1
                  if the number of iterations is specified, or the input file
                  is /dev/zero, then the count parameter must also be specified
                  when invoking the program
  verbose=level   provide output about the skip/seek offsets used if level > 0
                  most useful when offsets are generated randomly; default
                  level is 0
  conv=CONVERSION valid value for CONVERSION is 'notrunc' (without quotes)
  dio=N           N is an integer indicating if an i/o operation is direct.
                  Valid values are 1, 2 or 3.  Their meanings are:
                     1 - direct read
                     2 - direct write
                     3 - direct read and direct write
      --help      display this help and exit
      --version   display version information and exit

BLOCKS and BYTES may be followed by the following multiplicative suffixes:
b - 512, k - 1024, m - 1,048,576, g - 1,073,741,824.

Examples:

)";

const char* const kPosixExamples = R"(  %s if=/myfs1/myinputfile of=/myfs2/myoutputfile bs=1m
  copies the file /myfs1/myinputfile to /myfs2/myoutputfile using 1MB buffer

  %s if=/myfs1/myinputfile of=/myfs2/myoutputfile
  copies the file /myfs1/myinputfile to the file /myfs2/myoutputfile using
  the default buffer size (512 bytes)

  %s if=/myfs1/myinputfile of=/myfs2/myoutputfile conv=notrunc
  copies the file /myfs1/myinputfile to the file /myfs2/myoutputfile without
  truncating the pre-existing file /myfs2/myoutputfile

  %s if=/myfs/myinputfile bs=8k count=2 of=/dev/null iterations=10
  copies the file /myfs/myinputfile to /dev/null 10 times, with different
  (randomly generated) skip offsets (from the start of the input file) for each
  iteration, with blocksize 8k and 2 blocks copied in each iteration
)";

const char* const kWin32Examples = R"(  kolvane if=e:\x.img of=\\.\x: bs=1m
  copies the file e:\x.img to the volume X: using 1MB buffer

  kolvane if=\\.\z: of=z.img
  copies the volume Z: to the file z.img using the default buffer (512 bytes)

  kolvane if=g:\x.img of=h:\y.img conv=notrunc
  copies the file g:\x.img to the file h:\y.img without truncating the h:\y.img

  kolvane if=g:\myinputfile bs=8k count=2 of=/dev/null iterations=10
  copies the file g:\myinputfile to nul (/dev/null) 10 times, with different
  (randomly generated) skip offsets (from the start of the input file) for each
  iteration, with blocksize 8k and 2 blocks copied in each iteration
)";

std::string with_program(std::string s, const std::string& word) {
  for (std::size_t at = 0; (at = s.find("%s", at)) != std::string::npos; at += word.size()) {
    s.replace(at, 2, word);
  }
  return s;
}

// The block for the words added since; the help above it stays word for word.
const char* const kMeasuring =
    "\n"
    "Measuring and repeating (each is off unless given):\n"
    "\n"
    "  report=1        after the records lines, print on standard error the bytes,\n"
    "                  time, MB/s, IOPS and latency percentiles of reads and writes\n"
    "  json=FILE       at the end of the run, write its settings, figures, records\n"
    "                  and status as one JSON document to FILE (- for stderr)\n"
    "  plot=FILE       at the end of the run, draw its latencies and its rates over\n"
    "                  time as one SVG picture in FILE\n"
    "  progress=N      every N seconds, print the bytes so far, the rates and the\n"
    "                  time left where it is known, on standard error\n"
    "  seed=N          draw the random offsets from seed N (0 to 4294967295)\n"
    "                  instead of the process id, so that a run can be repeated\n"
    "  distribution=uniform\n"
    "                  draw each random offset uniformly over its file's range\n"
    "  runtime=S       stop S seconds after the first I/O; with count= and no\n"
    "                  iterations=, iterations go on until then\n"
    "  conv=fsync      sync the output's data and metadata before the end\n"
    "  conv=fdatasync  sync the output's data before the end; conv= words add up:\n"
    "                  conv=notrunc,fsync\n"
    "  iodepth=N       keep up to N I/Os in flight (1 to 4096, default 1): iterations\n"
    "                  overlap, or a single copy with ibs = obs reads ahead and\n"
    "                  writes behind; both sides must be files the run positions\n"
    "\n"
    "Checking what is written (each is off unless given):\n"
    "\n"
    "  pattern=random  the zero source writes stamped blocks instead of zeros: a\n"
    "                  header naming the offset, seed and length, then pseudo-random\n"
    "                  data from the seed and offset (ibs = obs, at least 512 bytes)\n"
    "  pattern=zero    the zero source writes zeros (the default)\n"
    "  verify=1        read each block back after writing it and check it; stamped\n"
    "                  blocks by header and checksum, others byte for byte\n"
    "  verify=2        write nothing: read the blocks a pattern=random run with the\n"
    "                  same words and seed= wrote, and check them\n"
    "                  A block that fails the check ends the run with status 9.\n"
    "\n"
    "Polling the queue (each is off unless given):\n"
    "\n"
    "  poll=1          with iodepth= above 1, reap by spinning on the completions,\n"
    "                  never sleeping while I/Os are in flight: one CPU kept busy\n"
    "  poll=2          poll=1 and a kernel thread that submits the I/Os (Linux)\n"
    "\n"
    "Workers (off unless given):\n"
    "\n"
    "  workers=N       N threads in one run (1 to 256, default 1), each with its own\n"
    "                  I/Os, iodepth= each: worker w runs iterations w, w+N, ...\n"
    "                  drawn from seed+w, or copies the w-th of N ranges of whole\n"
    "                  blocks of a single copy (ibs = obs, both sides files the run\n"
    "                  positions); one report for the whole run\n"
    "\n"
    "A read/write mix, skewed offsets and a bounded region (each is off unless\n"
    "given):\n"
    "\n"
    "  mix=R           each I/O reads the target (of=, written in place) with a\n"
    "                  chance of R % (0 to 100), else writes a zero source block;\n"
    "                  needs if=/dev/zero, count= and iterations= or runtime=\n"
    "  distribution=zipf:THETA\n"
    "                  popularity rank i of the blocks drawn with a chance\n"
    "                  proportional to i^-THETA (THETA > 0), the ranks scattered\n"
    "                  over the range by a permutation drawn from the seed\n"
    "  distribution=pareto:H\n"
    "                  a fraction H of the blocks gets 1-H of the draws, and again\n"
    "                  within them (0 < H < 0.5; 0.2: 20 % get 80 %), scattered too\n"
    "  distribution=normal:P\n"
    "                  centred on the middle of the range, standard deviation P %\n"
    "                  of it (0 < P <= 100)\n"
    "  span=BYTES      draw the random offsets within the first BYTES of each side\n"
    "                  after its skip= or seek= (whole blocks of the side)\n"
    "\n"
    "Load you set, latency over time and quiet runs (each is off unless given):\n"
    "\n"
    "  rate=N          hand the I/Os over on one schedule of N per second (1 to\n"
    "                  1000000000): the reads of a copy, the writes of the zero\n"
    "                  source, every I/O of a mix; latency counts from when an I/O\n"
    "                  was due, service from when it was handed over\n"
    "  arrivals=poisson\n"
    "                  with rate=, random gaps of mean 1/N drawn from the seed\n"
    "                  instead of even ones (arrivals=even, the default)\n"
    "  interval=MS     keep the I/Os, bytes and latencies of every MS milliseconds\n"
    "                  (10 to 3600000, default 1000) for json= and plot=\n"
    "  json-buckets=1  json= carries each interval's latency buckets too\n"
    "  quiet=1         print only errors and what is asked for (report=1,\n"
    "                  progress=, json=-): no banner, records lines or elapsed\n"
    "                  time; json=- then writes to standard output, unless the\n"
    "                  data goes there\n";

std::string full_help() {
  const bool win = target().fixed_help_name;
  const std::string word = win ? "kolvane" : program_word();
  return text(
      with_program(kSynopsis + std::string(kBody) + (win ? kWin32Examples : kPosixExamples), word) +
      kMeasuring);
}

TEST_F(E2e, HelpFollowsTheBanner) {
  for (const char* words : {"", "--help", "--help junk bs=0"}) {
    SCOPED_TRACE(words);
    const Result r = run(words);
    expect_stdout(r, full_help(), false);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST_F(E2e, VersionGoesToStandardErrorWhateverFollows) {
  for (const char* words : {"--version", "--version bs=0 --help"}) {
    const Result r = run(words);
    expect_stdout(r, "", false);
    EXPECT_EQ(r.err, text(program_word() + " version 1.2\n"));
    EXPECT_EQ(r.status, 0);
  }
}

std::string dio_lines(int d) {
  return "Invalid value " + std::to_string(d) +
         " for dio.\nValid value for dio is 1, 2 or 3.\n   1: direct read  + buffered write.\n"
         "   2: direct write + buffered read.\n   3: direct read  + direct write.\n";
}

// Each rejected word ends the run before anything is opened (the output named before it is
// never created) and before the words after it are looked at.
TEST_F(E2e, EveryRejectedWordEndsWithTheUsageLine) {
  const std::pair<const char*, std::string> table[] = {
      {"--help", "unrecognized option --help\n"},
      {"--version", "unrecognized option --version\n"},
      {"bogus", "unrecognized option bogus\n"},
      {"conv=NOTRUNC", "unrecognized option value conv=NOTRUNC\n"},
      {"dio=4", dio_lines(4)},
      {"dio=0", dio_lines(0)},
      // Numbers mean what was typed: refused when they have no digit, a sign, or do not fit.
      {"dio=4294967295", "invalid number 4294967295\n"},
      {"dio=abc", "invalid number abc\n"},
      {"count=", "invalid number \n"},
      {"skip=k", "invalid number k\n"},
      {"seek=2x", "invalid number 2x\n"},
      {"count=-1", "invalid number -1\n"},
      {"count=18446744073709551616", "invalid number 18446744073709551616\n"},
      {"skip=17179869184g", "invalid number 17179869184g\n"},
      {"iterations=4294967296", "invalid number 4294967296\n"},
      {"verbose=4294967296", "invalid number 4294967296\n"},
      {"count=2x4g", target().linux_devices ? "" : "invalid number 2x4g\n"},
      {"skip=4294967296", target().linux_devices ? "" : "invalid number 4294967296\n"},
      {"foo=abc", "unrecognized option foo=abc\n"},
      {"=5", "unrecognized option =5\n"},
      {"bs=0", "invalid number 0\n"},
      {"obs=abc", "invalid number abc\n"},
      {"count==5", "invalid number =5\n"},
      {"skip=12q", "invalid number 12q\n"},
      {"iterations=5\t", "invalid number 5\t\n"},
      {"ibs=4294967296x4294967296", "invalid number 4294967296x4294967296\n"},
      // Block sizes are 32-bit in the Windows program.
      {"bs=4g", target().linux_devices ? "" : "invalid number 4g\n"},
      // The load and series words keep to their ranges.
      {"rate=0", "unrecognized option value rate=0\n"},
      {"rate=1000000001", "unrecognized option value rate=1000000001\n"},
      {"arrivals=burst", "unrecognized option value arrivals=burst\n"},
      {"interval=9", "unrecognized option value interval=9\n"},
      {"interval=3600001", "unrecognized option value interval=3600001\n"},
      {"quiet=2", "unrecognized option value quiet=2\n"},
  };
  put("in", "data");
  for (const auto& [word, message] : table) {
    if (message.empty())
      continue;
    SCOPED_TRACE(word);
    const Result r = run(std::string("if=in of=made ") + word + " also=bad");
    expect_stdout(r, "", false);
    EXPECT_EQ(r.err, text(message + "Try `" + program_word() + " --help' for more information.\n"));
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(std::filesystem::exists(path("made")));
  }
}

}  // namespace
}  // namespace e2e

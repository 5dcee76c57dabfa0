#include "cli/usage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/profile.h"

namespace kolvane {

const char* program_name = nullptr;
const char* help_addition = nullptr;

namespace {

// The body of the full help, the same on every platform.
const char* const help_body =
    "Copy a file/device.\n"
    "\n"
    "  bs=BYTES        force ibs=BYTES and obs=BYTES\n"
    "  count=BLOCKS    copy only BLOCKS input blocks\n"
    "  ibs=BYTES       read BYTES bytes at a time\n"
    "  if=FILE         read from FILE instead of stdin\n"
    "  obs=BYTES       write BYTES bytes at a time\n"
    "  of=FILE         write to FILE instead of stdout\n"
    "  seek=BLOCKS     skip BLOCKS obs-sized blocks at start of output\n"
    "  skip=BLOCKS     skip BLOCKS ibs-sized blocks at start of input\n"
    "  iterations=m    operation is iterated m times with random values for the skip\n"
    "                  offset provided the input file is not /dev/zero, and random\n"
    "                  values for the seek offset provided output file already\n"
    "                  exists and is not /dev/null (the random values are generated\n"
    "                  in a range calibrated to the size of files in question\n"
    "                  as well as to other relevant parameters specified upon\n"
    "                  invocaton of the program); default number of iterations is 1\n"
    "                  if the number of iterations is specified, or the input file\n"
    "                  is /dev/zero, then the count parameter must also be specified\n"
    "                  when invoking the program\n"
    "  verbose=level   provide output about the skip/seek offsets used if level > 0\n"
    "                  most useful when offsets are generated randomly; default\n"
    "                  level is 0\n"
    "  conv=CONVERSION valid value for CONVERSION is 'notrunc' (without quotes)\n"
    "  dio=N           N is an integer indicating if an i/o operation is direct.\n"
    "                  Valid values are 1, 2 or 3.  Their meanings are:\n"
    "                     1 - direct read\n"
    "                     2 - direct write\n"
    "                     3 - direct read and direct write\n"
    "      --help      display this help and exit\n"
    "      --version   display version information and exit\n"
    "\n"
    "BLOCKS and BYTES may be followed by the following multiplicative suffixes:\n"
    "b - 512, k - 1024, m - 1,048,576, g - 1,073,741,824.\n"
    "\n";

// The words added since: the help above stays as it always was, and these follow it.
const char* const help_measuring =
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
    "                  writes behind; both sides must be files the run positions\n";

const char* const help_checking =
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
    "                  A block that fails the check ends the run with status 9.\n";

const char* const help_polling =
    "\n"
    "Polling the queue (each is off unless given):\n"
    "\n"
    "  poll=1          with iodepth= above 1, reap by spinning on the completions,\n"
    "                  never sleeping while I/Os are in flight: one CPU kept busy\n"
    "  poll=2          poll=1 and a kernel thread that submits the I/Os (Linux)\n";

const char* const help_workers =
    "\n"
    "Workers (off unless given):\n"
    "\n"
    "  workers=N       N threads in one run (1 to 256, default 1), each with its own\n"
    "                  I/Os, iodepth= each: worker w runs iterations w, w+N, ...\n"
    "                  drawn from seed+w, or copies the w-th of N ranges of whole\n"
    "                  blocks of a single copy (ibs = obs, both sides files the run\n"
    "                  positions); one report for the whole run\n";

const char* const help_skew =
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
    "                  after its skip= or seek= (whole blocks of the side)\n";

const char* const help_load =
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

}  // namespace

void print_with_name(const char* text) {
  const char* p = text;
  const char* mark;
  while ((mark = std::strstr(p, "%s")) != nullptr) {
    std::fwrite(p, 1, static_cast<std::size_t>(mark - p), stdout);
    std::fputs(program_name != nullptr ? program_name : "", stdout);
    p = mark + 2;
  }
  std::fputs(p, stdout);
}

void usage(int status) {
  if (status != 0) {
    std::fprintf(stderr, "Try `%s --help' for more information.\n", program_name);
  } else {
    const PlatformProfile& profile = this_platform();
    print_with_name(profile.help_synopsis);
    std::fputs(help_body, stdout);
    print_with_name(profile.help_examples);
    std::fputs(help_measuring, stdout);
    std::fputs(help_checking, stdout);
    std::fputs(help_polling, stdout);
    std::fputs(help_workers, stdout);
    std::fputs(help_skew, stdout);
    std::fputs(help_load, stdout);
    if (help_addition != nullptr)
      print_with_name(help_addition);
  }
  std::exit(status);
}

void version() {
  std::fprintf(stderr, "%s version " KOLVANE_VERSION "\n", program_name);
}

}  // namespace kolvane

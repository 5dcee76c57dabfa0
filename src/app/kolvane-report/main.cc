// kolvane-report: the JSON documents of kolvane's runs merged into one, compared for a
// regression gate, or drawn. It reads the documents only, never the text a run printed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/kolvane-report/commands.h"
#include "app/kolvane-report/report_exit_status.h"
#include "cli/usage.h"
#include "platform/platform.h"

namespace {

const char* const kHelp =
    "Usage: %s merge DOCUMENT.json... [-o FILE]\n"
    "  or:  %s compare BASE.json NEW.json [--tolerance=PCT] [-o FILE]\n"
    "  or:  %s plot DOCUMENT.json [-o FILE]\n"
    "Merge, compare or draw the JSON documents kolvane's json= writes.\n"
    "\n"
    "  merge           one document for the runs as a whole: records, bytes and I/Os\n"
    "                  summed, each latency histogram the sum of the runs' buckets,\n"
    "                  the series added interval by interval from each run's start,\n"
    "                  each run's own figures under \"runs\"; runs of other block\n"
    "                  sizes, directions or dio= are refused\n"
    "  compare         IOPS, MB/s, p50, p99 and p99.9 of each direction side by side,\n"
    "                  each better, same or worse than the base beyond PCT percent\n"
    "                  (default 10): status 1 when one is worse\n"
    "  plot            the SVG picture plot= draws, for any document, merged ones too\n"
    "  -o FILE         write to FILE instead of standard output\n"
    "      --help      display this help and exit\n"
    "      --version   display version information and exit\n"
    "\n"
    "Exit status: 0 done (compare: nothing worse), 1 compare found a worse figure,\n"
    "2 a word, a document or the output was not usable.\n";

}  // namespace

int main(int argc, char** argv) {
  kolvane::fill_closed_standard_streams();
  const char* program = argc > 0 ? argv[0] : "kolvane-report";
  kolvane::program_name = program;
  if (argc <= 1 || std::strcmp(argv[1], "--help") == 0) {
    kolvane::print_with_name(kHelp);
    return kolvane::kReportSuccess;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    kolvane::version();
    return kolvane::kReportSuccess;
  }
  const std::string command = argv[1];
  const std::vector<std::string> words(argv + 2, argv + argc);
  if (command == "merge")
    return kolvane::merge_command(words);
  if (command == "compare")
    return kolvane::compare_command(words);
  if (command == "plot")
    return kolvane::plot_command(words);
  std::fprintf(stderr, "%s: not a command: %s\nTry `%s --help' for more information.\n", program,
               argv[1], program);
  return kolvane::kReportBadInput;
}

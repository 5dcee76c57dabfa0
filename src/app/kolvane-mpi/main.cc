// kolvane-mpi: the run kolvane makes, on every rank an MPI launcher starts (mpirun, srun), with
// one report of the whole on rank 0. MPI launches the ranks and carries everything between
// them; each rank runs the driver on its own words.
#include <mpi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/kolvane-mpi/mpi_peers.h"
#include "cli/rank_words.h"
#include "cli/scanargs.h"
#include "cli/usage.h"
#include "driver/driver.h"
#include "platform/host.h"
#include "platform/platform.h"
#include "platform/profile.h"
#include "platform/signals.h"
#include "run/console.h"
#include "run/exit_status.h"

namespace kolvane {
namespace {

const char* const help_ranks =
    "\n"
    "Many hosts (kolvane-mpi, launched by mpirun or srun: every rank runs the\n"
    "same words, and rank 0 reports the whole):\n"
    "\n"
    "  %r %n %%        in if=, of=, json= and plot=: the rank, the number of ranks,\n"
    "                  a percent sign; json= or plot= without %r: rank 0 writes\n"
    "                  the whole's document\n"
    "  shared=1        the ranks' output is one target they all reach: rank r's\n"
    "                  worker w keeps to part r x workers + w of it (without it,\n"
    "                  each rank uses its whole target)\n"
    "  seeds           rank r's worker w draws from seed + r x workers + w\n";

// Initialises MPI for the life of the program and finalises it on every way out of main.
class MpiSession {
 public:
  MpiSession(int& argc, char**& argv) {
    MPI_Init_thread(&argc, &argv, MPI_THREAD_SERIALIZED, &provided_);
  }
  ~MpiSession() { MPI_Finalize(); }
  MpiSession(const MpiSession&) = delete;
  MpiSession& operator=(const MpiSession&) = delete;
  // The watching thread calls MPI while the run's threads do not.
  bool threads_allowed() const { return provided_ >= MPI_THREAD_SERIALIZED; }

 private:
  int provided_ = MPI_THREAD_SINGLE;
};

// The words refused before the run starts: every rank has the same words and refuses them the
// same way, so rank 0 alone tells it.
int refuse(const RunPart& part, const std::string& text) {
  if (part.speaks()) {
    std::fputs(text.c_str(), stderr);
    std::fprintf(stderr, "Try `%s --help' for more information.\n", program_name);
  }
  return kExitBadArgument;
}

int run_rank(int argc, char** argv) {
  int rank = 0, ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  RunPart part;
  part.rank = static_cast<std::uint32_t>(rank);
  part.ranks = static_cast<std::uint32_t>(ranks);
  if (!part.speaks())
    prefix_lines("rank " + std::to_string(rank) + " (" + host_name() + "): ");
  // The seed of a run whose words give none: rank 0's, as kolvane draws its own.
  part.seed = process_id();
  MPI_Bcast(&part.seed, 1, MPI_UINT32_T, 0, MPI_COMM_WORLD);
  RankWords words = rank_words(argc, argv, part.rank, part.ranks);
  if (!words.refusal.empty())
    return refuse(part, words.refusal);
  part.shared = words.shared;
  part.own_json = words.own_json;
  part.own_plot = words.own_plot;
  std::vector<char*> rank_argv = words.argv();
  const int rank_argc = static_cast<int>(words.words.size());
  const ScanResult scanned = scan_words(rank_argc, rank_argv.data(), this_platform());
  if (!scanned.accepted)
    return refuse(part, scanned.rejection);
  MpiPeers peers(part);
  return run_program(rank_argc, rank_argv.data(), &peers);
}

}  // namespace
}  // namespace kolvane

int main(int argc, char** argv) {
  using namespace kolvane;
  program_name = argc > 0 ? argv[0] : "kolvane-mpi";
  help_addition = help_ranks;
  // The first-word forms need no launcher.
  if (argc <= 1 || std::strcmp(argv[1], "--help") == 0)
    usage(kExitSuccess);
  if (std::strcmp(argv[1], "--version") == 0) {
    version();
    return kExitSuccess;
  }
  // Before MPI starts, which takes a while: a stop or status request sent to the launcher while
  // the ranks start is kept for the run rather than ending the rank by its signal unreported.
  fill_closed_standard_streams();
  install_signal_handlers();
  MpiSession mpi(argc, argv);
  if (!mpi.threads_allowed()) {
    std::fputs("kolvane-mpi: this MPI library does not allow a second thread to call it\n", stderr);
    return kExitBadArgument;
  }
  return run_rank(argc, argv);
}

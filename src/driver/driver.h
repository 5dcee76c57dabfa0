#pragma once

namespace kolvane {

class RunPeers;

// The whole life of a run; returns the process exit status. `peers`: the other ranks of a run
// launched on several hosts (kolvane-mpi); nullptr for a run alone.
int run_program(int argc, char** argv, RunPeers* peers = nullptr);

}  // namespace kolvane

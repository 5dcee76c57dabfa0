#pragma once

namespace kolvane {

// The whole life of a run; returns the process exit status.
int run_program(int argc, char** argv);

}  // namespace kolvane

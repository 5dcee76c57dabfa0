// The subcommands of kolvane-report, each given the words after its name; each returns the
// program's exit status.
#pragma once

#include <string>
#include <vector>

namespace kolvane {

int merge_command(const std::vector<std::string>& words);
int compare_command(const std::vector<std::string>& words);
int plot_command(const std::vector<std::string>& words);

}  // namespace kolvane

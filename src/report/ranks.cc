#include "report/ranks.h"

#include <algorithm>
#include <utility>

namespace kolvane {

int run_status(const std::vector<RankEnd>& ends) {
  for (const RankEnd& e : ends) {
    if (e.status != 0)
      return e.status;
  }
  for (const RankEnd& e : ends) {
    if (e.stop_status != 0)
      return e.stop_status;
  }
  return 0;
}

std::vector<bool> stragglers(const std::vector<std::uint64_t>& transfer_ns) {
  std::vector<bool> marked(transfer_ns.size(), false);
  if (transfer_ns.size() < 2)
    return marked;
  std::vector<std::uint64_t> sorted = transfer_ns;
  std::sort(sorted.begin(), sorted.end());
  const std::uint64_t median = sorted[(sorted.size() - 1) / 2];
  const std::uint64_t tenth = sorted.back() / 10;
  for (std::size_t i = 0; i < transfer_ns.size(); ++i) marked[i] = transfer_ns[i] > median + tenth;
  return marked;
}

MergeResult whole_of_ranks(const std::vector<RunReport>& documents,
                           const std::vector<RankEnd>& ends, int status) {
  std::vector<NamedReport> inputs;
  inputs.reserve(documents.size());
  for (std::size_t r = 0; r < documents.size(); ++r)
    inputs.push_back({"rank " + std::to_string(r), documents[r]});
  MergeResult result = merge_reports(inputs);
  if (!result.report)
    return result;
  RunReport& whole = *result.report;
  std::vector<std::uint64_t> lengths;
  lengths.reserve(ends.size());
  for (const RankEnd& e : ends) lengths.push_back(e.transfer_ns);
  const std::vector<bool> late = stragglers(lengths);
  std::vector<MergedRun>& runs = whole.merged->runs;
  for (std::size_t r = 0; r < runs.size() && r < ends.size(); ++r) {
    runs[r].rank = RankFacts{static_cast<std::uint32_t>(r), documents[r].exit_status,
                             static_cast<double>(ends[r].transfer_ns) / 1e9, late[r]};
  }
  // The run's status is the lowest failing rank's, which a stop of a rank before it must not
  // hide; the whole tells that rank's failure.
  whole.exit_status = status;
  whole.error.reset();
  whole.signal.reset();
  for (const RunReport& d : documents) {
    if (d.exit_status == status && (d.error || d.signal)) {
      whole.error = d.error;
      whole.signal = d.signal;
      break;
    }
  }
  whole.origin = documents.front().origin;
  return result;
}

}  // namespace kolvane

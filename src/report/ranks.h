// A run of several ranks (kolvane-mpi) as one: its status, its stragglers, its whole. The whole
// is the merge of the ranks' own documents, so it is what kolvane-report merge makes of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/json_report.h"
#include "report/merge.h"

namespace kolvane {

// How one rank's run ended, as every rank learns it at the end.
struct RankEnd {
  int status = 0;                 // its own: a failure's, or 0 (a stop's too)
  int stop_status = 0;            // 130 or 143 when a stop request ended it, else 0
  std::uint64_t transfer_ns = 0;  // from its first I/O to the end of its transfer
};

// The status of the lowest-numbered rank that failed; when none did, the first stop's; else 0.
int run_status(const std::vector<RankEnd>& ends);

// The ranks that ended more than a tenth of the run's length (the longest rank's) after the
// median rank (the lower middle one: of two ranks, the earlier).
std::vector<bool> stragglers(const std::vector<std::uint64_t>& transfer_ns);

// Every rank's document, in rank order, as one: their merge, with each rank's facts beside its
// figures under "ranks" and the run's status as the whole's. Refused as merge refuses.
MergeResult whole_of_ranks(const std::vector<RunReport>& documents,
                           const std::vector<RankEnd>& ends, int status);

}  // namespace kolvane

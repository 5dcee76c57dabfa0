// The statuses kolvane-report ends with; a CI job gates on compare's.
#pragma once

namespace kolvane {

inline constexpr int kReportSuccess = 0;   // done (compare: no figure is worse), help or version
inline constexpr int kReportWorse = 1;     // compare: a figure is worse beyond the tolerance
inline constexpr int kReportBadInput = 2;  // a word, a document or the output was not usable

}  // namespace kolvane

// The picture of a run drawn from its JSON document rather than from the run itself: any
// document, a merged one included, gives the same kind of picture plot= draws.
#pragma once

#include "report/json_report.h"
#include "report/plot_svg.h"

namespace kolvane {

// A document keeps no per-second timeline: the rate panels are drawn from the latency series'
// intervals (the I/Os and bytes of each) when the document has a series, and left out when it
// has none. An interval that does not fit whole seconds is counted in the second it starts in.
PlotModel plot_model(const RunReport& report);

}  // namespace kolvane

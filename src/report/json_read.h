// The JSON documents of json=FILE read back into the report model, for the tools that gather and
// merge the runs of many hosts: each direction's histogram is made again from its buckets.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "report/json_report.h"

namespace kolvane {

// The model, or what is wrong with the text: the key it is at ("settings.ibs",
// "directions.read.latency_ns.buckets[2]") and why, or the JSON parser's own words.
struct JsonReadResult {
  std::optional<RunReport> report;
  std::string error;  // empty when there is a report
};

// Never throws. What the document derives from the model (the rates, the latency figures and
// count, a series interval's percentiles where it has buckets) is not taken from it: rendering
// the model gives it again. The summed latency is the
// mean times the count, exact while it stays below 2^51 ns (26 days). Names come back as the
// document's UTF-8 text, or as their raw bytes where it kept them ("_hex").
JsonReadResult read_json(std::string_view text);

}  // namespace kolvane

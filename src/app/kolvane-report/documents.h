// Reading the documents named on the command line and writing the one the command makes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report/merge.h"

namespace kolvane {

// The report of the file's document; absent after telling on standard error what is wrong.
std::optional<NamedReport> read_document(const std::string& file);

// The words after the subcommand with `-o FILE` taken out of them (the last one counts), and
// whether they scanned: "-o" without a name is refused.
struct OutputWords {
  std::vector<std::string> rest;
  std::optional<std::string> output;  // absent: standard output
  bool accepted = true;
};
OutputWords take_output(const std::vector<std::string>& words);

// The text as it is, on standard output (never translated into CR LF line ends) or whole into
// the file; false after telling why it could not be written.
bool write_output(const std::optional<std::string>& file, const std::string& text);

// "kolvane-report: " and the message, on standard error.
void tell(const std::string& message);

}  // namespace kolvane

#include "app/kolvane-report/documents.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/platform.h"
#include "report/json_read.h"

namespace kolvane {

void tell(const std::string& message) {
  std::fprintf(stderr, "kolvane-report: %s\n", message.c_str());
}

std::optional<NamedReport> read_document(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  if (!in || !(text << in.rdbuf())) {
    tell(file + ": cannot be read");
    return std::nullopt;
  }
  JsonReadResult read = read_json(text.str());
  if (!read.report) {
    tell(file + ": " + read.error);
    return std::nullopt;
  }
  return NamedReport{file, std::move(*read.report)};
}

OutputWords take_output(const std::vector<std::string>& words) {
  OutputWords out;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] != "-o") {
      out.rest.push_back(words[i]);
    } else if (i + 1 < words.size()) {
      out.output = words[++i];
    } else {
      tell("-o needs the name of a file");
      out.accepted = false;
    }
  }
  return out;
}

namespace {

void say_unwritten(const std::string& name) {
  std::string why = last_error_text();
  if (!why.empty() && why.back() == '\n')
    why.pop_back();
  tell("cannot write " + name + ": " + why);
}

}  // namespace

bool write_output(const std::optional<std::string>& file, const std::string& text) {
  if (!file) {
    // Through the back end, as kolvane writes its data: the C library's text stream would turn
    // each line end into CR LF on Windows, and the documents must be the same bytes everywhere.
    bool unused = false;
    const FileHandle out = open_output(nullptr, false, false, unused);
    if (out == kNoFile || !write_block(out, text.data(), text.size(), false)) {
      say_unwritten("standard output");
      return false;
    }
    return true;
  }
  // Written whole or not at all: a failed write leaves the file's old content.
  Replacement r;
  if (!open_replacement(file->c_str(), r)) {
    say_unwritten(*file);
    return false;
  }
  if (!write_block(r.file, text.data(), text.size(), false)) {
    say_unwritten(*file);
    abandon_replacement(r);
    return false;
  }
  if (!commit_replacement(r)) {
    say_unwritten(*file);
    return false;
  }
  return true;
}

}  // namespace kolvane

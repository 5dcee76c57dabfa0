#include "cli/rank_words.h"

#include <cstring>

namespace kolvane {

bool expand_rank_name(const std::string& name, std::uint32_t rank, std::uint32_t ranks,
                      std::string& expanded) {
  expanded.clear();
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '%') {
      expanded += name[i];
      continue;
    }
    const char next = i + 1 < name.size() ? name[i + 1] : '\0';
    if (next == 'r')
      expanded += std::to_string(rank);
    else if (next == 'n')
      expanded += std::to_string(ranks);
    else if (next == '%')
      expanded += '%';
    else
      return false;
    ++i;
  }
  return true;
}

std::vector<char*> RankWords::argv() {
  std::vector<char*> list;
  list.reserve(words.size() + 1);
  for (std::string& w : words) list.push_back(w.data());
  list.push_back(nullptr);
  return list;
}

RankWords rank_words(int argc, const char* const* argv, std::uint32_t rank, std::uint32_t ranks) {
  RankWords r;
  r.words.emplace_back(argc > 0 ? argv[0] : "kolvane-mpi");
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.rfind("shared=", 0) == 0) {
      const std::string value = word.substr(7);
      if (value != "0" && value != "1") {
        r.refusal = word + ": shared= takes 0 or 1\n";
        return r;
      }
      r.shared = value == "1";
      continue;
    }
    const std::size_t equals = word.find('=');
    const std::string key = equals == std::string::npos ? "" : word.substr(0, equals);
    if (key != "if" && key != "of" && key != "json" && key != "plot") {
      r.words.push_back(word);
      continue;
    }
    const std::string name = word.substr(equals + 1);
    std::string expanded;
    if (!expand_rank_name(name, rank, ranks, expanded)) {
      r.refusal = word +
                  ": in a name, % may only begin %r (the rank), %n (the number of ranks) or %% "
                  "(a percent sign)\n";
      return r;
    }
    // A name is a rank's own when another rank makes another name of it. The last json= or
    // plot= word is the one the run keeps.
    std::string other;
    expand_rank_name(name, rank + 1, ranks, other);
    if (key == "json")
      r.own_json = other != expanded;
    if (key == "plot")
      r.own_plot = other != expanded;
    r.words.push_back(word.substr(0, equals + 1).append(expanded));
  }
  return r;
}

}  // namespace kolvane

// The words of kolvane-mpi as one rank runs them: every rank is given the same words, and each
// makes its own names of them. In if=, of=, json= and plot=, %r is the rank, %n the number of
// ranks and %% a percent sign; shared= is the launcher's own word, taken out before the run's
// words are scanned.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kolvane {

struct RankWords {
  // The program word and the words as this rank runs them; argv() points into them.
  std::vector<std::string> words;
  bool shared = false;    // shared=1
  bool own_json = false;  // json= names a document per rank (holds %r)
  bool own_plot = false;  // plot= the same
  // When not empty, the words are refused with this message (status 1).
  std::string refusal;

  std::vector<char*> argv();
};

RankWords rank_words(int argc, const char* const* argv, std::uint32_t rank, std::uint32_t ranks);

// `name` with its %r, %n and %% replaced; false when it holds any other % sequence.
bool expand_rank_name(const std::string& name, std::uint32_t rank, std::uint32_t ranks,
                      std::string& expanded);

}  // namespace kolvane

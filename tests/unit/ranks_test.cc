// A run of several ranks: the names each rank makes of the same words, the run's status from
// every rank's end, and which ranks are stragglers.
#include "report/ranks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/rank_words.h"

namespace kolvane {
namespace {

TEST(RankWords, EachRankMakesItsOwnNamesOrRefusesTheWords) {
  const struct {
    std::vector<const char*> words;  // after the program word, given to rank 2 of 4
    std::vector<std::string> made;   // the words rank 2 runs, or empty when refused
    bool shared, own_json, own_plot;
  } rows[] = {
      {{"if=d%r", "of=%n-%r.%%r", "bs=4k", "json=x.json", "plot=p%r"},
       {"if=d2", "of=4-2.%r", "bs=4k", "json=x.json", "plot=p2"},
       false,
       false,
       true},
      // Only the names are made: a % elsewhere is the word's own business.
      {{"shared=1", "seed=7", "json=j%r", "verbose=%x"},
       {"seed=7", "json=j2", "verbose=%x"},
       true,
       true,
       false},
      // %% is a percent sign, not the rank, however it ends.
      {{"json=a%%r", "plot=%%"}, {"json=a%r", "plot=%"}, false, false, false},
      {{"of=a%"}, {}, false, false, false},
      {{"if=%x"}, {}, false, false, false},
      {{"shared=2"}, {}, false, false, false},
  };
  for (const auto& row : rows) {
    std::vector<const char*> argv{"kolvane-mpi"};
    argv.insert(argv.end(), row.words.begin(), row.words.end());
    const RankWords w = rank_words(static_cast<int>(argv.size()), argv.data(), 2, 4);
    const std::string first = row.words.front();
    if (row.made.empty()) {
      EXPECT_NE(w.refusal, "") << first;
      continue;
    }
    EXPECT_EQ(w.refusal, "") << first;
    EXPECT_EQ(std::vector<std::string>(w.words.begin() + 1, w.words.end()), row.made) << first;
    EXPECT_EQ(w.shared, row.shared) << first;
    EXPECT_EQ(w.own_json, row.own_json) << first;
    EXPECT_EQ(w.own_plot, row.own_plot) << first;
  }
}

TEST(Ranks, TheLowestFailingRankDecidesAndAStopOnlyWhenNoneFailed) {
  const struct {
    std::vector<RankEnd> ends;
    int status;
  } rows[] = {
      {{{0, 0, 1}, {0, 0, 1}}, 0},
      {{{0, 143, 1}, {3, 0, 1}, {2, 0, 1}}, 3},
      {{{0, 0, 1}, {0, 130, 1}, {0, 143, 1}}, 130},
  };
  for (const auto& row : rows) EXPECT_EQ(run_status(row.ends), row.status);
}

TEST(Ranks, AStragglerEndsATenthOfTheRunAfterTheMedianRank) {
  const struct {
    std::vector<std::uint64_t> ns;
    std::vector<bool> marked;
  } rows[] = {
      {{100, 100, 100, 100}, {false, false, false, false}},
      // Median (the lower middle) 110, run 200: past 130 is late.
      {{100, 110, 131, 200}, {false, false, true, true}},
      {{1000, 130, 1100}, {false, false, false}},
      {{1000, 1112}, {false, true}},
      {{5}, {false}},
  };
  for (const auto& row : rows) EXPECT_EQ(stragglers(row.ns), row.marked);
}

}  // namespace
}  // namespace kolvane

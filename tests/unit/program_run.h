// The whole program run in-process over the fake back end, its streams captured.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/driver.h"

namespace kolvane {

struct ProgramRun {
  int status = -1;
  std::string out, err;
};

// `words` split at spaces, after the program's own name.
inline ProgramRun run_words(const std::string& words) {
  std::vector<std::string> argv_words = {"kolvane"};
  for (std::size_t at = 0, end; at < words.size(); at = end + 1) {
    end = words.find(' ', at);
    if (end == std::string::npos)
      end = words.size();
    argv_words.push_back(words.substr(at, end - at));
  }
  std::vector<char*> argv;
  for (std::string& word : argv_words) argv.push_back(word.data());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  ProgramRun run;
  run.status = run_program(static_cast<int>(argv.size()), argv.data());
  run.err = testing::internal::GetCapturedStderr();
  run.out = testing::internal::GetCapturedStdout();
  return run;
}

}  // namespace kolvane

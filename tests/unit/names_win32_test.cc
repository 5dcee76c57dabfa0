// Windows hands names over in the ANSI code page; the report needs them in UTF-8.
#include <gtest/gtest.h>
#include <windows.h>

#include <nlohmann/json.hpp>

#include "platform/names.h"
#include "report/json_report.h"

namespace kolvane {
namespace {

TEST(Win32Names, AnsiCodePageToUtf8) {
  EXPECT_EQ(name_to_utf8("plain.img"), "plain.img");
  EXPECT_EQ(name_to_utf8(""), "");
  if (GetACP() != 1252) {
    GTEST_SKIP() << "the cases below are for code page 1252; this one is " << GetACP();
  }
  EXPECT_EQ(name_to_utf8("caf\xE9.img"), "caf\xC3\xA9.img");
  EXPECT_EQ(name_to_utf8("\x80 \xFF"), "\xE2\x82\xAC \xC3\xBF");

  // Valid in the code page, so valid once converted: no raw bytes beside it.
  RunReport r;
  r.settings.input = "caf\xE9.img";
  const nlohmann::json j = nlohmann::json::parse(render_json(r));
  EXPECT_EQ(j["settings"]["input"], "caf\xC3\xA9.img");
  EXPECT_FALSE(j["settings"].contains("input_hex"));
}

}  // namespace
}  // namespace kolvane

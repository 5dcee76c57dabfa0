// Names on POSIX are bytes: the report keeps valid UTF-8 as it is and shows the rest as hex.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/names.h"
#include "report/json_report.h"

namespace kolvane {
namespace {

using nlohmann::json;

TEST(PosixNames, PassThrough) {
  EXPECT_EQ(name_to_utf8("d\xC3\xBCrr.img"), "d\xC3\xBCrr.img");
  EXPECT_EQ(name_to_utf8("a\xFF"
                         "b"),
            "a\xFF"
            "b");
}

TEST(PosixNames, NameThatIsNotUtf8InTheJson) {
  RunReport r;
  r.command = {
      "if=a\xFF"
      "b",
      "of=d\xC3\xBCrr.img"};
  r.settings.input =
      "a\xFF"
      "b";
  r.settings.output = "d\xC3\xBCrr.img";
  r.exit_status = 2;
  r.error =
      "error opening 'a\xFF"
      "b': No such file or directory";
  const json j = json::parse(render_json(r));
  EXPECT_EQ(j["settings"]["input"],
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(j["settings"]["input_hex"], "61ff62");
  EXPECT_EQ(j["settings"]["output"], "d\xC3\xBCrr.img");
  EXPECT_FALSE(j["settings"].contains("output_hex"));
  EXPECT_EQ(j["command"], json({"if=a\xEF\xBF\xBD"
                                "b",
                                "of=d\xC3\xBCrr.img"}));
  EXPECT_EQ(j["command_hex"], json({"69663d61ff62", "6f663d64c3bc72722e696d67"}));
  EXPECT_EQ(j["error"],
            "error opening 'a\xEF\xBF\xBD"
            "b': No such file or directory");
}

}  // namespace
}  // namespace kolvane

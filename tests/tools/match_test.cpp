// korvo match, run as the installed tool.
#include <gtest/gtest.h>

#include <string>

#include "support/tool_run.h"

namespace korvo {
namespace {

TEST(MatchToolTest, ReportsEachValueAndExitsLikeGrep) {
  const struct {
    const char* args;  // as the shell reads them
    int exit_code;
    const char* out;  // nullptr: not checked
  } cases[] = {
      {"'LMS[0-9]+' LMS100 LMS511", 0, "match\tLMS100\nmatch\tLMS511\n"},
      {"'a*' '' aa ab", 1, "match\t\nmatch\taa\nno match\tab\n"},
      // Hex values reach every byte.
      {"--hex 'a\\0.' '61 00 ff' 6100 610041", 1, "match\t61 00 ff\nno match\t6100\nmatch\t610041\n"},
      {"--hex '[^a]' 0xFF", 0, nullptr},
      {"-- --x --x", 0, nullptr},
      {"'(a' a", 2, ""},
      {"'' x", 2, nullptr},
      {"", 2, nullptr},
      {"a", 2, nullptr},
      {"--color a a", 2, nullptr},
      {"--hex a 6", 2, nullptr},
      {"--hex a zz", 2, nullptr},
  };
  for (const auto& c : cases) {
    test_support::ToolRun run = test_support::RunTool(std::string("match ") + c.args);
    EXPECT_EQ(c.exit_code, run.exit_code) << c.args;
    if (c.out) {
      EXPECT_EQ(c.out, run.out) << c.args;
    }
  }
  // An invalid pattern tells why.
  const std::string err = test_support::RunTool("match '(a' a").err;
  EXPECT_NE(std::string::npos, err.find("status 2")) << err;
  EXPECT_NE(std::string::npos, err.find("unbalanced group")) << err;
}

}  // namespace
}  // namespace korvo

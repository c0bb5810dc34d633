// korvo match, run as the installed tool.
#include <gtest/gtest.h>

#include <string>

#include "support/tool_run.h"

namespace korvo {
namespace {

using test_support::ToolRun;

// `args` as the shell reads them.
ToolRun Match(const std::string& args) { return test_support::RunTool("match " + args); }

TEST(MatchToolTest, ReportsEachValueAndExitsLikeGrep) {
  ToolRun all = Match("'LMS[0-9]+' LMS100 LMS511");
  EXPECT_EQ(0, all.exit_code);
  EXPECT_EQ("match\tLMS100\nmatch\tLMS511\n", all.out);

  ToolRun some = Match("'a*' '' aa ab");
  EXPECT_EQ(1, some.exit_code);
  EXPECT_EQ("match\t\nmatch\taa\nno match\tab\n", some.out);
}

TEST(MatchToolTest, InvalidPatternTellsWhy) {
  ToolRun run = Match("'(a' a");
  EXPECT_EQ(2, run.exit_code);
  EXPECT_EQ("", run.out);
  EXPECT_NE(std::string::npos, run.err.find("status 2"));
  EXPECT_NE(std::string::npos, run.err.find("unbalanced group"));
  EXPECT_EQ(2, Match("'' x").exit_code);
}

TEST(MatchToolTest, HexValuesReachEveryByte) {
  ToolRun run = Match("--hex 'a\\0.' '61 00 ff' 6100 610041");
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ("match\t61 00 ff\nno match\t6100\nmatch\t610041\n", run.out);
  EXPECT_EQ(0, Match("--hex '[^a]' 0xFF").exit_code);
}

TEST(MatchToolTest, WrongArgumentsAreErrors) {
  for (const char* args : {"", "a", "--color a a", "--hex a 6", "--hex a zz"})
    EXPECT_EQ(2, Match(args).exit_code) << args;
  EXPECT_EQ(0, Match("-- --x --x").exit_code);
}

}  // namespace
}  // namespace korvo

// korvo match, run as the installed tool.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
};

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

ToolRun Match(const std::vector<std::string>& args) {
  std::string command = Quote(KORVO_TOOL) + " match";
  for (const std::string& a : args) command += " " + Quote(a);
  command += " 2>&1";
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char chunk[512];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.out.append(chunk, got);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

TEST(MatchToolTest, ReportsEachValueAndExitsLikeGrep) {
  ToolRun all = Match({"LMS[0-9]+", "LMS100", "LMS511"});
  EXPECT_EQ(0, all.status);
  EXPECT_EQ("match\tLMS100\nmatch\tLMS511\n", all.out);

  ToolRun some = Match({"a*", "", "aa", "ab"});
  EXPECT_EQ(1, some.status);
  EXPECT_EQ("match\t\nmatch\taa\nno match\tab\n", some.out);
}

TEST(MatchToolTest, InvalidPatternTellsWhy) {
  ToolRun run = Match({"(a", "a"});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.out.find("status 2"));
  EXPECT_NE(std::string::npos, run.out.find("unbalanced group"));
  EXPECT_EQ(2, Match({"", "x"}).status);
}

TEST(MatchToolTest, HexValuesReachEveryByte) {
  ToolRun run = Match({"--hex", "a\\0.", "61 00 ff", "6100", "610041"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("match\t61 00 ff\nno match\t6100\nmatch\t610041\n", run.out);
  EXPECT_EQ(0, Match({"--hex", "[^a]", "0xFF"}).status);
}

TEST(MatchToolTest, WrongArgumentsAreErrors) {
  EXPECT_EQ(2, Match({}).status);
  EXPECT_EQ(2, Match({"a"}).status);
  EXPECT_EQ(2, Match({"--color", "a", "a"}).status);
  EXPECT_EQ(2, Match({"--hex", "a", "6"}).status);
  EXPECT_EQ(2, Match({"--hex", "a", "zz"}).status);
  EXPECT_EQ(0, Match({"--", "--x", "--x"}).status);
}

}  // namespace

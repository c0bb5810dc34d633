// The tool explains itself on standard output, keeps errors on standard
// error, and reads or writes "-" as standard input or output.
#include <gtest/gtest.h>

#include <string>

#include "platform/system.h"
#include "support/files.h"
#include "support/tool_run.h"

namespace korvo {
namespace {

using test_support::RunTool;
using test_support::ToolRun;

TEST(KorvoToolTest, HelpAndVersionOnStandardOutput) {
  const struct {
    const char* args;
    const char* first_line;
  } cases[] = {
      {"--help", "usage: korvo COMMAND [ARGS]\n"},
      {"-h", "usage: korvo COMMAND [ARGS]\n"},
      {"help", "usage: korvo COMMAND [ARGS]\n"},
      {"help match", "usage: korvo match [--hex] PATTERN VALUE...\n"},
      {"build --help", "usage: korvo build [--json] PROJECT.xml\n"},
      {"inspect -h", "usage: korvo inspect [--xml|--json] FILE\n"},
      {"--version", "korvo 1."},
  };
  for (const auto& c : cases) {
    ToolRun run = RunTool(c.args);
    EXPECT_EQ(0, run.exit_code) << c.args;
    EXPECT_EQ(0u, run.out.find(c.first_line)) << c.args << "\n" << run.out;
    EXPECT_EQ("", run.err) << c.args;
  }
  EXPECT_NE(std::string::npos, RunTool("help match").out.find("Pattern syntax:"));
  for (const char* wrong : {"", "frobnicate", "help frobnicate", "compress", "compress a",
                            "decompress a b c", "build", "build a.xml b.xml"}) {
    ToolRun run = RunTool(wrong);
    EXPECT_EQ(2, run.exit_code) << wrong;
    EXPECT_EQ("", run.out) << wrong;
    EXPECT_NE("", run.err) << wrong;
  }
}

TEST(KorvoToolTest, DashIsStandardInputOrOutput) {
  const std::string text = "korvo tool test\n";
  test_support::WriteFile("korvo_tool_test.txt", text);
  ToolRun run = RunTool("compress - - <korvo_tool_test.txt | '" + std::string(KORVO_TOOL) +
                        "' decompress - -");
  EXPECT_EQ(0, run.exit_code) << run.err;
  EXPECT_EQ(text, run.out);
  run = RunTool("decompress - - <korvo_tool_test.txt");
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ("", run.out);
  EXPECT_NE(std::string::npos, run.err.find("not a compressed file")) << run.err;
  RemoveFile("korvo_tool_test.txt");
}

}  // namespace
}  // namespace korvo

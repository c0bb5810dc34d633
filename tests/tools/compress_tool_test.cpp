// Runs the built korvo tool as a user would and checks exit codes, files
// and the one-line errors.
#include <gtest/gtest.h>

#include <string>

#include "platform/system.h"
#include "support/files.h"
#include "support/tool_run.h"

namespace korvo {
namespace {

using test_support::ReadFile;
using test_support::RunTool;
using test_support::ToolRun;
using test_support::WriteFile;

const std::string kPlain = "tool_test_plain.xml";
const std::string kPacked = "tool_test_packed.kvz";
const std::string kOut = "tool_test_out.xml";

class CompressToolTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& p : {kPlain, kPacked, kOut}) RemoveFile(p);
  }
};

TEST_F(CompressToolTest, RoundTripSucceedsSilentlyAndTruncationLeavesNoOutput) {
  const std::string text = "<download_keys>\n" + std::string(2000, 'k') + "\n</download_keys>\n";
  WriteFile(kPlain, text);
  ToolRun r = RunTool("compress " + kPlain + " " + kPacked);
  EXPECT_EQ(0, r.exit_code);
  EXPECT_EQ("", r.err);
  const std::string packed = ReadFile(kPacked);
  EXPECT_EQ("\x55\xAA\x02\xFF", packed.substr(0, 4));
  r = RunTool("decompress " + kPacked + " " + kOut);
  EXPECT_EQ(0, r.exit_code);
  EXPECT_EQ(text, ReadFile(kOut));

  RemoveFile(kOut);
  WriteFile(kPacked, packed.substr(0, packed.size() - 1));
  r = RunTool("decompress " + kPacked + " " + kOut);
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find(kPacked + ": truncated")) << r.err;
  EXPECT_EQ("<missing>", ReadFile(kOut));
}

TEST_F(CompressToolTest, WrongArgumentCountShowsUsage) {
  for (const char* args : {"compress", "compress a", "decompress a b c"}) {
    ToolRun r = RunTool(args);
    EXPECT_EQ(2, r.exit_code) << args;
    EXPECT_NE(std::string::npos, r.err.find("usage")) << args;
  }
}

TEST_F(CompressToolTest, ErrorsNameTheFileAndReason) {
  ToolRun r = RunTool("compress missing_input.xml " + kPacked);
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find("missing_input.xml: cannot open")) << r.err;
  EXPECT_EQ("<missing>", ReadFile(kPacked));

  WriteFile(kPlain, "plain text, not compressed");
  r = RunTool("compress " + kPlain + " no_such_dir/out.kvz");
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find("no_such_dir/out.kvz: cannot create")) << r.err;

  // A plain file given by mistake leaves an existing output alone.
  WriteFile(kOut, "keep me");
  r = RunTool("decompress " + kPlain + " " + kOut);
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find(kPlain + ": not a compressed file")) << r.err;
  EXPECT_EQ("keep me", ReadFile(kOut));

  // A device that refuses writes is reported and, unlike a partial file, kept.
  if (UniqueFile(OpenFileUtf8("/dev/full", "wb"))) {
    r = RunTool("compress " + kPlain + " /dev/full");
    EXPECT_EQ(1, r.exit_code);
    EXPECT_NE(std::string::npos, r.err.find("/dev/full: write error")) << r.err;
    EXPECT_TRUE(UniqueFile(OpenFileUtf8("/dev/full", "wb")));
  }

  r = RunTool("compress " + kPlain + " ./" + kPlain);
  EXPECT_EQ(1, r.exit_code);
  EXPECT_EQ("plain text, not compressed", ReadFile(kPlain));
}

}  // namespace
}  // namespace korvo

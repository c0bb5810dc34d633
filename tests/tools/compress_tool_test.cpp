// Runs the built korvo tool as a user would and checks exit codes, files
// and the one-line errors.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/system.h"

namespace korvo {
namespace {

struct ToolRun {
  int exit_code;
  std::string err;
};

ToolRun RunTool(const std::string& args) {
  const std::string err_file = "compress_tool_test.err";
  int status = std::system((std::string("'") + KORVO_TOOL + "' " + args + " 2>" + err_file).c_str());
  ToolRun run{(status & 0x7F) == 0 ? (status >> 8) & 0xFF : -1, ""};
  if (UniqueFile f{OpenFileUtf8(err_file, "rb")}) {
    char buf[1024];
    size_t n = std::fread(buf, 1, sizeof buf, f.get());
    run.err.assign(buf, n);
  }
  RemoveFile(err_file);
  return run;
}

std::string ReadAll(const std::string& path) {
  UniqueFile f(OpenFileUtf8(path, "rb"));
  if (!f) return "<missing>";
  std::string s;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f.get())) > 0;) s.append(buf, n);
  return s;
}

void WriteAll(const std::string& path, const std::string& text) {
  UniqueFile f(OpenFileUtf8(path, "wb"));
  ASSERT_TRUE(f);
  std::fwrite(text.data(), 1, text.size(), f.get());
}

class CompressToolTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* p : {kPlain, kPacked, kOut}) RemoveFile(p);
  }
  static constexpr const char* kPlain = "tool_test_plain.xml";
  static constexpr const char* kPacked = "tool_test_packed.kvz";
  static constexpr const char* kOut = "tool_test_out.xml";
};

TEST_F(CompressToolTest, RoundTripSucceedsSilently) {
  std::string text = "<download_keys>\n  <Device>x</Device>\n</download_keys>\n";
  WriteAll(kPlain, text);
  ToolRun r = RunTool(std::string("compress ") + kPlain + " " + kPacked);
  EXPECT_EQ(0, r.exit_code);
  EXPECT_EQ("", r.err);
  EXPECT_EQ("\x55\xAA\x02\xFF", ReadAll(kPacked).substr(0, 4));
  r = RunTool(std::string("decompress ") + kPacked + " " + kOut);
  EXPECT_EQ(0, r.exit_code);
  EXPECT_EQ(text, ReadAll(kOut));
}

TEST_F(CompressToolTest, WrongArgumentCountShowsUsage) {
  for (const char* args : {"compress", "compress a", "decompress a b c"}) {
    ToolRun r = RunTool(args);
    EXPECT_EQ(2, r.exit_code) << args;
    EXPECT_NE(std::string::npos, r.err.find("usage")) << args;
  }
}

TEST_F(CompressToolTest, ErrorsNameTheFileAndReason) {
  ToolRun r = RunTool(std::string("compress missing_input.xml ") + kPacked);
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find("missing_input.xml: cannot open")) << r.err;
  EXPECT_EQ("<missing>", ReadAll(kPacked));

  WriteAll(kPlain, "plain text, not compressed");
  r = RunTool(std::string("compress ") + kPlain + " no_such_dir/out.kvz");
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find("no_such_dir/out.kvz: cannot create")) << r.err;

  // A plain file given by mistake leaves an existing output alone.
  WriteAll(kOut, "keep me");
  r = RunTool(std::string("decompress ") + kPlain + " " + kOut);
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find(std::string(kPlain) + ": not a compressed file")) << r.err;
  EXPECT_EQ("keep me", ReadAll(kOut));

  // A device that refuses writes is reported and, unlike a partial file, kept.
  if (UniqueFile(OpenFileUtf8("/dev/full", "wb"))) {
    r = RunTool(std::string("compress ") + kPlain + " /dev/full");
    EXPECT_EQ(1, r.exit_code);
    EXPECT_NE(std::string::npos, r.err.find("/dev/full: write error")) << r.err;
    EXPECT_TRUE(UniqueFile(OpenFileUtf8("/dev/full", "wb")));
  }

  r = RunTool(std::string("compress ") + kPlain + " ./" + kPlain);
  EXPECT_EQ(1, r.exit_code);
  EXPECT_EQ("plain text, not compressed", ReadAll(kPlain));
}

TEST_F(CompressToolTest, TruncatedInputLeavesNoOutput) {
  WriteAll(kPlain, std::string(2000, 'k'));
  ASSERT_EQ(0, RunTool(std::string("compress ") + kPlain + " " + kPacked).exit_code);
  std::string packed = ReadAll(kPacked);
  WriteAll(kPacked, packed.substr(0, packed.size() - 1));
  ToolRun r = RunTool(std::string("decompress ") + kPacked + " " + kOut);
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find(std::string(kPacked) + ": truncated")) << r.err;
  EXPECT_EQ("<missing>", ReadAll(kOut));
}

}  // namespace
}  // namespace korvo

// Runs "korvo inspect" as a user would: summaries, --xml, and the one-line
// errors for files that are not configurations.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/splay_compressor.h"
#include "platform/system.h"
#include "support/files.h"
#include "support/tool_run.h"

namespace korvo {
namespace {

const char kPlain[] = "inspect_tool_test.xml";
const char kPacked[] = "inspect_tool_test.cfg";
using test_support::ReadFile;
using test_support::ToolRun;
using test_support::WriteFile;

ToolRun Inspect(const std::string& args) { return test_support::RunTool("inspect " + args); }

// Compressed file holding `xml`.
void WritePacked(const std::string& xml) {
  WriteFile(kPlain, xml);
  SplayCompressor compressor;
  ASSERT_EQ(0, compressor.Compress(kPlain, kPacked));
}

bool LeftoverTempFiles() {
  for (const auto& entry : std::filesystem::directory_iterator("."))
    if (entry.path().filename().string().rfind("~KORVO_INSPECT", 0) == 0) return true;
  return false;
}

const char kConfiguration[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n"
    "<download_configuration>\n"
    "  <Header>\n"
    "    <System2><TavisDevice>true</TavisDevice><Key>K-123</Key></System2>\n"
    "    <Device>\n"
    "      <PROGRAM_MEMORY_SIZE transparent=\"true\">6</PROGRAM_MEMORY_SIZE>\n"
    "      <DATA_TYPE transparent=\"true\">BREK</DATA_TYPE>\n"
    "      <Name>Main unit</Name>\n"
    "      <Log>written by test</Log>\n"
    "      <DOWNLOAD_CONSTRAINT2 communicationName=\"FirmwareVersion\" operator=\"&gt;=\"\n"
    "          type=\"variable\" comparison=\"512\" datatype=\"int\" index=\"1\"/>\n"
    "    </Device>\n"
    "    <Device><DATA_TYPE transparent=\"true\">FILE</DATA_TYPE></Device>\n"
    "  </Header>\n"
    "  <Data>\n"
    "    <Device>QUJDREVG</Device>\n"
    "    <Device>broken!</Device>\n"
    "  </Data>\n"
    "</download_configuration>\n";

class InspectToolTest : public testing::Test {
 protected:
  void TearDown() override {
    RemoveFile(kPlain);
    RemoveFile(kPacked);
    EXPECT_FALSE(LeftoverTempFiles());
  }

  // One line on stderr naming the file and the reason, nothing on stdout.
  void ExpectOneLineError(const ToolRun& run, const std::string& file, const std::string& reason) {
    EXPECT_EQ(1, run.exit_code);
    EXPECT_EQ("", run.out);
    EXPECT_EQ("korvo: " + file + ": " + reason + "\n", run.err);
  }
};

TEST_F(InspectToolTest, SummaryAndXmlOfAConfiguration) {
  WritePacked(kConfiguration);
  ToolRun run = Inspect(kPacked);
  EXPECT_EQ(0, run.exit_code) << run.err;
  EXPECT_EQ("", run.err);
  const std::string out = run.out;
  for (const char* expected : {
           "System entries (System2):\n  TavisDevice = true\n  Key = K-123\n",
           "    DATA_TYPE = BREK  [transparent]\n    Name = Main unit\n",
           "    2: variable FirmwareVersion >= \"512\" (int, index 1, strlen 0)\n",
           "    0: written by test\n",
           "  Data: BREK, 6 bytes decoded, CRC-32 BB76FE69\n",
           "  Data: FILE, no single valid Base64 text\n",
       }) {
    EXPECT_NE(std::string::npos, out.find(expected)) << "missing: " << expected << "\n" << out;
  }
  // Logs and constraints are not listed again as plain entries.
  EXPECT_EQ(std::string::npos, out.find("Log = ")) << out;
  EXPECT_EQ(std::string::npos, out.find("DOWNLOAD_CONSTRAINT2 =")) << out;

  // --xml prints the decompressed text.
  run = Inspect(std::string("--xml ") + kPacked);
  EXPECT_EQ(0, run.exit_code) << run.err;
  EXPECT_EQ(kConfiguration, run.out);
}

TEST_F(InspectToolTest, FilesThatAreNoConfigurationGetOneLineErrors) {
  WriteFile(kPacked, kConfiguration);
  ExpectOneLineError(Inspect(kPacked), kPacked,
                     "not compressed (configuration files are stored compressed)");

  WriteFile(kPacked, "plain words");
  ExpectOneLineError(Inspect(kPacked), kPacked, "not compressed and not well-formed XML");

  WritePacked("<download_configuration><Header></download_configuration>");
  ExpectOneLineError(Inspect(kPacked), kPacked, "decompressed content is not well-formed XML");

  WritePacked("<download_project/>");
  ExpectOneLineError(Inspect(kPacked), kPacked,
                     "not a configuration file (root element 'download_project')");

  WritePacked(kConfiguration);
  std::string packed = ReadFile(kPacked);
  WriteFile(kPacked, packed.substr(0, packed.size() / 2));
  ExpectOneLineError(Inspect(kPacked), kPacked, "cannot decompress (damaged or truncated)");

  ExpectOneLineError(Inspect("inspect_tool_test.missing"), "inspect_tool_test.missing",
                     "cannot open file");

  ToolRun usage = Inspect("--xml");
  EXPECT_EQ(2, usage.exit_code);
  EXPECT_EQ("usage: korvo inspect [--xml|--json] FILE\n", usage.err);
}

TEST_F(InspectToolTest, KeyFilesPlainOrCompressedAreHandedOn) {
  const std::string keys = "<download_keys>\n  <Device>x</Device>\n</download_keys>\n";
  WritePacked(keys);
  ToolRun run = Inspect(std::string("--xml ") + kPacked);
  EXPECT_EQ(0, run.exit_code) << run.err;
  EXPECT_EQ(keys, run.out);
  EXPECT_EQ(keys, Inspect(std::string("--xml ") + kPlain).out);
  // The key summary is not ours to check, only that it is not refused.
  run = Inspect(kPacked);
  EXPECT_EQ(std::string::npos, run.err.find("not a configuration")) << run.err;
  EXPECT_EQ(std::string::npos, run.err.find("not compressed")) << run.err;
}

}  // namespace
}  // namespace korvo

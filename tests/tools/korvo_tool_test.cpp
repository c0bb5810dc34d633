// Runs the korvo tool as a user would; its failures are rows of the fault
// table in hardening_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "support/files.h"
#include "support/tool_run.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::ToolRun;
using test_support::WriteFile;
using KorvoToolTest = test_support::ToolTest;

// Help on standard output, errors on standard error; exit status as grep's
// for match: 0 all values match, 1 some do not, 2 on error.
TEST_F(KorvoToolTest, ExitCodeOutputAndErrorOfEachCommandLine) {
  WriteFile(At("text"), "korvo tool test\n");
  const std::string korvo = std::string("'") + KORVO_TOOL + "'";
  // Arguments as the shell reads them; the start of standard output and a piece of standard
  // error, "" for none at all.
  const struct { std::string args; int exit_code; std::string out, err; } cases[] = {
      {"--help", 0, "usage: korvo COMMAND [ARGS]\n", ""},
      {"-h", 0, "usage: korvo COMMAND [ARGS]\n", ""},
      {"help", 0, "usage: korvo COMMAND [ARGS]\n", ""},
      {"help match", 0, "usage: korvo match [--hex] PATTERN VALUE...\n", ""},
      {"build --help", 0, "usage: korvo build [--json] PROJECT.xml\n", ""},
      {"inspect -h", 0, "usage: korvo inspect [--xml|--json] FILE\n", ""},
      {"--version", 0, "korvo 1.", ""},
      {"", 2, "", "usage: korvo COMMAND"},
      {"frobnicate", 2, "", "unknown command 'frobnicate'"},
      {"help frobnicate", 2, "", "unknown command 'frobnicate'"},
      {"compress", 2, "", "usage: korvo compress IN OUT"},
      {"compress a", 2, "", "usage: korvo compress IN OUT"},
      {"decompress a b c", 2, "", "usage: korvo decompress IN OUT"},
      {"build", 2, "", "usage: korvo build"},
      {"build a.xml b.xml", 2, "", "usage: korvo build"},
      {"inspect --xml", 2, "", "usage: korvo inspect"},
      // "-" is standard input or output.
      {"compress - - <text | " + korvo + " decompress - -", 0, "korvo tool test\n", ""},
      {"decompress - - <text", 1, "", "not a compressed file"},
      {"match 'LMS[0-9]+' LMS100 LMS511", 0, "match\tLMS100\nmatch\tLMS511\n", ""},
      {"match 'a*' '' aa ab", 1, "match\t\nmatch\taa\nno match\tab\n", ""},
      // Hex values reach every byte.
      {"match --hex 'a\\0.' '61 00 ff' 6100 610041", 1,
       "match\t61 00 ff\nno match\t6100\nmatch\t610041\n", ""},
      {"match --hex '[^a]' 0xFF", 0, "match\t0xFF\n", ""},
      {"match -- --x --x", 0, "match\t--x\n", ""},
      {"match '(a' a", 2, "", "invalid pattern, status 2: unbalanced group"},
      {"match '' x", 2, "", "invalid pattern, status 5"},
      {"match", 2, "", "usage: korvo match"},
      {"match a", 2, "", "usage: korvo match"},
      {"match --color a a", 2, "", "unknown option '--color'"},
      {"match --hex a 6", 2, "", "'6' is not a sequence of hexadecimal bytes"},
      {"match --hex a zz", 2, "", "'zz' is not a sequence of hexadecimal bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    ToolRun run = Run(c.args);
    EXPECT_EQ(c.exit_code, run.exit_code) << run.err;
    EXPECT_EQ(c.out, run.out.substr(0, c.out.empty() ? std::string::npos : c.out.size()));
    EXPECT_EQ(c.err.empty(), run.err.empty()) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(c.err)) << run.err;
  }
}

const char kConfiguration[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n"
    "<download_configuration><Header>\n"
    "  <System2><TavisDevice>true</TavisDevice><Key>K-123</Key></System2>\n"
    "  <Device><PROGRAM_MEMORY_SIZE transparent=\"true\">6</PROGRAM_MEMORY_SIZE>\n"
    "    <DATA_TYPE transparent=\"true\">BREK</DATA_TYPE><Name>Main unit</Name>\n"
    "    <Log>written by test</Log><DOWNLOAD_CONSTRAINT2 communicationName=\"FirmwareVersion\"\n"
    "      operator=\"&gt;=\" type=\"variable\" comparison=\"512\" datatype=\"int\" index=\"1\"/>\n"
    "  </Device><Device><DATA_TYPE transparent=\"true\">FILE</DATA_TYPE></Device>\n"
    "</Header><Data><Device>QUJDREVG</Device><Device>broken!</Device></Data>\n"
    "</download_configuration>\n";

TEST_F(KorvoToolTest, InspectSummarisesAConfigurationAndPrintsItsXml) {
  WriteFile(At("c.xml"), kConfiguration);
  ASSERT_EQ(0, Run("compress c.xml c.cfg").exit_code);
  // "ABCDEF" is no block stream: the whole summary, then the refusal.
  ToolRun run = Run("inspect c.cfg");
  EXPECT_EQ(1, run.exit_code) << run.err;
  EXPECT_EQ("korvo: c.cfg: damaged: the data of device 1: no block marker at byte 0\n", run.err);
  for (const char* expected : {
           "System entries (System2):\n  TavisDevice = true\n  Key = K-123\n",
           "    DATA_TYPE = BREK  [transparent]\n    Name = Main unit\n",
           "    2: variable FirmwareVersion >= \"512\" (int, index 1, strlen 0)\n",
           "    0: written by test\n",
           "  Data: BREK, 6 bytes decoded, CRC-32 BB76FE69, damaged: no block marker at byte 0\n",
           "  Data: FILE, no single valid Base64 text\n",
       }) {
    EXPECT_NE(std::string::npos, run.out.find(expected)) << "missing: " << expected << run.out;
  }
  // Logs and constraints are not listed again as plain entries.
  EXPECT_EQ(std::string::npos, run.out.find("Log = ")) << run.out;
  EXPECT_EQ(std::string::npos, run.out.find("DOWNLOAD_CONSTRAINT2 =")) << run.out;
  EXPECT_EQ(kConfiguration, Run("inspect --xml c.cfg").out);
  run = Run("inspect --json c.cfg");
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ("no block marker at byte 0",
            nlohmann::json::parse(run.out).at("devices").at(0).at("damaged"));

  // --json: what the text marks, as warnings.
  EXPECT_EQ(nlohmann::json({"device 1: block stream damaged after 0 blocks",
                            "device 2: data: no single valid Base64 text"}),
            nlohmann::json::parse(Run("inspect --json c.cfg").out).at("warnings"));

  // Key files, plain or compressed, are handed on to the key summary, text or JSON.
  const std::string keys =
      "<download_keys>\n  <Device Key=\"A\"><Signature><Rights><User level=\"3\" access=\"rule\"/>"
      "<User level=\"3\" access=\"grant\"/></Rights></Signature></Device>\n  <Device Key=\"A\"/>\n"
      "</download_keys>\n";
  WriteFile(At("k.xml"), keys);
  ASSERT_EQ(0, Run("compress k.xml k.kz").exit_code);
  EXPECT_EQ(keys, Run("inspect --xml k.kz").out);
  EXPECT_EQ(keys, Run("inspect --xml k.xml").out);
  EXPECT_NE(std::string::npos,
            Run("inspect k.kz").out.find("        Level 3: rule\n          no rules\n"
                                         "        Level 3: grant (level repeated: never read)\n"
                                         "Device 1: key \"A\" (key repeated: never selected)\n"));
  const nlohmann::json summary = nlohmann::json::parse(Run("inspect --json k.kz").out);
  EXPECT_EQ("key file", summary.at("kind"));
  EXPECT_EQ(R"([{"access":"rule","level":"3","note":"","rules":[]},)"
            R"({"access":"grant","level":"3","note":"level repeated: never read","rules":[]}])",
            summary.at("devices").at(0).at("signatures").at(0).at("users").dump());
  EXPECT_EQ(nlohmann::json({"device 0, signature 0, level 3: access by rule, and no rules",
                            "device 0, signature 0, level 3: level repeated: never read",
                            "device 1: key repeated: never selected"}),
            summary.at("warnings"));
  EXPECT_EQ((std::set<std::string>{"c.xml", "c.cfg", "k.xml", "k.kz"}), Names());  // no temporary
}

TEST_F(KorvoToolTest, BuildOfTheExampleReportsEveryDeviceInTextAndJson) {
  const fs::path examples = fs::path(KORVO_TEST_DATA).parent_path().parent_path() / "examples";
  for (const char* name : {"project.xml", "firmware.s19", "parameters.bin"})
    fs::copy_file(examples / name, dir_ / name);
  ToolRun r = Run("build project.xml");
  ASSERT_EQ(0, r.exit_code) << r.err;
  EXPECT_EQ("", r.err);
  // 3 KiB and 1 KiB blocks with their check bytes, and the closing block.
  EXPECT_EQ("example.cfg\n  device 0: SRECToBrekXML -> BREK, 4128 bytes\n"
            "  device 1: File -> FILE, 504 bytes\n",
            r.out);
  r = Run("inspect example.cfg");
  EXPECT_EQ(0, r.exit_code) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("    block 00010000-00010C00       3072 bytes\n"
                                           "    gap   00010C00-00020000      62464 bytes\n"))
      << r.out;

  // The first data record repeated last is built and warned about.
  std::string srec = ReadFile(At("firmware.s19"));
  const size_t second = srec.find('\n') + 1;
  srec.insert(srec.find("S7"), srec.substr(second, srec.find('\n', second) + 1 - second));
  WriteFile(At("firmware.s19"), srec);
  r = Run("build --json project.xml");
  ASSERT_EQ(0, r.exit_code) << r.err;
  const nlohmann::json json = nlohmann::json::parse(r.out);
  EXPECT_EQ("EXAMPLE-SCANNER-01", json.at("system").at("Key"));
  const auto& devices = json.at("devices");
  ASSERT_EQ(2u, devices.size());
  // By address, as the text shows them; the repeated record opens a block of its own.
  EXPECT_EQ(R"([{"bytes":3072,"end":"00010C00","start":"00010000","stream_index":0},)"
            R"({"bytes":32,"end":"00010020","start":"00010000","stream_index":2},)"
            R"({"bytes":1024,"end":"00020400","start":"00020000","stream_index":1}])",
            devices[0].at("blocks").dump());
  EXPECT_EQ("00010000-00020400", devices[0].at("entries").at("ADDRESS_RANGE"));
  // The payloads themselves, through their size and CRC-32.
  EXPECT_EQ("DBBA2A11", devices[0].at("crc32"));
  EXPECT_EQ(4170, devices[0].at("payload_bytes"));
  EXPECT_EQ("A69D5DCD", devices[1].at("crc32"));
  EXPECT_EQ(504, devices[1].at("payload_bytes"));
  // The build's warnings, then what the memory map shows; the inspection alone, the latter.
  const nlohmann::json overlap = {"device 1: block 00010000-00010020 overlaps the block before"};
  EXPECT_EQ(nlohmann::json({"firmware.s19: line 130: record at 00010000 repeats data given before",
                            overlap[0]}),
            json.at("warnings"));
  const nlohmann::json inspected = nlohmann::json::parse(Run("inspect --json example.cfg").out);
  EXPECT_EQ(devices, inspected.at("devices"));
  EXPECT_EQ(overlap, inspected.at("warnings"));
  EXPECT_NE(std::string::npos, Run("inspect example.cfg")
                                   .out.find("    block 00010000-00010C00       3072 bytes\n"
                                             "    (overlaps the block before)\n"
                                             "    block 00010000-00010020         32 bytes\n"));
  EXPECT_EQ((std::set<std::string>{"project.xml", "firmware.s19", "parameters.bin", "example.cfg"}),
            Names());  // no temporary file of the tool
}

}  // namespace
}  // namespace korvo

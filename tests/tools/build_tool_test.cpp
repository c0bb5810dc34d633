// Runs `korvo build` as a user would: on the example project, and on a
// broken one.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "config/config_document.h"
#include "config/configuration_builder.h"
#include "config/crc32.h"
#include "config/srec_test_util.h"
#include "platform/system.h"
#include "support/files.h"
#include "support/tool_run.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;

using test_support::ReadFile;
using test_support::ToolRun;
using test_support::WriteFile;

class BuildToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = srectest::FreshDir("build_tool");
    const fs::path examples = fs::path(KORVO_TEST_DATA).parent_path().parent_path() / "examples";
    for (const char* name : {"project.xml", "firmware.s19", "parameters.bin"})
      fs::copy_file(examples / name, dir_ / name);
  }
  // No output or temporary file of the tool may remain beside the project.
  void TearDown() override {
    fs::remove(dir_ / "example.cfg");
    for (const auto& entry : fs::directory_iterator(dir_)) {
      std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "project.xml" || name == "firmware.s19" || name == "parameters.bin")
          << name;
    }
    fs::remove_all(dir_);
  }

  // Runs the tool inside the work directory.
  ToolRun Run(const std::string& args) { return test_support::RunTool(args, dir_.string()); }

  fs::path dir_;
};

TEST_F(BuildToolTest, ExampleBuildsAndReportsEveryDevice) {
  ToolRun r = Run("build project.xml");
  ASSERT_EQ(0, r.exit_code) << r.err;
  EXPECT_EQ("", r.err);
  EXPECT_EQ(0u, r.out.find("example.cfg\n"));
  // 3 KiB and 1 KiB blocks with their check bytes, and the closing block.
  EXPECT_NE(std::string::npos, r.out.find("device 0: SRECToBrekXML -> BREK, 4128 bytes"));
  EXPECT_NE(std::string::npos, r.out.find("device 1: File -> FILE, 504 bytes"));
  EXPECT_EQ(std::string("\x55\xAA\x02\xFF"), ReadFile(dir_ / "example.cfg").substr(0, 4));

  ToolRun inspect = Run("inspect example.cfg");
  EXPECT_EQ(0, inspect.exit_code) << inspect.err;
  EXPECT_NE(std::string::npos, inspect.out.find("00010000-00020400"));
  EXPECT_NE(std::string::npos, inspect.out.find("    block 00010000-00010C00       3072 bytes\n"
                                                "    gap   00010C00-00020000      62464 bytes\n"))
      << inspect.out;
}

TEST_F(BuildToolTest, FailureIsOneLineWithCodeAndKeepsOldOutput) {
  WriteFile(dir_ / "example.cfg", "old");
  std::string srec = ReadFile(dir_ / "firmware.s19");
  srec.erase(srec.rfind("S7"));  // no end record
  WriteFile(dir_ / "firmware.s19", srec);
  ToolRun r = Run("build project.xml");
  EXPECT_EQ(1, r.exit_code);
  EXPECT_EQ("", r.out);
  EXPECT_NE(std::string::npos,
            r.err.find("error -48: " + std::string(BuildResultText(-48)) +
                       ": device 0: firmware.s19: no end record (S7, S8 or S9)"))
      << r.err;
  EXPECT_EQ(r.err.size() - 1, r.err.find('\n'));
  EXPECT_EQ("old", ReadFile(dir_ / "example.cfg"));
}

TEST_F(BuildToolTest, JsonTellsPayloadsMapsAndWarnings) {
  std::string srec = ReadFile(dir_ / "firmware.s19");
  const size_t second = srec.find('\n') + 1;  // the first data record
  srec.insert(second, srec.substr(second, srec.find('\n', second) + 1 - second));
  WriteFile(dir_ / "firmware.s19", srec);
  ToolRun r = Run("build --json project.xml");
  ASSERT_EQ(0, r.exit_code) << r.err;
  const nlohmann::json json = nlohmann::json::parse(r.out);
  EXPECT_EQ("firmware.s19: line 3: record at 00010000 repeats data given before",
            json.at("warnings").at(0));
  EXPECT_EQ("EXAMPLE-SCANNER-01", json.at("system").at("Key"));
  const auto& devices = json.at("devices");
  ASSERT_EQ(2u, devices.size());
  // In stream order: the repeated record opens a block of its own.
  EXPECT_EQ(R"([{"bytes":32,"end":"00010020","start":"00010000"},)"
            R"({"bytes":3072,"end":"00010C00","start":"00010000"},)"
            R"({"bytes":1024,"end":"00020400","start":"00020000"}])",
            devices[0].at("blocks").dump());
  EXPECT_EQ("00010000-00020400", devices[0].at("entries").at("ADDRESS_RANGE"));
  ConfigDocument config;
  ASSERT_EQ(0, config.Load((dir_ / "example.cfg").string()));
  for (int d = 0; d < 2; ++d) {
    const std::string payload = (dir_ / "payload").string();
    ASSERT_EQ(0, config.ExtractData(d, payload));
    const std::string bytes = ReadFile(payload);
    RemoveFile(payload);
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08X", Crc32(bytes.data(), bytes.size()));
    EXPECT_EQ(crc, devices[d].at("crc32"));
    EXPECT_EQ(bytes.size(), devices[d].at("payload_bytes"));
  }
  EXPECT_EQ(devices, nlohmann::json::parse(Run("inspect --json example.cfg").out).at("devices"));
}

TEST_F(BuildToolTest, MissingProjectIsNotCreated) {
  ToolRun r = Run("build nothing.xml");
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find("cannot open"));
  EXPECT_FALSE(fs::exists(dir_ / "nothing.xml"));
}

}  // namespace
}  // namespace korvo

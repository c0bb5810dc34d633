// Runs `korvo build` as a user would: on the example project, and on a
// broken one.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
    dir_ = fs::temp_directory_path() /
           ("korvo-build-tool-" + std::to_string(CurrentThreadId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
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
}

TEST_F(BuildToolTest, FailureIsOneLineWithCodeAndKeepsOldOutput) {
  WriteFile(dir_ / "example.cfg", "old");
  std::string srec = ReadFile(dir_ / "firmware.s19");
  srec.erase(srec.rfind("S7"));  // no end record
  WriteFile(dir_ / "firmware.s19", srec);
  ToolRun r = Run("build project.xml");
  EXPECT_EQ(1, r.exit_code);
  EXPECT_EQ("", r.out);
  EXPECT_NE(std::string::npos, r.err.find("error -48"));
  EXPECT_NE(std::string::npos, r.err.find("(device 0)"));
  EXPECT_EQ(r.err.size() - 1, r.err.find('\n'));
  EXPECT_EQ("old", ReadFile(dir_ / "example.cfg"));
}

TEST_F(BuildToolTest, MissingProjectAndUsage) {
  ToolRun r = Run("build nothing.xml");
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find("cannot open"));
  EXPECT_FALSE(fs::exists(dir_ / "nothing.xml"));
  EXPECT_EQ(2, Run("build").exit_code);
  EXPECT_EQ(2, Run("build a.xml b.xml").exit_code);
}

}  // namespace
}  // namespace korvo

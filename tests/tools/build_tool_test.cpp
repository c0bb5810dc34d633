// Runs `korvo build` as a user would: on the example project, and on a
// broken one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/system.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int exit_code;
  std::string out;
  std::string err;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

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
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the tool inside the work directory.
  ToolRun Run(const std::string& args) {
    std::string command = "cd '" + dir_.string() + "' && '" + KORVO_TOOL + "' " + args +
                          " >tool.out 2>tool.err";
    int status = std::system(command.c_str());
    ToolRun run{(status & 0x7F) == 0 ? (status >> 8) & 0xFF : -1, ReadAll(dir_ / "tool.out"),
                ReadAll(dir_ / "tool.err")};
    fs::remove(dir_ / "tool.out");
    fs::remove(dir_ / "tool.err");
    return run;
  }

  // No output or temporary file of the tool may remain beside the project.
  void ExpectOnlyExampleFiles() {
    for (const auto& entry : fs::directory_iterator(dir_)) {
      std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "project.xml" || name == "firmware.s19" || name == "parameters.bin")
          << name;
    }
  }

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
  EXPECT_EQ(std::string("\x55\xAA\x02\xFF"), ReadAll(dir_ / "example.cfg").substr(0, 4));

  ToolRun inspect = Run("inspect example.cfg");
  EXPECT_EQ(0, inspect.exit_code) << inspect.err;
  EXPECT_NE(std::string::npos, inspect.out.find("00010000-00020400"));
  fs::remove(dir_ / "example.cfg");
  ExpectOnlyExampleFiles();
}

TEST_F(BuildToolTest, FailureIsOneLineWithCodeAndKeepsOldOutput) {
  std::ofstream(dir_ / "example.cfg") << "old";
  std::string srec = ReadAll(dir_ / "firmware.s19");
  srec.erase(srec.rfind("S7"));  // no end record
  std::ofstream(dir_ / "firmware.s19", std::ios::binary) << srec;
  ToolRun r = Run("build project.xml");
  EXPECT_EQ(1, r.exit_code);
  EXPECT_EQ("", r.out);
  EXPECT_NE(std::string::npos, r.err.find("error -48"));
  EXPECT_NE(std::string::npos, r.err.find("(device 0)"));
  EXPECT_EQ(r.err.size() - 1, r.err.find('\n'));
  EXPECT_EQ("old", ReadAll(dir_ / "example.cfg"));
  fs::remove(dir_ / "example.cfg");
  ExpectOnlyExampleFiles();
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

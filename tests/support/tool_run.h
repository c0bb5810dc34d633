// Runs the built korvo tool (KORVO_TOOL) as a user would, through the shell,
// and captures what it says. Header-only.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "platform/system.h"
#include "support/files.h"

namespace korvo::test_support {

struct ToolRun {  // exit code -1: the tool did not exit normally
  int exit_code; std::string out, err;
};

// Runs `korvo <args>` (as the shell reads them) inside `dir` (empty: here).
inline ToolRun RunTool(const std::string& args, const std::string& dir = "") {
  const std::string out_file = std::filesystem::absolute("korvo_tool_run.out").string();
  const std::string err_file = std::filesystem::absolute("korvo_tool_run.err").string();
  std::string command = std::string("'") + KORVO_TOOL + "' " + args + " >'" + out_file + "' 2>'" +
                        err_file + "'";
  if (!dir.empty()) command = "cd '" + dir + "' && " + command;
  int status = std::system(command.c_str());
  ToolRun run{(status & 0x7F) == 0 ? (status >> 8) & 0xFF : -1, ReadFile(out_file),
              ReadFile(err_file)};
  RemoveFile(out_file);
  RemoveFile(err_file);
  return run;
}

// A fresh folder per test (one at a time per process) for the tool's files.
class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void Fresh() {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  std::string At(const std::string& name) const { return (dir_ / name).string(); }
  ToolRun Run(const std::string& args) const { return RunTool(args, dir_.string()); }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      names.insert(entry.path().filename().string());
    return names;
  }

  const std::filesystem::path dir_ =
      std::filesystem::temp_directory_path() / ("korvo-tool-test-" + std::to_string(getpid()));
};

}  // namespace korvo::test_support

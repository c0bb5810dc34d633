// Runs the built korvo tool (KORVO_TOOL) as a user would, through the shell,
// and captures what it says. Header-only.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/system.h"
#include "support/files.h"

namespace korvo::test_support {

struct ToolRun {
  int exit_code;  // -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

// Runs `korvo <args>` (`args` as the shell reads them) inside `dir`, or in the
// current directory when `dir` is empty. The capture files live in the
// current directory and are gone again on return.
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

}  // namespace korvo::test_support

// korvo: command-line access to the library's file formats.
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/temp_files.h"
#include "platform/system.h"
#include "tools/commands.h"

namespace {

struct Command {
  const char* name;
  const char* usage;
  int (*run)(const std::vector<std::string>& args);
};

const Command kCommands[] = {
    {"compress", "compress IN OUT", korvo::tools::RunCompress},
    {"decompress", "decompress IN OUT", korvo::tools::RunDecompress},
    {"inspect", "inspect [--xml] FILE", korvo::tools::RunInspect},
    {"match", "match [--hex] PATTERN VALUE...", korvo::tools::RunMatch},
    {"build", "build PROJECT.xml", korvo::tools::RunBuild},
};

int Usage() {
  std::fprintf(stderr, "usage:\n");
  for (const Command& c : kCommands) std::fprintf(stderr, "  korvo %s\n", c.usage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // An interrupted run takes its temporary files with it.
  korvo::RunOnTerminationSignals(korvo::RemoveGuardedFilesInSignalHandler);
  if (argc < 2) return Usage();
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    std::vector<std::string> args(argv + 2, argv + argc);
    xercesc::XMLPlatformUtils::Initialize();
    int rc = c.run(args);
    xercesc::XMLPlatformUtils::Terminate();
    return rc;
  }
  std::fprintf(stderr, "korvo: unknown command '%s'\n", argv[1]);
  return Usage();
}

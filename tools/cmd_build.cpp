// korvo build [--json] PROJECT.xml: builds the project's download
// configuration file next to the project and reports what went into it.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "config/configuration_builder.h"
#include "platform/system.h"
#include "tools/commands.h"

namespace korvo::tools {

int RunBuild(const std::vector<std::string>& args) {
  const bool json = !args.empty() && args[0] == "--json";
  if (args.size() != (json ? 2u : 1u) || args.back().empty() || args.back()[0] == '-') {
    std::fprintf(stderr, "usage: korvo build [--json] PROJECT.xml\n");
    return 2;
  }
  const std::string& project = args.back();
  // The library opens a missing project as a new, empty one; a user who
  // mistyped the name deserves to hear that instead.
  if (!UniqueFile(OpenFileUtf8(project, "rb"))) {
    std::fprintf(stderr, "korvo build: %s: cannot open the project file\n", project.c_str());
    return 1;
  }
  ConfigurationBuilder builder;
  int rc = builder.Build(project);
  for (const std::string& warning : builder.Warnings())
    std::fprintf(stderr, "korvo build: warning: %s\n", warning.c_str());
  if (rc != 0) {
    std::string where;
    if (builder.FailedDevice() >= 0) where = ": device " + std::to_string(builder.FailedDevice());
    if (!builder.FailureDetail().empty()) where += ": " + builder.FailureDetail();
    std::fprintf(stderr, "korvo build: %s: error %d: %s%s\n", project.c_str(), rc,
                 BuildResultText(rc), where.c_str());
    return 1;
  }
  if (json) return PrintConfigurationJson(builder.OutputPath(), builder.Warnings());
  std::printf("%s\n", builder.OutputPath().c_str());
  const auto& devices = builder.BuiltDevices();
  for (size_t i = 0; i < devices.size(); ++i) {
    std::printf("  device %zu: %s -> %s, %" PRIu64 " bytes\n", i, devices[i].conversion.c_str(),
                devices[i].data_type.c_str(), devices[i].payload_bytes);
  }
  return 0;
}

}  // namespace korvo::tools

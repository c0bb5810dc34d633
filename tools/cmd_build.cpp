// korvo build PROJECT.xml: builds the project's download configuration file
// next to the project and reports what went into it.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "config/configuration_builder.h"
#include "platform/system.h"
#include "tools/commands.h"

namespace korvo::tools {
namespace {

const char* FailureReason(int code) {
  switch (code) {
    case -1: return "no configuration builder";
    case -41: return "no system entries could be read, or the address range selection kept no line";
    case -42: return "a data file cannot be opened, read or written";
    case -43: return "an S-record line has 1024 or more characters";
    case -44: return "no XML implementation";
    case -45: return "the configuration XML could not be built or written";
    case -46: return "XML DOM error while building";
    case -47: return "out of memory while building";
    case -48: return "the S-record data is malformed (bad record or digit, checksum error, or no end record)";
    case -49: return "a section of the configuration is not unique";
    case -50: return "no system entries, or a device without configuration entries";
    case -51: return "PartialMemorySize is not a number";
    case -52: return "unknown ConversionType";
    case -53: return "IncludeAddr or ExcludeAddr is not a number";
    case -61: return "the XML parser could not be created";
    case -62: return "the project document is already open";
    case -63: return "no XML implementation";
    case -64: return "out of memory while reading the project";
    case -65: return "the project file is not well-formed XML or cannot be read";
    case -66: return "XML DOM error while reading the project";
    case -67: return "unexpected error while reading the project";
    case -68: return "the project document is not open";
    case -69: return "a required project entry is missing or repeated";
    case -91: return "the output file could not be written";
    case -111: return "a required project entry is empty";
    default: return "build failed";
  }
}

}  // namespace

int RunBuild(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: korvo build PROJECT.xml\n");
    return 2;
  }
  // The library opens a missing project as a new, empty one; a user who
  // mistyped the name deserves to hear that instead.
  if (!UniqueFile(OpenFileUtf8(args[0], "rb"))) {
    std::fprintf(stderr, "korvo build: %s: cannot open the project file\n", args[0].c_str());
    return 1;
  }
  ConfigurationBuilder builder;
  int rc = builder.Build(args[0]);
  if (rc != 0) {
    std::string where;
    if (builder.FailedDevice() >= 0) where = " (device " + std::to_string(builder.FailedDevice()) + ")";
    std::fprintf(stderr, "korvo build: %s: error %d: %s%s\n", args[0].c_str(), rc,
                 FailureReason(rc), where.c_str());
    return 1;
  }
  std::printf("%s\n", builder.OutputPath().c_str());
  const auto& devices = builder.BuiltDevices();
  for (size_t i = 0; i < devices.size(); ++i) {
    std::printf("  device %zu: %s -> %s, %" PRIu64 " bytes\n", i, devices[i].conversion.c_str(),
                devices[i].data_type.c_str(), devices[i].payload_bytes);
  }
  return 0;
}

}  // namespace korvo::tools

// korvo build [--json] PROJECT.xml: builds the project's download
// configuration file next to the project and reports what went into it.
#include <nlohmann/json.hpp>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "config/configuration_builder.h"
#include "platform/system.h"
#include "tools/commands.h"

namespace korvo::tools {
namespace {

// The cause first, then the code: "[device N: ]DETAIL; error CODE: TEXT".
std::string FailureMessage(const ConfigurationBuilder& builder, int rc) {
  std::string message;
  if (builder.FailedDevice() >= 0) message = "device " + std::to_string(builder.FailedDevice());
  if (!builder.FailureDetail().empty())
    message += (message.empty() ? "" : ": ") + builder.FailureDetail();
  return message + (message.empty() ? "" : "; ") + "error " + std::to_string(rc) + ": " +
         BuildResultText(rc);
}

// One JSON document on standard output for a failed run too, so that a
// script reads the same way whatever happened.
void PrintFailureJson(const std::string& project, int rc, const std::string& message,
                      const ConfigurationBuilder* builder) {
  auto known = [](uint64_t n) { return n ? nlohmann::json(n) : nlohmann::json(); };
  nlohmann::json error = {{"code", rc}, {"text", BuildResultText(rc)}, {"message", message},
                          {"device", nullptr}, {"file", project}, {"line", nullptr},
                          {"column", nullptr}};
  nlohmann::json warnings = nlohmann::json::array();
  if (builder) {
    const FailurePlace& at = builder->FailedAt();
    if (builder->FailedDevice() >= 0)
      error["device"] = {{"number", builder->FailedDevice() + 1}, {"index", builder->FailedDevice()}};
    if (!at.file.empty()) error["file"] = at.file;
    error["line"] = known(at.line);
    error["column"] = known(at.column);
    warnings = builder->Warnings();
  }
  nlohmann::json out = {{"file", project}, {"error", error}, {"warnings", warnings}};
  std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

}  // namespace

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
    const std::string message = "cannot open the project file";
    std::fprintf(stderr, "korvo build: %s: %s\n", project.c_str(), message.c_str());
    if (json) PrintFailureJson(project, kProjectXmlException, message, nullptr);
    return 1;
  }
  ConfigurationBuilder builder;
  int rc = builder.Build(project);
  for (const std::string& warning : builder.Warnings())
    std::fprintf(stderr, "korvo build: warning: %s\n", warning.c_str());
  if (rc != 0) {
    const std::string message = FailureMessage(builder, rc);
    // A detail about the project itself names it already.
    const bool named = builder.FailedDevice() < 0 &&
                       builder.FailureDetail().rfind(project + ": ", 0) == 0;
    std::fprintf(stderr, "korvo build: %s%s\n", named ? "" : (project + ": ").c_str(),
                 message.c_str());
    if (json) PrintFailureJson(project, rc, message, &builder);
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

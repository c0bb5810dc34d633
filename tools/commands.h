// The subcommands of the korvo tool; each returns the process exit status
// and prints its own one-line errors to standard error.
#pragma once

#include <string>
#include <vector>

namespace korvo::tools {

int RunCompress(const std::vector<std::string>& args);
int RunDecompress(const std::vector<std::string>& args);
int RunInspect(const std::vector<std::string>& args);
int RunMatch(const std::vector<std::string>& args);
int RunBuild(const std::vector<std::string>& args);

}  // namespace korvo::tools

namespace korvo::tools {

// Prints the summary of a key file whose plain XML is at `xml_path`, as text
// or as one JSON object; `shown_name` is the file name the user gave.
// Returns the exit status.
int PrintKeyFileSummary(const std::string& xml_path, const std::string& shown_name, bool as_json);

// Prints the configuration file at `file` as JSON (system entries, devices
// with entries, payload size, CRC-32 and memory map), with `warnings`.
// Returns the exit status.
int PrintConfigurationJson(const std::string& file, const std::vector<std::string>& warnings);

}  // namespace korvo::tools

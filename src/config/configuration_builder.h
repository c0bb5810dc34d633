// Builds a compressed download configuration file from a project document.
#pragma once

namespace korvo {

class ConfigurationBuilder final {
 public:
  ConfigurationBuilder();
  ~ConfigurationBuilder();
  ConfigurationBuilder(const ConfigurationBuilder&) = delete;
  ConfigurationBuilder& operator=(const ConfigurationBuilder&) = delete;
};

}  // namespace korvo

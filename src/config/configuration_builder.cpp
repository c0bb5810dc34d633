#include "config/configuration_builder.h"

namespace korvo {

ConfigurationBuilder::ConfigurationBuilder() = default;
ConfigurationBuilder::~ConfigurationBuilder() = default;

}  // namespace korvo

#include <cstdio>

#include "tools/commands.h"

namespace korvo::tools {

int PrintKeyFileSummary(const std::string& xml_path, const std::string& shown_name) {
  (void)xml_path;
  std::fprintf(stderr, "korvo: %s: key files are not supported yet\n", shown_name.c_str());
  return 1;
}

}  // namespace korvo::tools

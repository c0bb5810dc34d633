#include <cstdio>

#include "tools/commands.h"

namespace korvo::tools {

int RunCompress(const std::vector<std::string>&) {
  std::fprintf(stderr, "korvo: not available yet\n");
  return 2;
}

int RunDecompress(const std::vector<std::string>&) {
  std::fprintf(stderr, "korvo: not available yet\n");
  return 2;
}

}  // namespace korvo::tools

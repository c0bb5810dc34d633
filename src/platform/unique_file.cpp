#include <atomic>
#include <string>

#include "platform/system.h"

namespace korvo {

bool CreateUniqueFile(const std::string& prefix, std::string* path) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix + "~" + std::to_string(ProcessId()) + "-" +
                       std::to_string(counter.fetch_add(1)) + ".TMP";
    bool exists = false;
    if (CreateNewFile(name, &exists)) {
      *path = name;
      return true;
    }
    if (!exists) return false;
  }
  return false;
}

}  // namespace korvo

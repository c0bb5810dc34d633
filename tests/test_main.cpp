#include <gtest/gtest.h>
#include <unistd.h>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

// A directory per test process: parallel tests never share a relative name, and what one
// leaves behind is found.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  fs::path home = fs::current_path();
  fs::path work = home / ("korvo-test-" + std::to_string(getpid()));
  fs::remove_all(work);
  fs::create_directory(work);
  fs::current_path(work);

  xercesc::XMLPlatformUtils::Initialize();
  int rc = RUN_ALL_TESTS();
  xercesc::XMLPlatformUtils::Terminate();

  fs::current_path(home);
  for (const auto& left : fs::recursive_directory_iterator(work)) {
    std::fprintf(stderr, "left behind by the tests: %s\n",
                 fs::relative(left.path(), work).u8string().c_str());
    rc = 1;
  }
  fs::remove_all(work);
  return rc;
}

// A project or key file that is there but cannot be read must be refused,
// never taken for a missing file that a save then writes over.
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "config/project_document.h"
#include "keys/key_document.h"
#include "support/files.h"

namespace korvo {
namespace {

using test_support::ReadFile;
using test_support::WriteFile;

constexpr char kContent[] = "<keep>me</keep>";

struct Document {
  const char* name;
  int refused_code;
  std::function<int(const std::string&)> open_and_save;  // returns the open's code
};

const Document kDocuments[] = {
    {"project", kProjectXmlException,
     [](const std::string& path) {
       ProjectDocument doc;
       int rc = doc.OpenProjectDocument(path);
       if (rc == 0) doc.CloseProjectDocument(true);
       return rc;
     }},
    {"key file", kKeyXmlException,
     [](const std::string& path) {
       KeyDocument doc;
       int rc = doc.Open(path, false);
       if (rc == 0) doc.Close(true);
       return rc;
     }},
};

// Runs `body` with file permissions checked for an ordinary user, also when
// the tests run as root (changing the file-system uid drops root's override).
void AsOrdinaryUser(const std::function<void()>& body) {
  uid_t before = setfsuid(65534);
  body();
  setfsuid(before);
}

TEST(UnreadableDocument, IsRefusedAndSurvivesASaveAttempt) {
  for (const Document& d : kDocuments) {
    SCOPED_TRACE(d.name);
    WriteFile("write-only.xml", kContent);
    ::chmod("write-only.xml", 0200);
    AsOrdinaryUser([&] { EXPECT_EQ(d.refused_code, d.open_and_save("write-only.xml")); });
    EXPECT_EQ(kContent, ReadFile("write-only.xml"));
    std::filesystem::remove("write-only.xml");

    std::filesystem::create_symlink("loop-b.xml", "loop-a.xml");
    std::filesystem::create_symlink("loop-a.xml", "loop-b.xml");
    EXPECT_EQ(d.refused_code, d.open_and_save("loop-a.xml"));
    EXPECT_TRUE(std::filesystem::is_symlink("loop-a.xml"));
    std::filesystem::remove("loop-a.xml");
    std::filesystem::remove("loop-b.xml");
  }
}

}  // namespace
}  // namespace korvo

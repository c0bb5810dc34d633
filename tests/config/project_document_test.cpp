#include "config/project_document.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "config/srec_test_util.h"
#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::WriteFile;

class ProjectDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = srectest::FreshDir("project");
    path_ = (dir_ / "p.xml").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Open(const std::string& xml) {
    WriteFile(path_, xml);
    ASSERT_EQ(0, project_.OpenProjectDocument(path_));
  }

  // Saves, closes and checks that the file holds `parts` in this order.
  void ExpectSaved(std::initializer_list<const char*> parts) {
    ASSERT_EQ(0, project_.CloseProjectDocument(true));
    const std::string text = ReadFile(fs::u8path(path_));
    size_t at = 0;
    for (const char* part : parts)
      EXPECT_NE(std::string::npos, at = text.find(part, at)) << part << " in order in\n" << text;
  }

  fs::path dir_;
  std::string path_;
  ProjectDocument project_;
};

TEST_F(ProjectDocumentTest, NewProjectIsBuiltEntryByEntryAndSavedInUtf8) {
  EXPECT_EQ(kProjectNotOpen, project_.CloseProjectDocument(true));
  // A new project is written only by a saving close.
  path_ = dir_.u8string() + "/Projekt \xC3\xA4\xE2\x82\xAC.xml";
  ASSERT_EQ(0, project_.OpenProjectDocument(path_));
  EXPECT_EQ(kProjectAlreadyOpen, project_.OpenProjectDocument((dir_ / "q.xml").string()));
  EXPECT_EQ(0, project_.SetProjectConfigFilenameEntry("out.cfg"));
  EXPECT_EQ(0, project_.CloseProjectDocument(false));
  ASSERT_EQ(0, project_.OpenProjectDocument(path_));
  EXPECT_FALSE(fs::exists(fs::u8path(path_)));
  ExpectSaved({"<download_project>", "<FirmwarePackageFilename/>", "<System2/>"});
  ASSERT_EQ(0, project_.OpenProjectDocument(path_));
  EXPECT_EQ(0, project_.SetProjectConfigFilenameEntry("J\xC3\xBCrgen.cfg"));
  // Set, not repeated; the mark follows the last call.
  for (bool transparent : {true, false, true})
    EXPECT_EQ(0, project_.SetProjectSystemEntry("Baud", transparent ? "9600" : "1", transparent));
  for (bool transparent : {true, false})
    EXPECT_EQ(0, project_.SetProjectSystemEntry("Rate", "1", transparent));
  xercesc::DOMElement* section = nullptr;
  ASSERT_EQ(0, project_.GetSystemSection(section));
  EXPECT_EQ(2u, section->getChildNodes()->getLength());
  ASSERT_EQ(0, project_.AddProjectDevice() | project_.AddProjectDevice());
  EXPECT_EQ(kProjectNotFound, project_.AddProjectDeviceConfigurationEntry(0, "Log", "a", false));
  EXPECT_EQ(kProjectNotFound, project_.SetProjectDeviceConfigurationEntry(-1, "Name", "x", false));
  EXPECT_EQ(0, project_.SetProjectDeviceConfigurationEntry(0, "Name", "MAIN", true) |
                   project_.AddProjectDeviceConfigurationEntry(0, "Log", "a", false) |
                   project_.AddProjectDeviceConfigurationEntry(0, "Log", "b", true) |
                   project_.SetProjectDeviceConfigurationEntry(1, "Name", "AUX", false));
  std::string text;
  EXPECT_EQ(kProjectNotFound, project_.GetDeviceConfigurationEntry(0, "Log", text));  // twice
  EXPECT_EQ(kProjectNotFound, project_.GetDeviceConfigurationSection(2, section));
  EXPECT_EQ(nullptr, section);
  EXPECT_EQ(kProjectNotFound,
            project_.SetProjectDeviceConversionEntryAttribute(1, "Range", "IncludeAddr", "1"));
  EXPECT_EQ(0, project_.SetProjectDeviceConversionEntry(1, "ConversionType", "File") |
                   project_.SetProjectDeviceConversionEntry(1, "ConversionType", "SRECXML") |
                   project_.SetProjectDeviceConversionEntry(1, "Range", "r") |
                   project_.SetProjectDeviceConversionEntryAttribute(1, "Range", "IncludeAddr",
                                                                     "1"));
  xercesc::DOMElement* element = nullptr;
  EXPECT_EQ(kProjectNotFound, project_.GetDeviceConversionElement(1, "Other", element));
  EXPECT_EQ(nullptr, element);
  ExpectSaved({"<FirmwarePackageFilename>J\xC3\xBCrgen.cfg<", "<Baud transparent=\"true\">9600<",
               "<Rate>1<", "<Name transparent=\"true\">MAIN<", "<Log>a<",
               "<Log transparent=\"true\">b<", "<Name>AUX<", "<ConversionType>SRECXML<",
               "<Range IncludeAddr=\"1\">r<"});
}

TEST_F(ProjectDocumentTest, SectionsAndEntriesFoundInAFile) {
  // System2 wins over System; an entry must hold one text node or nothing.
  Open("<download_project><FirmwarePackageFilename><!--c--></FirmwarePackageFilename><System><A>"
       "old</A></System><System2><A>new</A><Two>a<b/></Two><Empty/></System2></download_project>");
  EXPECT_EQ(kProjectEntryNotText, project_.SetProjectConfigFilenameEntry("x"));
  EXPECT_EQ(kProjectNotFound, project_.SetProjectSystemEntry("Two", "x", true));
  for (const char* name : {"bad name", ""})
    EXPECT_EQ(kProjectDomException, project_.SetProjectSystemEntry(name, "x", false)) << name;
  EXPECT_EQ(0, project_.SetProjectSystemEntry("Empty", "now", false) |
                   project_.SetProjectSystemEntry("B", "2", false));
  ExpectSaved({"<A>old</A>", "<System2>", "<Two transparent=\"true\">a", "<b/>",
               "<Empty>now</Empty>", "<B>2</B>"});
  // Only System is used when System2 is absent.
  Open("<download_project><System><A>old</A></System></download_project>");
  EXPECT_EQ(0, project_.SetProjectSystemEntry("A", "set", false));
  ExpectSaved({"<System>", "<A>set</A>", "</System>"});
  // Repeated, wherever they are, a section or entry is not found.
  Open("<download_project><FirmwarePackageFilename>a</FirmwarePackageFilename><System2/><x>"
       "<FirmwarePackageFilename/><System2/></x></download_project>");
  std::string text;
  xercesc::DOMElement* entries = nullptr;
  EXPECT_EQ(kProjectNotFound, project_.SetProjectConfigFilenameEntry("x"));
  EXPECT_EQ(kProjectNotFound, project_.GetFirmwarePackageFilename(text));
  EXPECT_EQ(kProjectNotFound, project_.SetProjectSystemEntry("A", "1", true));
  EXPECT_EQ(kProjectNotFound, project_.GetSystemSection(entries));
  EXPECT_EQ(nullptr, entries);
  project_.CloseProjectDocument(false);
  // Missing ones are made.
  Open("<download_project/>");
  EXPECT_EQ(0, project_.SetProjectConfigFilenameEntry("made.cfg") |
                   project_.SetProjectSystemEntry("A", "1", true));
  ExpectSaved({"<FirmwarePackageFilename>made.cfg<", "<System2>", "<A transparent=\"true\">1<"});
}

// Text from memory saves to what a file of it would hold; it has no path
// to be written to, and text that does not parse does not open.
TEST_F(ProjectDocumentTest, TextInMemoryOpensAndSavesAsAFileDoes) {
  const std::string text =
      "<download_project><FirmwarePackageFilename>a.cfg</FirmwarePackageFilename></download_project>";
  Open(text);
  ASSERT_EQ(0, project_.CloseProjectDocument(true));
  std::string saved, name;
  ASSERT_EQ(0, project_.OpenProjectXml(text));
  EXPECT_EQ(kProjectAlreadyOpen, project_.OpenProjectXml(text));
  EXPECT_EQ(0, project_.GetFirmwarePackageFilename(name));
  EXPECT_EQ("a.cfg", name);
  ASSERT_EQ(0, project_.SaveProjectXml(saved));
  EXPECT_EQ(ReadFile(fs::u8path(path_)), saved);
  EXPECT_EQ(kProjectXmlException, project_.CloseProjectDocument(true));
  EXPECT_EQ(0, project_.CloseProjectDocument(false));
  EXPECT_EQ(kProjectNotOpen, project_.SaveProjectXml(saved));
  EXPECT_EQ(kProjectXmlException, project_.OpenProjectXml("<download_project>"));
  EXPECT_FALSE(project_.IsOpen());
}

TEST_F(ProjectDocumentTest, FailedSaveKeepsTheDocumentOpen) {
  // The folder of the project disappears before saving.
  fs::create_directories(dir_ / "sub");
  path_ = (dir_ / "sub" / "p.xml").string();
  Open("<download_project><FirmwarePackageFilename>a</FirmwarePackageFilename></download_project>");
  ASSERT_EQ(0, project_.SetProjectConfigFilenameEntry("b"));
  fs::remove_all(dir_ / "sub");
  EXPECT_EQ(kProjectXmlException, project_.CloseProjectDocument(true));
  EXPECT_TRUE(project_.IsOpen());
  fs::create_directories(dir_ / "sub");
  ExpectSaved({">b<"});
}

}  // namespace
}  // namespace korvo

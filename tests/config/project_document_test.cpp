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
  }
  void TearDown() override {
    if (project_.IsOpen()) project_.CloseProjectDocument(false);
    fs::remove_all(dir_);
  }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  // Opens `xml` as a project file.
  void OpenText(const std::string& xml) {
    WriteFile(dir_ / "p.xml", xml);
    ASSERT_EQ(0, project_.OpenProjectDocument(PathOf("p.xml")));
  }

  // Saves and reloads, so checks see what is on disk.
  std::string SavedText() {
    EXPECT_EQ(0, project_.CloseProjectDocument(true));
    return ReadFile(dir_ / "p.xml");
  }

  fs::path dir_;
  ProjectDocument project_;
};

TEST_F(ProjectDocumentTest, NewDocumentIsWrittenOnSavingClose) {
  std::string path = PathOf("p.xml");
  ASSERT_EQ(0, project_.OpenProjectDocument(path));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(0, project_.CloseProjectDocument(true));
  ASSERT_TRUE(fs::exists(path));
  EXPECT_FALSE(fs::exists(path + ".~TMP"));

  ASSERT_EQ(0, project_.OpenProjectDocument(path));
  std::string name = "unchanged";
  EXPECT_EQ(kNoTextChild, project_.GetFirmwarePackageFilename(name));
  EXPECT_EQ("unchanged", name);
  xercesc::DOMNodeList* entries = nullptr;
  ASSERT_EQ(0, project_.GetSystemEntries(entries));
  ASSERT_NE(nullptr, entries);
  EXPECT_EQ(nullptr, entries->item(0));
  int count = -1;
  EXPECT_EQ(0, project_.GetProjectDeviceCount(count));
  EXPECT_EQ(0, count);
  std::string text = ReadFile(path);
  EXPECT_NE(std::string::npos, text.find("<download_project>"));
  EXPECT_LT(text.find("FirmwarePackageFilename"), text.find("System2"));
}

TEST_F(ProjectDocumentTest, OperationsNeedTheOpenState) {
  std::string text;
  xercesc::DOMNodeList* nodes = nullptr;
  xercesc::DOMElement* element = nullptr;
  EXPECT_EQ(kProjectNotOpen, project_.SetProjectConfigFilenameEntry("a"));
  EXPECT_EQ(kProjectNotOpen, project_.SetProjectSystemEntry("a", "b", false));
  EXPECT_EQ(kProjectNotOpen, project_.AddProjectDevice());
  EXPECT_EQ(kProjectNotOpen, project_.SetProjectDeviceConfigurationEntry(0, "a", "b", true));
  EXPECT_EQ(kProjectNotOpen, project_.AddProjectDeviceConfigurationEntry(0, "a", "b", true));
  EXPECT_EQ(kProjectNotOpen, project_.SetProjectDeviceConversionEntry(0, "a", "b"));
  EXPECT_EQ(kProjectNotOpen, project_.SetProjectDeviceConversionEntryAttribute(0, "a", "b", "c"));
  EXPECT_EQ(kProjectNotOpen, project_.GetFirmwarePackageFilename(text));
  EXPECT_EQ(kProjectNotOpen, project_.GetSystemEntries(nodes));
  EXPECT_EQ(kProjectNotOpen, project_.GetDeviceConversionEntry(0, "a", text));
  EXPECT_EQ(kProjectNotOpen, project_.GetDeviceConfigurationEntry(0, "a", text));
  EXPECT_EQ(kProjectNotOpen, project_.GetDeviceConfigurationNodes(0, nodes));
  EXPECT_EQ(kProjectNotOpen, project_.GetDeviceConversionElement(0, "a", element));
  EXPECT_EQ(kProjectNotOpen, project_.CloseProjectDocument(true));

  ASSERT_EQ(0, project_.OpenProjectDocument(PathOf("p.xml")));
  EXPECT_EQ(kProjectAlreadyOpen, project_.OpenProjectDocument(PathOf("q.xml")));
  EXPECT_EQ(PathOf("p.xml"), project_.Path());
  // Closing without saving writes nothing.
  EXPECT_EQ(0, project_.SetProjectConfigFilenameEntry("out.cfg"));
  EXPECT_EQ(0, project_.CloseProjectDocument(false));
  EXPECT_FALSE(fs::exists(dir_ / "p.xml"));
  EXPECT_EQ(kProjectNotOpen, project_.CloseProjectDocument(false));
}

TEST_F(ProjectDocumentTest, SystemEntryIsSetNotRepeatedAndTransparencyFollowsLastCall) {
  ASSERT_EQ(0, project_.OpenProjectDocument(PathOf("p.xml")));
  EXPECT_EQ(0, project_.SetProjectSystemEntry("Baud", "9600", true));
  EXPECT_EQ(0, project_.SetProjectSystemEntry("Baud", "9600", true));
  EXPECT_NE(std::string::npos,
            SavedText().find("<Baud transparent=\"true\">9600</Baud>"));
  ASSERT_EQ(0, project_.OpenProjectDocument(PathOf("p.xml")));
  EXPECT_EQ(0, project_.SetProjectSystemEntry("Baud", "19200", false));
  std::string text = SavedText();
  EXPECT_NE(std::string::npos, text.find("<Baud>19200</Baud>"));
  EXPECT_EQ(text.find("Baud"), text.rfind("<Baud") + 1);  // one entry only
}

TEST_F(ProjectDocumentTest, SystemSectionChoice) {
  // System2 wins over System; only System is used when System2 is absent.
  OpenText("<download_project><System><A>old</A></System><System2><A>new</A></System2>"
           "</download_project>");
  EXPECT_EQ(0, project_.SetProjectSystemEntry("B", "2", false));
  xercesc::DOMNodeList* entries = nullptr;
  ASSERT_EQ(0, project_.GetSystemEntries(entries));
  ASSERT_EQ(2u, entries->getLength());
  std::string text;
  EXPECT_EQ(0, GetElementText(entries->item(0), text));
  EXPECT_EQ("new", text);
  project_.CloseProjectDocument(false);

  OpenText("<download_project><System><A>old</A></System></download_project>");
  EXPECT_EQ(0, project_.SetProjectSystemEntry("A", "set", false));
  std::string saved = SavedText();
  EXPECT_NE(std::string::npos, saved.find("<System>"));
  EXPECT_NE(std::string::npos, saved.find("<A>set</A>"));
  EXPECT_EQ(std::string::npos, saved.find("System2"));

  OpenText("<download_project><FirmwarePackageFilename>x</FirmwarePackageFilename>"
           "</download_project>");
  EXPECT_EQ(0, project_.SetProjectSystemEntry("A", "1", true));
  EXPECT_NE(std::string::npos, SavedText().find("<System2>"));

  OpenText("<download_project><System2/><x><System2/></x></download_project>");
  EXPECT_EQ(kProjectNotFound, project_.SetProjectSystemEntry("A", "1", true));
  EXPECT_EQ(kProjectNotFound, project_.GetSystemEntries(entries));
  EXPECT_EQ(nullptr, entries);
}

TEST_F(ProjectDocumentTest, DeviceConfigurationEntries) {
  ASSERT_EQ(0, project_.OpenProjectDocument(PathOf("p.xml")));
  ASSERT_EQ(0, project_.AddProjectDevice());
  ASSERT_EQ(0, project_.AddProjectDevice());
  EXPECT_EQ(kProjectNotFound, project_.AddProjectDeviceConfigurationEntry(0, "Log", "a", false));
  EXPECT_EQ(kProjectNotFound, project_.SetProjectDeviceConfigurationEntry(2, "Name", "x", false));
  EXPECT_EQ(kProjectNotFound, project_.SetProjectDeviceConfigurationEntry(-1, "Name", "x", false));
  EXPECT_EQ(0, project_.SetProjectDeviceConfigurationEntry(0, "Name", "MAIN", true));
  EXPECT_EQ(0, project_.AddProjectDeviceConfigurationEntry(0, "Log", "a", false));
  EXPECT_EQ(0, project_.AddProjectDeviceConfigurationEntry(0, "Log", "b", true));
  EXPECT_EQ(0, project_.SetProjectDeviceConfigurationEntry(1, "Name", "AUX", false));

  std::string text;
  EXPECT_EQ(kProjectNotFound, project_.GetDeviceConfigurationEntry(0, "Log", text));
  EXPECT_EQ(0, project_.GetDeviceConfigurationEntry(1, "Name", text));
  EXPECT_EQ("AUX", text);
  xercesc::DOMNodeList* nodes = nullptr;
  ASSERT_EQ(0, project_.GetDeviceConfigurationNodes(0, nodes));
  ASSERT_EQ(3u, nodes->getLength());
  std::string attribute = "transparent";
  GetAttributeValue(AsElement(nodes->item(2)), attribute);
  EXPECT_EQ("true", attribute);
  EXPECT_EQ(kProjectNotFound, project_.GetDeviceConfigurationNodes(2, nodes));
  EXPECT_EQ(nullptr, nodes);

  std::string saved = SavedText();
  EXPECT_NE(std::string::npos, saved.find("<Log>a</Log>"));
  EXPECT_NE(std::string::npos, saved.find("<Log transparent=\"true\">b</Log>"));
  EXPECT_NE(std::string::npos, saved.find("<Name transparent=\"true\">MAIN</Name>"));
}

TEST_F(ProjectDocumentTest, ConversionEntriesAndAttributes) {
  ASSERT_EQ(0, project_.OpenProjectDocument(PathOf("p.xml")));
  ASSERT_EQ(0, project_.AddProjectDevice());
  xercesc::DOMElement* element = nullptr;
  EXPECT_EQ(kProjectNotFound,
            project_.SetProjectDeviceConversionEntryAttribute(0, "Range", "IncludeAddr", "1"));
  EXPECT_EQ(0, project_.SetProjectDeviceConversionEntry(0, "ConversionType", "File"));
  EXPECT_EQ(0, project_.SetProjectDeviceConversionEntry(0, "ConversionType", "SRECXML"));
  EXPECT_EQ(0, project_.SetProjectDeviceConversionEntry(0, "Range", "r"));
  EXPECT_EQ(0, project_.SetProjectDeviceConversionEntryAttribute(0, "Range", "IncludeAddr", "1"));
  EXPECT_EQ(0, project_.GetDeviceConversionElement(0, "Range", element));
  ASSERT_NE(nullptr, element);
  std::string value = "IncludeAddr";
  GetAttributeValue(element, value);
  EXPECT_EQ("1", value);
  EXPECT_EQ(kProjectNotFound, project_.GetDeviceConversionElement(0, "Other", element));
  EXPECT_EQ(nullptr, element);

  std::string saved = SavedText();
  EXPECT_NE(std::string::npos, saved.find("<ConversionType>SRECXML</ConversionType>"));
  EXPECT_EQ(std::string::npos, saved.find("transparent"));
  ASSERT_EQ(0, project_.OpenProjectDocument(PathOf("p.xml")));
  std::string text;
  EXPECT_EQ(0, project_.GetDeviceConversionEntry(0, "ConversionType", text));
  EXPECT_EQ("SRECXML", text);
}

TEST_F(ProjectDocumentTest, EntryTextRules) {
  OpenText("<download_project><FirmwarePackageFilename><!--c--></FirmwarePackageFilename>"
           "<System2><Two>a<b/></Two><Empty/></System2></download_project>");
  EXPECT_EQ(kProjectEntryNotText, project_.SetProjectConfigFilenameEntry("x"));
  EXPECT_EQ(kProjectNotFound, project_.SetProjectSystemEntry("Two", "x", true));
  EXPECT_EQ(0, project_.SetProjectSystemEntry("Empty", "now", false));
  std::string saved = SavedText();
  EXPECT_NE(std::string::npos, saved.find("<Empty>now</Empty>"));
  EXPECT_NE(std::string::npos, saved.find("<Two transparent=\"true\">a"));  // text untouched
  EXPECT_NE(std::string::npos, saved.find("<b/>"));

  OpenText("<download_project><FirmwarePackageFilename>a</FirmwarePackageFilename>"
           "<x><FirmwarePackageFilename/></x></download_project>");
  EXPECT_EQ(kProjectNotFound, project_.SetProjectConfigFilenameEntry("x"));
  std::string name;
  EXPECT_EQ(kProjectNotFound, project_.GetFirmwarePackageFilename(name));
  project_.CloseProjectDocument(false);

  OpenText("<download_project/>");
  EXPECT_EQ(0, project_.SetProjectConfigFilenameEntry("made.cfg"));
  EXPECT_EQ(0, project_.GetFirmwarePackageFilename(name));
  EXPECT_EQ("made.cfg", name);
}

TEST_F(ProjectDocumentTest, BadNamesAndUnparsableFilesAreReported) {
  ASSERT_EQ(0, project_.OpenProjectDocument(PathOf("p.xml")));
  EXPECT_EQ(kProjectDomException, project_.SetProjectSystemEntry("bad name", "x", false));
  EXPECT_EQ(kProjectDomException, project_.SetProjectSystemEntry("", "x", false));
  EXPECT_TRUE(project_.IsOpen());
  project_.CloseProjectDocument(false);

  const std::string broken = "<download_project><System2><A>1</A></download_project>";
  WriteFile(dir_ / "p.xml", broken);
  EXPECT_EQ(kProjectXmlException, project_.OpenProjectDocument(PathOf("p.xml")));
  EXPECT_FALSE(project_.IsOpen());
  EXPECT_EQ(broken, ReadFile(dir_ / "p.xml"));  // kept as it was
}

TEST_F(ProjectDocumentTest, FailedSaveKeepsDocumentOpenAndFileIntact) {
  // The parent directory of the path disappears before saving.
  fs::create_directories(dir_ / "sub");
  std::string path = (dir_ / "sub" / "p.xml").string();
  WriteFile(path, "<download_project><FirmwarePackageFilename>a</FirmwarePackageFilename>"
                  "<System2/></download_project>");
  ASSERT_EQ(0, project_.OpenProjectDocument(path));
  ASSERT_EQ(0, project_.SetProjectConfigFilenameEntry("b"));
  fs::remove_all(dir_ / "sub");
  EXPECT_EQ(kProjectXmlException, project_.CloseProjectDocument(true));
  EXPECT_TRUE(project_.IsOpen());
  std::string name;
  EXPECT_EQ(0, project_.GetFirmwarePackageFilename(name));
  EXPECT_EQ("b", name);
  fs::create_directories(dir_ / "sub");
  EXPECT_EQ(0, project_.CloseProjectDocument(true));
  EXPECT_NE(std::string::npos, ReadFile(path).find(">b<"));
}

TEST_F(ProjectDocumentTest, NonAsciiPathAndText) {
  std::string path = PathOf("Projekt \xC3\xA4\xE2\x82\xAC.xml");
  ASSERT_EQ(0, project_.OpenProjectDocument(path));
  ASSERT_EQ(0, project_.SetProjectConfigFilenameEntry("J\xC3\xBCrgen.cfg"));
  ASSERT_EQ(0, project_.CloseProjectDocument(true));
  ASSERT_TRUE(fs::exists(fs::u8path(path)));
  ASSERT_EQ(0, project_.OpenProjectDocument(path));
  std::string name;
  EXPECT_EQ(0, project_.GetFirmwarePackageFilename(name));
  EXPECT_EQ("J\xC3\xBCrgen.cfg", name);
}

}  // namespace
}  // namespace korvo

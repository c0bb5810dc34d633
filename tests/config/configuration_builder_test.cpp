#include "config/configuration_builder.h"

#include <gtest/gtest.h>

#include <xercesc/util/Base64.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <filesystem>
#include <set>

#include "config/config_document.h"
#include "config/crc32.h"
#include "config/srec_test_util.h"
#include "config/temp_files.h"
#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test_support::ReadFile;
using test_support::WriteFile;
using xercesc::DOMDocument;
using xercesc::DOMElement;

std::string S3(uint32_t address, const std::string& data) {
  return srectest::Record('3', address, {data.begin(), data.end()}) + "\n";
}

const char kEnd[] = "S70500000000FA\n";
const std::string kData16a = "0123456789ABCDEF", kData16b = "fedcba9876543210";
const std::string kBrek =
    "<ConversionType>SRECToBrekXML</ConversionType><DataFilename>fw.s19</DataFilename>";
const std::string kFile = "<ConversionType>File</ConversionType><DataFilename>";

std::string Device(const std::string& conversion = kBrek,
                   const std::string& configuration = "<V transparent=\"true\">1.2</V>") {
  return "<Device><Configuration>" + configuration + "</Configuration><Conversion>" + conversion +
         "</Conversion></Device>";
}

std::string Project(const std::string& devices = Device(), const std::string& output = "out.cfg",
                    const std::string& system = "<System2><Key>K1</Key></System2>") {
  return "<download_project><FirmwarePackageFilename>" + output + "</FirmwarePackageFilename>" +
         system + devices + "</download_project>";
}

class ConfigurationBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "fw.s19",
              "S00600004844521B\n" + S3(0x1000, kData16a) + S3(0x1010, kData16b) + kEnd);
    WriteFile(dir_ / "raw.bin", "123456789");
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Build(const std::string& project_xml) {
    WriteFile(dir_ / "p.xml", project_xml);
    const int rc = builder_.Build((dir_ / "p.xml").string());
    EXPECT_EQ(project_xml, ReadFile(dir_ / "p.xml"));  // never saved
    return rc;
  }
  std::string Output() const { return (dir_ / "out.cfg").string(); }

  // Nothing of a build stays: no temporary file, nor the project held open.
  void ExpectNothingLeft() {
    EXPECT_EQ(std::vector<std::string>(), test_support::TempFilesLeft());
    for (const auto& entry : fs::directory_iterator(dir_))
      EXPECT_EQ(std::string::npos, entry.path().filename().string().find("~")) << entry.path();
    EXPECT_FALSE(builder_.Project().IsOpen());
  }

  fs::path dir_ = srectest::FreshDir("builder");
  ConfigurationBuilder builder_;
};

TEST_F(ConfigurationBuilderTest, EveryConversionLoadsAndExtractsExactly) {
  const std::string srec = "<ConversionType>SRECXML</ConversionType><DataFilename>fw.s19"
                           "</DataFilename><PartialMemorySize>",
                    partial = "<PARTIAL_DOWNLOAD>true</PARTIAL_DOWNLOAD>";
  WriteFile(dir_ / "empty.bin", "");
  // Links planted under the first names of its temporary files lead nowhere.
  test_support::PlantedLinks planted({kTempBuilderXml, kTempSrec, kTempConfig});
  // A name that starts with a separator is still below the project's folder.
  ASSERT_EQ(0, Build(Project(
      Device() + Device(kFile + "/raw.bin</DataFilename>") +
          Device(kFile + "empty.bin</DataFilename>") +
          Device(srec + "0x10000</PartialMemorySize>", partial) +
          // Only "true" means partial: the size is not read.
          Device(srec + "64k</PartialMemorySize>", "<PARTIAL_DOWNLOAD>True</PARTIAL_DOWNLOAD>") +
          Device("<ConversionType>SRECToBrekBinXML</ConversionType><DataFilename>fw.s19"
                 "</DataFilename><AddressRangeSelection IncludeAddr=\"0x1010\" ExcludeAddr=\"\"/>"),
      "out.cfg", "<System><Key>old</Key></System><System2><Key>K1</Key></System2>")));
  ExpectNothingLeft();
  EXPECT_EQ(Output(), builder_.OutputPath());
  // Indented XML behind the magic number, the header first, with System2's entries.
  const std::string xml = (dir_ / "plain.xml").string();
  ASSERT_EQ(0, SplayCompressor().Decompress(Output(), xml));
  EXPECT_LT(ReadFile(xml).find("\n  <Header>\n    <System2>\n      <Key>K1</Key>\n    </System2>\n"
                               "    <Device>\n"),
            ReadFile(xml).find("\n  <Data>\n"));

  // Per device: transparent entries, the converter's first, and the payload, one
  // block and the closing block or, for File, the file's CRC-32 and the file.
  const std::string closing = "\x01\0\0\0\0BREK\xDC"s, fw = ReadFile(dir_ / "fw.s19");
  const std::pair<std::string, std::string> devices[] = {
      {"ADDRESS_RANGE=00001000-00001020 PROGRAM_MEMORY_SIZE=52 DATA_TYPE=BREK V=1.2 ",
       "\x01\0\0\0\x20\0\0\x10\0"s + kData16a + kData16b + "\xCC" + closing},
      {"PROGRAM_MEMORY_SIZE=13 DATA_TYPE=FILE V=1.2 ", "\xCB\xF4\x39\x26" "123456789"},
      {"PROGRAM_MEMORY_SIZE=4 DATA_TYPE=FILE V=1.2 ", std::string(4, '\0')},
      {"PROGRAM_MEMORY_SIZE=65536 DATA_TYPE=SREC ", fw},
      {"PROGRAM_MEMORY_SIZE=" + std::to_string(fw.size()) + " DATA_TYPE=SREC ", fw},
      {"ADDRESS_RANGE=00001010-00001020 PROGRAM_MEMORY_SIZE=36 DATA_TYPE=BREKBIN V=1.2 ",
       "\x01\0\0\0\x10\0\0\x10\x10"s + kData16b + "\x6E" + closing}};
  ConfigDocument config;
  ASSERT_EQ(0, config.Load(Output()));
  ASSERT_EQ(6u, builder_.BuiltDevices().size());
  for (int d = 0; d < 6; ++d) {
    std::string entries, name, value, extracted = (dir_ / "x.bin").string();
    for (int n = 0; config.GetTransparentEntry(d, n, name, value) == 0; ++n)
      entries += name + "=" + value + " ";
    EXPECT_EQ(devices[d].first, entries);
    const BuiltDevice& built = builder_.BuiltDevices()[d];
    EXPECT_NE(std::string::npos, entries.find(" DATA_TYPE=" + built.data_type + " ")) << d;
    EXPECT_EQ(devices[d].second.size(), built.payload_bytes) << d;
    EXPECT_EQ(0, config.ExtractData(d, extracted));
    EXPECT_EQ(devices[d].second, ReadFile(extracted)) << d;
  }
  EXPECT_EQ(Crc32("123456789", 9), Crc32("56789", 5, Crc32("1234", 4)));
  EXPECT_EQ("", planted.Damage());
}

// A one-device configuration as the builder writes it (a few kept in tests/data from before
// the payload was streamed).
std::string ExpectedXml(const std::string& data_type, const std::string& range, uint64_t size,
                        const std::string& payload) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n<download_configuration>\n\n"
      "  <Header>\n    <System2>\n      <Key>K1</Key>\n    </System2>\n    <Device>\n";
  if (!range.empty())
    xml += "      <ADDRESS_RANGE transparent=\"true\">" + range + "</ADDRESS_RANGE>\n";
  xml += "      <PROGRAM_MEMORY_SIZE transparent=\"true\">" + std::to_string(size) +
         "</PROGRAM_MEMORY_SIZE>\n      <DATA_TYPE transparent=\"true\">" + data_type +
         "</DATA_TYPE>\n      <V transparent=\"true\">1.2</V>\n    </Device>\n  </Header>\n\n"
         "  <Data>\n";
  if (payload.empty()) return xml + "    <Device/>\n  </Data>\n\n</download_configuration>\n";
  XMLSize_t length = 0;
  XMLByte* text = xercesc::Base64::encode(reinterpret_cast<const XMLByte*>(payload.data()),
                                          payload.size(), &length);
  xml += "    <Device>" + std::string(reinterpret_cast<char*>(text), length) + "</Device>\n";
  xercesc::XMLPlatformUtils::fgMemoryManager->deallocate(text);
  return xml + "  </Data>\n\n</download_configuration>\n";
}

// One block at 0x1000 holding `data`, then the closing block.
std::string BlockStream(const std::string& data) {
  const std::string closing = "\x01\0\0\0\0BREK\xDC"s;
  if (data.empty()) return closing;
  const size_t n = data.size();
  std::string stream =
      "\x01"s + char(n >> 24) + char(n >> 16) + char(n >> 8) + char(n) + "\0\0\x10\0"s;
  uint8_t sum = 0;
  for (size_t i = 1; i < stream.size(); ++i) sum = uint8_t(sum + uint8_t(stream[i]));
  for (size_t i = 0; i < n; ++i) {
    stream += data[i];
    sum = uint8_t(sum + uint8_t(data[i]));
    if ((i + 1) % 1024 == 0 || i + 1 == n) stream += char(uint8_t(0u - sum));
  }
  return stream + closing;
}

TEST_F(ConfigurationBuilderTest, OutputIsTheSameByteForByteForEveryTypeAndSize) {
  const std::string xml = (dir_ / "plain.xml").string();
  const std::set<std::string> kept = {"BREK0", "BREK61", "SREC0", "FILE61"};
  std::vector<size_t> sizes{0, 8u << 20};
  for (size_t n = 1; n <= 200; ++n) sizes.push_back(n);
  for (const std::string type : {"BREK", "SREC", "FILE"}) {
    for (size_t n : sizes) {
      SCOPED_TRACE(type + " " + std::to_string(n));
      const std::vector<uint8_t> bytes = srectest::Bytes(n, uint32_t(n));
      const std::string data(bytes.begin(), bytes.end());
      std::string conversion = kFile + "raw.bin</DataFilename>", payload = data, range;
      WriteFile(dir_ / "raw.bin", data);
      if (type == "BREK") {
        conversion = kBrek;
        WriteFile(dir_ / "fw.s19", srectest::SrecFile('3', {{0x1000, bytes}}));
        payload = BlockStream(data);
        char text[40];
        std::snprintf(text, sizeof text, "00001000-%08zx", 0x1000 + n);
        range = n ? text : "ffffffff-00000000";
      } else if (type == "SREC") {
        conversion = "<ConversionType>SRECXML</ConversionType><DataFilename>raw.bin</DataFilename>";
      } else {
        const uint32_t crc = Crc32(data.data(), data.size());
        payload = std::string{char(crc >> 24), char(crc >> 16), char(crc >> 8), char(crc)} + data;
      }
      ASSERT_EQ(0, Build(Project(Device(conversion))));
      ASSERT_EQ(0, SplayCompressor().Decompress(Output(), xml));
      const std::string built = ReadFile(xml), name = type + std::to_string(n);
      ASSERT_TRUE(ExpectedXml(type, range, payload.size(), payload) == built);
      if (kept.count(name)) {
        EXPECT_EQ(ReadFile(KORVO_TEST_DATA "/built/" + name + ".xml"), built);
      }
    }
  }
}

// A data file is read for its entries and again for its payload: a change between fails.
TEST_F(ConfigurationBuilderTest, DataFileChangedBeforeItIsWrittenFailsTheBuild) {
  const std::pair<std::string, std::string> changes[] = {  // type, new content of "123456789"
      {"FILE", "1234567890"}, {"FILE", "987654321"}, {"FILE", "12345678"}, {"SREC", "1234"},
      {"SREC", "1234567890"}, {"SREC", "123456789"}};
  for (const auto& [type, content] : changes) {
    SCOPED_TRACE(type + " " + content);
    const std::string data = (dir_ / "raw.bin").string(), xml = (dir_ / "x.xml").string();
    WriteFile(data, "123456789");
    DOMDocument* document = CreateXmlDocument(CoreImplementation(), "download_configuration");
    DOMElement* header = document->getDocumentElement();  // for the entries
    DOMElement* device = document->createElement(XmlText("Device"));
    header->appendChild(device);
    EmbeddedPayloads payloads;
    ASSERT_EQ(0, type == "FILE" ? EmbedRawFile(document, header, device, data, payloads)
                                : EmbedDataFile(document, header, device, data, "SREC", "", 0,
                                                payloads));
    WriteFile(data, content);
    EXPECT_EQ(0, WriteXmlDocument(CoreImplementation(), document, xml, &payloads));
    const bool same = content == "123456789";
    EXPECT_EQ(same, payloads.ok());
    EXPECT_EQ(same ? "" : data + ": changed while the configuration was being built",
              payloads.failure());
    document->release();
  }
}

TEST_F(ConfigurationBuilderTest, FailuresKeepExistingOutputAndLeaveNothing) {
  std::string bad_sum = S3(0x1000, kData16a);
  bad_sum[bad_sum.size() - 2] = bad_sum[bad_sum.size() - 2] == '0' ? '1' : '0';
  const std::string from_1000 =
      kBrek + "<AddressRangeSelection IncludeAddr=\"0x1000\" ExcludeAddr=";
  fs::create_directories(dir_ / "folder");  // nothing can replace a folder
  // Code, project, FailureDetail() after the folder, fw.s19 if not empty, FailedDevice().
  const struct { int code; std::string project, detail, srec = ""; int device = 0; } cases[] = {
      {kSrecConversionFailed, Project(), "fw.s19: line 2: checksum mismatch",
       "S0030000FC\n" + bad_sum + kEnd},
      {kSrecConversionFailed, Project(), "fw.s19: no end record", S3(0x1000, kData16a)},
      {kSrecNothingKept, Project(Device(from_1000 + "\"\"/>")), "fw.s19: IncludeAddr 00001000 is",
       S3(0x2000, kData16a) + kEnd},
      {kSrecFileError, Project(Device(kFile + "none</DataFilename>")), "none: no such file"},
      {kBuildBadPartialSize, Project(Device(kBrek + "<PartialMemorySize>64k</PartialMemorySize>",
                                            "<PARTIAL_DOWNLOAD>true</PARTIAL_DOWNLOAD>")),
       "PartialMemorySize \"64k\""},
      {kBuildBadAddress, Project(Device(from_1000 + "\"end\"/>")), "ExcludeAddr \"end\""},
      {kBuildUnknownConversion, Project(Device() + Device("<ConversionType>x</ConversionType>")),
       "ConversionType \"x\"", "", 1},
      {kBuildNoSystemEntries, Project(Device(), "out.cfg", ""), "section System2 (or System)", "",
       -1},
      {kBuildNoEntries, Project(Device(), "out.cfg", "<System2>\n  </System2>"), "section System2",
       "", -1},
      {kBuildNoEntries, Project(Device(kBrek, "<!-- none -->")), "section Configuration"},
      {kProjectNotFound, Project("<Device><Conversion>" + kBrek + "</Conversion></Device>"),
       "section Configuration"},
      {kProjectNotFound, Project(Device("<DataFilename>fw.s19</DataFilename>")),
       "entry ConversionType of section Conversion"},
      {kProjectNotFound, Project(Device("<ConversionType>File</ConversionType>")),
       "entry DataFilename of section Conversion"},
      {kNoTextChild, Project(Device(kBrek, "<PARTIAL_DOWNLOAD/>")), "entry PARTIAL_DOWNLOAD"},
      {kNoTextChild, Project("", ""), "entry FirmwarePackageFilename", "", -1},
      {kBuildOutputFailed, Project(Device(), "folder"), "folder", "", -1},
      {kProjectXmlException, "<download_project>", "p.xml: line 1, column 19: input ended", "",
       -1},
  };
  const std::string original_srec = ReadFile(dir_ / "fw.s19");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.project);
    WriteFile(dir_ / "fw.s19", c.srec.empty() ? original_srec : c.srec);
    WriteFile(Output(), "previous output");
    EXPECT_EQ(c.code, Build(c.project));
    std::string detail = builder_.FailureDetail();
    if (detail.rfind(dir_.string(), 0) == 0) detail.erase(0, dir_.string().size() + 1);
    EXPECT_EQ(0u, detail.find(c.detail)) << detail;
    EXPECT_EQ(c.device, builder_.FailedDevice());
    EXPECT_TRUE(builder_.BuiltDevices().empty());
    EXPECT_EQ("previous output", ReadFile(Output()));
    EXPECT_EQ("", builder_.OutputPath());
    ExpectNothingLeft();
  }
}

TEST_F(ConfigurationBuilderTest, DoubtfulDataIsBuiltWithWarnings) {
  const std::string repeated = S3(0x1000, kData16b);
  WriteFile(dir_ / "fw.s19",
            S3(0x1010, kData16a) + repeated + repeated + repeated + S3(0x1018, kData16a) + kEnd);
  WriteFile(dir_ / "fw.hex", ":0400100001020304E2\n:00000001FF\n");
  WriteFile(dir_ / "s1.s19", "S00600004844521B\nS1051000AABB85\nS9030000FC\n");
  auto srec = [](const std::string& file, bool partial) {
    return Device("<ConversionType>SRECXML</ConversionType><DataFilename>" + file +
                      "</DataFilename><PartialMemorySize>0</PartialMemorySize>",
                  partial ? "<PARTIAL_DOWNLOAD>true</PARTIAL_DOWNLOAD>" : "<V>1</V>");
  };
  // S1 and S9 records are sent part by part only with PARTIAL_DOWNLOAD, which an S3 file
  // with its S7 record passes.
  ASSERT_EQ(0, Build(Project(Device() + srec("raw.bin", false) + srec("fw.hex", true) +
                             srec("s1.s19", true) + srec("s1.s19", false) + srec("fw.s19", true))));
  const std::string fw = (dir_ / "fw.s19").string(), raw = (dir_ / "raw.bin").string();
  EXPECT_EQ((std::vector<std::string>{
                fw + ": line 3: record at 00001000 repeats data given before (2 such records)",
                fw + ": line 5: record at 00001018 overlaps data given before",
                fw + ": line 2: record at 00001000 goes down from the address before it (a new "
                     "block starts)",
                raw + ": does not look like S-record text, yet is embedded as SRECXML",
                (dir_ / "fw.hex").string() + ": does not look like S-record text, yet is "
                    "embedded as SRECXML; this is an Intel HEX file, not S-records; convert it "
                    "with objcopy -I ihex -O srec IN OUT.s19 (or srec_cat IN -intel -o OUT.s19 "
                    "-motorola -disable=data-count -execution-start-address ADDRESS)",
                (dir_ / "s1.s19").string() + ": PARTIAL_DOWNLOAD is true, and the part-by-part "
                    "download sends S3 records up to an S7 end record, which this file lacks "
                    "(its end record: S9): the download would erase the device and then fail; "
                    "write the file with S3 records and an S7 end (srec_cat: -address-length=4; "
                    "objcopy: --srec-forceS3)"}),
            builder_.Warnings());
}

TEST_F(ConfigurationBuilderTest, FailedCompressionKeepsTheOutput) {
  // A folder opens for reading but fails at the first read.
  fs::create_directories(dir_ / "unreadable");
  WriteFile(Output(), "previous output");
  SplayCompressor compressor;
  EXPECT_EQ(kBuildOutputFailed,
            CompressReplacing(compressor, (dir_ / "unreadable").string(), Output()));
  EXPECT_EQ("previous output", ReadFile(Output()));
  ExpectNothingLeft();
}

TEST_F(ConfigurationBuilderTest, ProjectOpenByFrontEndBlocksBuild) {
  WriteFile(dir_ / "p.xml", Project());
  ASSERT_EQ(0, builder_.Project().OpenProjectDocument((dir_ / "p.xml").string()));
  EXPECT_EQ(kProjectAlreadyOpen, builder_.Build((dir_ / "p.xml").string()));
  EXPECT_TRUE(builder_.Project().IsOpen());  // still the front end's
}

TEST(ConfigurationBuilderPathTest, DirectoryAndNumbers) {
  // Only a drive or a network share leaves the project's folder.
  const std::pair<const char*, const char*> names[] = {
      {"C:\\a.cfg", "C:\\a.cfg"},         {"d:/a.cfg", "d:/a.cfg"},
      {"\\\\host\\a.cfg", "\\\\host\\a.cfg"}, {"//host/a.cfg", "//host/a.cfg"},
      {"C:a.cfg", "/p/C:a.cfg"},         {"\\a.cfg", "/p/\\a.cfg"},
      {"/a.cfg", "/p//a.cfg"},           {"a.cfg", "/p/a.cfg"},
      {"\\/a.cfg", "\\/a.cfg"}};
  for (const auto& [name, path] : names) EXPECT_EQ(path, ProjectPath("/p/", name)) << name;
  EXPECT_EQ("C:\\proj\\", DirectoryPart("C:\\proj\\a.xml"));
  EXPECT_EQ("C:", DirectoryPart("C:a.xml"));
}

}  // namespace
}  // namespace korvo

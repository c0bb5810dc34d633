#include "config/configuration_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "config/config_document.h"
#include "config/splay_compressor.h"
#include "config/srec_converter.h"
#include "config/srec_test_util.h"
#include "config/temp_files.h"
#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;

using test_support::ReadFile;
using test_support::WriteFile;

// One S3 record with a correct checksum, upper-case hex, LF-terminated.
std::string S3(uint32_t address, const std::string& data) {
  return srectest::Record('3', address, {data.begin(), data.end()}) + "\n";
}

const char kEnd[] = "S70500000000FA\n";

const std::string kData16a = "0123456789ABCDEF";
const std::string kData16b = "fedcba9876543210";

const char kConfiguration[] =
    "<Name>Main</Name><DEVICE_TYPE>APP</DEVICE_TYPE><Version transparent=\"true\">1.2</Version>";

struct DeviceSpec {
  std::string configuration = kConfiguration;
  std::string conversion =
      "<ConversionType>SRECToBrekXML</ConversionType><DataFilename>fw.s19</DataFilename>";
  bool has_configuration = true;
};

std::string Project(const std::vector<DeviceSpec>& devices = {DeviceSpec()},
                    const std::string& system =
                        "<System2><TavisDevice>true</TavisDevice><Key>K1</Key></System2>") {
  std::string xml = "<download_project><FirmwarePackageFilename>out.cfg"
                    "</FirmwarePackageFilename>" + system;
  for (const DeviceSpec& d : devices) {
    xml += "<Device>";
    if (d.has_configuration) xml += "<Configuration>" + d.configuration + "</Configuration>";
    xml += "<Conversion>" + d.conversion + "</Conversion></Device>";
  }
  return xml + "</download_project>";
}

// A project of one device; the conversion defaults to the block stream of fw.s19.
std::string Project1(const std::string& configuration, const std::string& conversion = "") {
  DeviceSpec d{configuration};
  if (!conversion.empty()) d.conversion = conversion;
  return Project({d});
}

class ConfigurationBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = srectest::FreshDir("builder");
    WriteFile(dir_ / "fw.s19", "S00600004844521B\n" + S3(0x1000, kData16a) +
                                   S3(0x1010, kData16b) + kEnd);
    WriteFile(dir_ / "raw.bin", "123456789");
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Build(const std::string& project_xml) {
    WriteFile(dir_ / "p.xml", project_xml);
    return builder_.Build((dir_ / "p.xml").string());
  }
  std::string Output() const { return (dir_ / "out.cfg").string(); }

  // The block stream the converter itself makes of fw.s19.
  std::string Converted(const AddressRangeSelection* selection = nullptr) {
    SrecToBrekConverter converter;
    std::string range, brek = (dir_ / "ref.brek").string();
    EXPECT_EQ(0, ConvertSrecToBrek(converter, (dir_ / "fw.s19").string(), selection, range, brek,
                                   (dir_ / "ref.cut").string()));
    std::string bytes = ReadFile(brek);
    RemoveFile(brek);
    return bytes;
  }

  // Nothing of a build may stay behind: temporary files here or beside the
  // output, nor the project held open.
  void ExpectNothingLeft() {
    const TempNames& names = ProcessTempNames();
    for (const std::string* name : {&names.config_builder, &names.srec, &names.brek})
      EXPECT_FALSE(fs::exists(*name)) << *name;
    for (const auto& entry : fs::directory_iterator(dir_))
      EXPECT_EQ(std::string::npos, entry.path().string().find("~")) << entry.path();
    EXPECT_FALSE(builder_.Project().IsOpen());
  }

  fs::path dir_;
  ConfigurationBuilder builder_;
};

TEST_F(ConfigurationBuilderTest, TwoDevicesLoadAndExtractExactly) {
  DeviceSpec raw;
  raw.configuration = "<Name>Params</Name><Log>first</Log>";
  raw.conversion = "<ConversionType>File</ConversionType><DataFilename>raw.bin</DataFilename>";
  DeviceSpec empty = raw;  // an empty file still carries its CRC
  empty.conversion.replace(empty.conversion.find("raw.bin"), 7, "empty.bin");
  WriteFile(dir_ / "empty.bin", "");
  ASSERT_EQ(0, Build(Project({DeviceSpec(), raw, empty})));
  ExpectNothingLeft();
  EXPECT_EQ(Output(), builder_.OutputPath());
  ASSERT_EQ(3u, builder_.BuiltDevices().size());
  EXPECT_EQ("BREK", builder_.BuiltDevices()[0].data_type);
  EXPECT_EQ(13u, builder_.BuiltDevices()[1].payload_bytes);

  // Indented XML behind the magic number.
  std::string xml = (dir_ / "plain.xml").string();
  ASSERT_EQ(0, SplayCompressor().Decompress(Output(), xml));
  std::string text = ReadFile(xml);
  EXPECT_EQ(std::string("\x55\xAA\x02\xFF"), ReadFile(Output()).substr(0, 4));
  EXPECT_NE(std::string::npos, text.find("\n  <Header>\n    <System2>"));
  EXPECT_LT(text.find("<Header>"), text.find("<Data>"));

  ConfigDocument config;
  ASSERT_EQ(0, config.Load(Output()));
  int count = 0;
  ASSERT_EQ(0, config.GetDeviceCount(count));
  EXPECT_EQ(3, count);
  std::string name, value;
  bool legacy = true;
  EXPECT_EQ(0, config.GetSystemEntry("Key", value, &legacy));
  EXPECT_EQ("K1", value);
  EXPECT_FALSE(legacy);

  // Converter entries first, then the copied transparent entry.
  const char* expected[][2] = {{"ADDRESS_RANGE", "00001000-00001020"},
                               {"PROGRAM_MEMORY_SIZE", "52"},
                               {"DATA_TYPE", "BREK"},
                               {"Version", "1.2"}};
  for (int n = 0; n < 4; ++n) {
    ASSERT_EQ(0, config.GetTransparentEntry(0, n, name, value));
    EXPECT_EQ(expected[n][0], name);
    EXPECT_EQ(expected[n][1], value);
  }
  EXPECT_EQ(kConfigIndexPastEnd, config.GetTransparentEntry(0, 4, name, value));
  EXPECT_EQ(0, config.GetDeviceEntry(1, "PROGRAM_MEMORY_SIZE", value));
  EXPECT_EQ("13", value);
  EXPECT_EQ(0, config.GetLogText(1, 0, value));
  EXPECT_EQ("first", value);

  std::string extracted = (dir_ / "x.bin").string();
  ASSERT_EQ(0, config.ExtractData(0, extracted));
  EXPECT_EQ(Converted(), ReadFile(extracted));
  ASSERT_EQ(0, config.ExtractData(1, extracted));
  EXPECT_EQ(std::string("\xCB\xF4\x39\x26") + "123456789", ReadFile(extracted));  // CRC-32 first
  ASSERT_EQ(0, config.ExtractData(2, extracted));
  EXPECT_EQ(std::string(4, '\0'), ReadFile(extracted));
}

TEST_F(ConfigurationBuilderTest, SrecKeepsFileAndPartialSizeRules) {
  DeviceSpec partial;
  partial.configuration = "<PARTIAL_DOWNLOAD>true</PARTIAL_DOWNLOAD>";
  partial.conversion =
      "<ConversionType>SRECXML</ConversionType><DataFilename>fw.s19</DataFilename>"
      "<PartialMemorySize>0x10000</PartialMemorySize>";
  DeviceSpec capital = partial;  // only "true" means partial: the size is not read
  capital.configuration = "<PARTIAL_DOWNLOAD>True</PARTIAL_DOWNLOAD>";
  capital.conversion.replace(capital.conversion.find("0x10000"), 7, "64k");
  ASSERT_EQ(0, Build(Project({partial, capital})));
  ConfigDocument config;
  ASSERT_EQ(0, config.Load(Output()));
  std::string value;
  EXPECT_EQ(0, config.GetDeviceEntry(0, "PROGRAM_MEMORY_SIZE", value));
  EXPECT_EQ("65536", value);
  EXPECT_EQ(0, config.GetDeviceEntry(1, "PROGRAM_MEMORY_SIZE", value));
  EXPECT_EQ(std::to_string(fs::file_size(dir_ / "fw.s19")), value);
  EXPECT_EQ(kConfigMissing, config.GetDeviceEntry(0, "ADDRESS_RANGE", value));
  std::string extracted = (dir_ / "x.s19").string();
  ASSERT_EQ(0, config.ExtractData(1, extracted));
  EXPECT_EQ(ReadFile(dir_ / "fw.s19"), ReadFile(extracted));
}

TEST_F(ConfigurationBuilderTest, AddressRangeSelectionCutsRecords) {
  DeviceSpec device;
  device.conversion =
      "<ConversionType>SRECToBrekBinXML</ConversionType><DataFilename>fw.s19</DataFilename>"
      "<AddressRangeSelection IncludeAddr=\"0x1010\" ExcludeAddr=\"\"/>";
  ASSERT_EQ(0, Build(Project({device})));
  ExpectNothingLeft();
  ConfigDocument config;
  ASSERT_EQ(0, config.Load(Output()));
  std::string value;
  EXPECT_EQ(0, config.GetDeviceEntry(0, "ADDRESS_RANGE", value));
  EXPECT_EQ("00001010-00001020", value);
  EXPECT_EQ(0, config.GetDeviceEntry(0, "DATA_TYPE", value));
  EXPECT_EQ("BREKBIN", value);
  std::string extracted = (dir_ / "x.bin").string();
  ASSERT_EQ(0, config.ExtractData(0, extracted));
  AddressRangeSelection selection{"00001010", ""};
  EXPECT_EQ(Converted(&selection), ReadFile(extracted));
}

TEST_F(ConfigurationBuilderTest, FailuresKeepExistingOutputAndLeaveNothing) {
  std::string good = S3(0x1000, kData16a);
  std::string bad_sum = good;
  bad_sum[bad_sum.size() - 2] = bad_sum[bad_sum.size() - 2] == '0' ? '1' : '0';
  DeviceSpec no_configuration;
  no_configuration.has_configuration = false;
  const std::string srec_file = "<DataFilename>fw.s19</DataFilename>";
  const std::string brek = "<ConversionType>SRECToBrekXML</ConversionType>" + srec_file;
  const std::string from_1000 = brek + "<AddressRangeSelection IncludeAddr=\"0x1000\" ExcludeAddr=";
  const struct {
    const char* what;
    int code;
    std::string project;
    std::string srec;    // replaces fw.s19 when not empty
    std::string detail;  // what FailureDetail() says, after the project's folder
  } cases[] = {
      {"wrong checksum", kSrecConversionFailed, Project(), "S0030000FC\n" + bad_sum + kEnd,
       "fw.s19: line 2: checksum mismatch"},
      {"no end record", kSrecConversionFailed, Project(), good, "fw.s19: no end record"},
      {"long line", kSrecLineTooLong, Project1(kConfiguration, from_1000 + "\"\"/>"),
       good + "S0" + std::string(1022, '0') + "\n" + kEnd, "fw.s19: line 2: the line has 1024"},
      {"selection keeps nothing", kSrecNothingKept, Project1(kConfiguration, from_1000 + "\"\"/>"),
       S3(0x2000, kData16a) + kEnd, "fw.s19: IncludeAddr 00001000 is the address of no S3"},
      {"missing data file", kSrecFileError,
       Project1(kConfiguration,
                "<ConversionType>File</ConversionType><DataFilename>none</DataFilename>"),
       "", "none: no such file"},
      {"partial size", kBuildBadPartialSize,
       Project1("<PARTIAL_DOWNLOAD>true</PARTIAL_DOWNLOAD>",
                brek + "<PartialMemorySize>64k</PartialMemorySize>"),
       "", "PartialMemorySize \"64k\""},
      {"address", kBuildBadAddress, Project1(kConfiguration, from_1000 + "\"end\"/>"), "",
       "ExcludeAddr \"end\""},
      {"conversion type", kBuildUnknownConversion,
       Project1(kConfiguration, "<ConversionType>srectobrekxml</ConversionType>"), "",
       "ConversionType \"srectobrekxml\""},
      {"no system section", kBuildNoSystemEntries, Project({DeviceSpec()}, ""), "",
       "section System2 (or System)"},
      {"empty system section", kBuildNoEntries, Project({DeviceSpec()}, "<System2>\n  </System2>"),
       "", "section System2 (or System)"},
      {"empty configuration", kBuildNoEntries, Project1("<!-- none -->"), "",
       "section Configuration"},
      {"no configuration", kProjectNotFound, Project({no_configuration}), "",
       "section Configuration"},
      {"no conversion type", kProjectNotFound, Project1(kConfiguration, srec_file), "",
       "entry ConversionType of section Conversion"},
      {"no data file name", kProjectNotFound,
       Project1(kConfiguration, "<ConversionType>File</ConversionType>"), "",
       "entry DataFilename of section Conversion"},
      {"empty partial flag", kNoTextChild, Project1("<PARTIAL_DOWNLOAD/>"), "",
       "entry PARTIAL_DOWNLOAD"},
      {"no output name", kNoTextChild,
       "<download_project><FirmwarePackageFilename/></download_project>", "",
       "entry FirmwarePackageFilename"},
      {"not a project", kProjectXmlException, "<download_project>", "", ""},
  };
  const std::string original_srec = ReadFile(dir_ / "fw.s19");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir_ / "fw.s19", c.srec.empty() ? original_srec : c.srec);
    WriteFile(Output(), "previous output");
    EXPECT_EQ(c.code, Build(c.project));
    std::string detail = builder_.FailureDetail();
    if (detail.rfind(dir_.string(), 0) == 0) detail.erase(0, dir_.string().size() + 1);
    EXPECT_EQ(0u, detail.find(c.detail)) << detail;
    EXPECT_EQ("previous output", ReadFile(Output()));
    EXPECT_EQ("", builder_.OutputPath());
    ExpectNothingLeft();
  }
}

TEST_F(ConfigurationBuilderTest, AbsoluteNamesStandAsTheyAre) {
  fs::create_directories(dir_ / "sub");
  std::string project = Project1(
      kConfiguration, "<ConversionType>File</ConversionType><DataFilename>" +
                          (dir_ / "raw.bin").string() + "</DataFilename>");
  project.replace(project.find("out.cfg"), 7, Output());
  WriteFile(dir_ / "sub" / "p.xml", project);
  ASSERT_EQ(0, builder_.Build((dir_ / "sub" / "p.xml").string())) << builder_.FailureDetail();
  EXPECT_EQ(Output(), builder_.OutputPath());
  EXPECT_EQ("C:\\a.cfg", ProjectPath("/p/", "C:\\a.cfg"));
  EXPECT_EQ("\\\\host\\a.cfg", ProjectPath("/p/", "\\\\host\\a.cfg"));
  EXPECT_EQ("/p/C:a.cfg", ProjectPath("/p/", "C:a.cfg"));
}

TEST_F(ConfigurationBuilderTest, DoubtfulDataIsBuiltWithWarnings) {
  const std::string repeated = S3(0x1000, kData16b);
  WriteFile(dir_ / "fw.s19",
            S3(0x1010, kData16a) + repeated + repeated + repeated + S3(0x1018, kData16a) + kEnd);
  DeviceSpec srec_of_binary;
  srec_of_binary.conversion =
      "<ConversionType>SRECXML</ConversionType><DataFilename>raw.bin</DataFilename>";
  ASSERT_EQ(0, Build(Project({DeviceSpec(), srec_of_binary})));
  const std::string fw = (dir_ / "fw.s19").string(), raw = (dir_ / "raw.bin").string();
  EXPECT_EQ((std::vector<std::string>{
                fw + ": line 3: record at 00001000 repeats data given before (2 such records)",
                fw + ": line 5: record at 00001018 overlaps data given before",
                fw + ": line 2: record at 00001000 goes down from the address before it (a new "
                     "block starts)",
                raw + ": does not look like S-record text, yet is embedded as SRECXML"}),
            builder_.Warnings());
}

TEST_F(ConfigurationBuilderTest, SecondDeviceFailureReportsItsIndex) {
  EXPECT_EQ(kBuildUnknownConversion,
            Build(Project({DeviceSpec(), {"<A>1</A>", "<ConversionType>Other</ConversionType>"}})));
  EXPECT_EQ(1, builder_.FailedDevice());
  EXPECT_TRUE(builder_.BuiltDevices().empty());
  EXPECT_FALSE(fs::exists(Output()));
  ExpectNothingLeft();
}

TEST_F(ConfigurationBuilderTest, UnwritableOutputGivesFileCode) {
  // Output names a directory: nothing can replace it.
  fs::create_directories(dir_ / "out.cfg");
  EXPECT_EQ(kBuildOutputFailed, Build(Project()));
  EXPECT_TRUE(fs::is_directory(dir_ / "out.cfg"));
  fs::remove_all(dir_ / "out.cfg");
  ExpectNothingLeft();

  std::string project = Project();
  project.replace(project.find("out.cfg"), 7, "missing/out.cfg");
  EXPECT_EQ(kBuildOutputFailed, Build(project));
  ExpectNothingLeft();

  // A directory opens for reading but fails at the first read.
  fs::create_directories(dir_ / "unreadable");
  WriteFile(Output(), "previous output");
  SplayCompressor compressor;
  EXPECT_EQ(kBuildOutputFailed,
            CompressReplacing(compressor, (dir_ / "unreadable").string(), Output()));
  EXPECT_EQ("previous output", ReadFile(Output()));
  EXPECT_FALSE(fs::exists(Output() + ".~TMP"));
  WriteFile(dir_ / "plain.txt", "new text");
  EXPECT_EQ(0, CompressReplacing(compressor, (dir_ / "plain.txt").string(), Output()));
  EXPECT_EQ(std::string("\x55\xAA\x02\xFF"), ReadFile(Output()).substr(0, 4));
  EXPECT_FALSE(fs::exists(Output() + ".~TMP"));
}

TEST_F(ConfigurationBuilderTest, ProjectOpenByFrontEndBlocksBuild) {
  WriteFile(dir_ / "p.xml", Project());
  ASSERT_EQ(0, builder_.Project().OpenProjectDocument((dir_ / "p.xml").string()));
  EXPECT_EQ(kProjectAlreadyOpen, builder_.Build((dir_ / "p.xml").string()));
  EXPECT_TRUE(builder_.Project().IsOpen());
  ASSERT_EQ(0, builder_.Project().CloseProjectDocument(false));
  EXPECT_EQ(0, builder_.Build((dir_ / "p.xml").string()));
  EXPECT_FALSE(builder_.Project().IsOpen());
  // A missing project opens as a new, empty one, which names no output.
  EXPECT_EQ(kNoTextChild, builder_.Build((dir_ / "absent.xml").string()));
  EXPECT_FALSE(builder_.Project().IsOpen());
  EXPECT_FALSE(fs::exists(dir_ / "absent.xml"));
}

TEST(ConfigurationBuilderPathTest, DirectoryAndNumbers) {
  EXPECT_EQ("C:\\proj\\", DirectoryPart("C:\\proj\\a.xml"));
  EXPECT_EQ("/p/q/", DirectoryPart("/p/q/a.xml"));
  EXPECT_EQ("C:", DirectoryPart("C:a.xml"));
  EXPECT_EQ("", DirectoryPart("a.xml"));

  const std::pair<const char*, unsigned long> good[] = {
      {"0x10000", 65536}, {"010", 8}, {"4294967295", 4294967295u}, {" +0x20", 32}};
  for (const auto& [text, expected] : good) {
    unsigned long value = 7;
    EXPECT_TRUE(ParseNumber(text, value)) << text;
    EXPECT_EQ(expected, value) << text;
  }
  for (const char* bad : {"64k", "", " ", "-1", " -0", "+-1", "4294967296", "0x", "12 "}) {
    unsigned long value = 7;
    EXPECT_FALSE(ParseNumber(bad, value)) << bad;
    EXPECT_EQ(7u, value);
  }
}

}  // namespace
}  // namespace korvo

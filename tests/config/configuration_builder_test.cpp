#include "config/configuration_builder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "config/config_document.h"
#include "config/splay_compressor.h"
#include "config/temp_files.h"
#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;

using test_support::ReadFile;
using test_support::WriteFile;

std::string Hex(uint64_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out(size_t(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) out[size_t(i)] = kDigits[value & 15];
  return out;
}

// One S3 record with a correct checksum, upper-case hex, LF-terminated.
std::string S3(uint32_t address, const std::string& data) {
  uint8_t count = uint8_t(4 + data.size() + 1);
  uint8_t sum = count;
  std::string line = "S3" + Hex(count, 2) + Hex(address, 8);
  for (int shift = 24; shift >= 0; shift -= 8) sum = uint8_t(sum + (address >> shift));
  for (unsigned char c : data) {
    sum = uint8_t(sum + c);
    line += Hex(c, 2);
  }
  return line + Hex(uint8_t(~sum), 2) + "\n";
}

const char kEnd[] = "S70500000000FA\n";

void PutU32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char(value >> shift));
}

// The block stream of one block of under 1024 bytes, then the closing block.
std::string BrekOf(uint32_t address, const std::string& data) {
  std::string out(1, '\x01');
  std::string summed;
  PutU32(summed, uint32_t(data.size()));
  PutU32(summed, address);
  summed += data;
  uint8_t sum = 0;
  for (unsigned char c : summed) sum = uint8_t(sum + c);
  out += summed;
  out.push_back(char(uint8_t(-sum)));
  out += std::string("\x01\0\0\0\0BREK", 9);
  out.push_back(char(uint8_t(-('B' + 'R' + 'E' + 'K'))));
  return out;
}

const std::string kData16a = "0123456789ABCDEF";
const std::string kData16b = "fedcba9876543210";

struct DeviceSpec {
  std::string configuration =
      "<Name>Main</Name><DEVICE_TYPE>APP</DEVICE_TYPE>"
      "<Version transparent=\"true\">1.2</Version>";
  std::string conversion =
      "<ConversionType>SRECToBrekXML</ConversionType><DataFilename>fw.s19</DataFilename>";
  bool has_configuration = true;
};

std::string Project(const std::vector<DeviceSpec>& devices,
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

class ConfigurationBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("korvo-builder-" + std::to_string(CurrentThreadId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
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
  ASSERT_EQ(0, Build(Project({DeviceSpec(), raw})));
  ExpectNothingLeft();
  EXPECT_EQ(Output(), builder_.OutputPath());
  ASSERT_EQ(2u, builder_.BuiltDevices().size());
  EXPECT_EQ("BREK", builder_.BuiltDevices()[0].data_type);
  EXPECT_EQ(13u, builder_.BuiltDevices()[1].payload_bytes);
  EXPECT_EQ(std::string("\x55\xAA\x02\xFF"), ReadFile(Output()).substr(0, 4));

  ConfigDocument config;
  ASSERT_EQ(0, config.Load(Output()));
  int count = 0;
  ASSERT_EQ(0, config.GetDeviceCount(count));
  EXPECT_EQ(2, count);
  std::string value;
  bool legacy = true;
  EXPECT_EQ(0, config.GetSystemEntry("Key", value, &legacy));
  EXPECT_EQ("K1", value);
  EXPECT_FALSE(legacy);

  // Converter entries first, then the copied transparent entry.
  const char* expected[][2] = {{"ADDRESS_RANGE", "00001000-00001020"},
                               {"PROGRAM_MEMORY_SIZE", "52"},
                               {"DATA_TYPE", "BREK"},
                               {"Version", "1.2"}};
  std::string name;
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
  EXPECT_EQ(BrekOf(0x1000, kData16a + kData16b), ReadFile(extracted));
  ASSERT_EQ(0, config.ExtractData(1, extracted));
  EXPECT_EQ(std::string("\xCB\xF4\x39\x26") + "123456789", ReadFile(extracted));
}

TEST_F(ConfigurationBuilderTest, OutputIsIndentedXmlBehindTheMagicNumber) {
  ASSERT_EQ(0, Build(Project({DeviceSpec()})));
  SplayCompressor compressor;
  std::string xml = (dir_ / "plain.xml").string();
  ASSERT_EQ(0, compressor.Decompress(Output(), xml));
  std::string text = ReadFile(xml);
  EXPECT_NE(std::string::npos, text.find("<download_configuration>"));
  EXPECT_NE(std::string::npos, text.find("\n  <Header>"));
  EXPECT_NE(std::string::npos, text.find("\n    <System2>"));
  EXPECT_LT(text.find("<Header>"), text.find("<Data>"));
}

TEST_F(ConfigurationBuilderTest, SrecKeepsFileAndPartialSizeRules) {
  DeviceSpec partial;
  partial.configuration = "<PARTIAL_DOWNLOAD>true</PARTIAL_DOWNLOAD>";
  partial.conversion =
      "<ConversionType>SRECXML</ConversionType><DataFilename>fw.s19</DataFilename>"
      "<PartialMemorySize>0x10000</PartialMemorySize>";
  DeviceSpec capital = partial;
  capital.configuration = "<PARTIAL_DOWNLOAD>True</PARTIAL_DOWNLOAD>";
  capital.conversion =
      "<ConversionType>SRECXML</ConversionType><DataFilename>fw.s19</DataFilename>"
      "<PartialMemorySize>64k</PartialMemorySize>";
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
  EXPECT_EQ(BrekOf(0x1010, kData16b), ReadFile(extracted));
}

struct BadCase {
  const char* what;
  int code;
  std::string project;
  std::string srec;  // replaces fw.s19 when not empty
};

std::string WithConversion(const std::string& conversion) {
  DeviceSpec d;
  d.conversion = conversion;
  return Project({d});
}

std::string WithConfiguration(const std::string& configuration) {
  DeviceSpec d;
  d.configuration = configuration;
  return Project({d});
}

TEST_F(ConfigurationBuilderTest, FailuresKeepExistingOutputAndLeaveNothing) {
  std::string good = S3(0x1000, kData16a);
  std::string bad_sum = good;
  bad_sum[bad_sum.size() - 2] = bad_sum[bad_sum.size() - 2] == '0' ? '1' : '0';
  std::string lower = S3(0x1000, "\xAB\xCD\xEF\xFA");
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  lower[0] = 'S';
  DeviceSpec no_configuration;
  no_configuration.has_configuration = false;
  const std::string brek_range =
      "<ConversionType>SRECToBrekXML</ConversionType><DataFilename>fw.s19</DataFilename>"
      "<AddressRangeSelection IncludeAddr=\"0x1000\" ExcludeAddr=\"\"/>";
  const BadCase cases[] = {
      {"wrong checksum", kSrecConversionFailed, Project({DeviceSpec()}), bad_sum + kEnd},
      {"lower-case hex", kSrecConversionFailed, Project({DeviceSpec()}), lower + kEnd},
      {"S5 record", kSrecConversionFailed, Project({DeviceSpec()}), good + "S5030001FB\n" + kEnd},
      {"no end record", kSrecConversionFailed, Project({DeviceSpec()}), good},
      {"long line", kSrecLineTooLong, WithConversion(brek_range),
       good + "S0" + std::string(1022, '0') + "\n" + kEnd},
      {"missing data file", kSrecFileError,
       WithConversion("<ConversionType>File</ConversionType><DataFilename>none</DataFilename>"),
       ""},
      {"partial size", kBuildBadPartialSize,
       Project({[] {
         DeviceSpec d;
         d.configuration = "<PARTIAL_DOWNLOAD>true</PARTIAL_DOWNLOAD>";
         d.conversion += "<PartialMemorySize>64k</PartialMemorySize>";
         return d;
       }()}),
       ""},
      {"address", kBuildBadAddress,
       WithConversion("<ConversionType>SRECToBrekXML</ConversionType>"
                      "<DataFilename>fw.s19</DataFilename>"
                      "<AddressRangeSelection IncludeAddr=\"0x1000\" ExcludeAddr=\"end\"/>"),
       ""},
      {"conversion type", kBuildUnknownConversion,
       WithConversion("<ConversionType>srectobrekxml</ConversionType>"), ""},
      {"no system section", kBuildNoSystemEntries, Project({DeviceSpec()}, ""), ""},
      {"empty system section", kBuildNoEntries, Project({DeviceSpec()}, "<System2>\n  </System2>"),
       ""},
      {"empty configuration", kBuildNoEntries, WithConfiguration("<!-- none -->"), ""},
      {"no configuration", kProjectNotFound, Project({no_configuration}), ""},
      {"no conversion type", kProjectNotFound,
       WithConversion("<DataFilename>fw.s19</DataFilename>"), ""},
      {"empty partial flag", kNoTextChild, WithConfiguration("<PARTIAL_DOWNLOAD/>"), ""},
      {"not a project", kProjectXmlException, "<download_project>", ""},
  };
  const std::string original_srec = ReadFile(dir_ / "fw.s19");
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir_ / "fw.s19", c.srec.empty() ? original_srec : c.srec);
    WriteFile(Output(), "previous output");
    EXPECT_EQ(c.code, Build(c.project));
    EXPECT_EQ("previous output", ReadFile(Output()));
    EXPECT_EQ("", builder_.OutputPath());
    ExpectNothingLeft();
  }
}

TEST_F(ConfigurationBuilderTest, SecondDeviceFailureReportsItsIndex) {
  DeviceSpec bad;
  bad.conversion = "<ConversionType>Other</ConversionType>";
  EXPECT_EQ(kBuildUnknownConversion, Build(Project({DeviceSpec(), bad})));
  EXPECT_EQ(1, builder_.FailedDevice());
  EXPECT_TRUE(builder_.BuiltDevices().empty());
  EXPECT_FALSE(fs::exists(Output()));
  ExpectNothingLeft();
}

TEST_F(ConfigurationBuilderTest, UnwritableOutputGivesFileCode) {
  // Output names a directory: nothing can replace it.
  fs::create_directories(dir_ / "out.cfg");
  EXPECT_EQ(kBuildOutputFailed, Build(Project({DeviceSpec()})));
  EXPECT_TRUE(fs::is_directory(dir_ / "out.cfg"));
  fs::remove_all(dir_ / "out.cfg");
  ExpectNothingLeft();

  std::string project = Project({DeviceSpec()});
  project.replace(project.find("out.cfg"), 7, "missing/out.cfg");
  EXPECT_EQ(kBuildOutputFailed, Build(project));
  ExpectNothingLeft();
}

TEST_F(ConfigurationBuilderTest, CompressionFailingHalfwayKeepsOutput) {
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
  WriteFile(dir_ / "p.xml", Project({DeviceSpec()}));
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
  EXPECT_EQ("C:\\proj\\out.cfg", DirectoryPart("C:\\proj\\a.xml") + "out.cfg");
  EXPECT_EQ("/p/q/", DirectoryPart("/p/q/a.xml"));
  EXPECT_EQ("C:", DirectoryPart("C:a.xml"));
  EXPECT_EQ("", DirectoryPart("a.xml"));

  unsigned long value = 7;
  EXPECT_TRUE(ParseNumber("0x10000", value));
  EXPECT_EQ(65536u, value);
  EXPECT_TRUE(ParseNumber("010", value));
  EXPECT_EQ(8u, value);
  EXPECT_TRUE(ParseNumber("4294967295", value));
  EXPECT_EQ(4294967295u, value);
  EXPECT_TRUE(ParseNumber(" +0x20", value));
  EXPECT_EQ(32u, value);
  for (const char* bad : {"64k", "", " ", "-1", " -0", "+-1", "4294967296", "0x", "12 "}) {
    value = 7;
    EXPECT_FALSE(ParseNumber(bad, value)) << bad;
    EXPECT_EQ(7u, value);
  }
}

}  // namespace
}  // namespace korvo

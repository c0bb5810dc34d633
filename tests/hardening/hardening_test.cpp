// The faults of the hardening issue, each with the input that showed it:
// lost or damaged data, and input that could exhaust the machine.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "config/config_document.h"
#include "config/configuration_builder.h"
#include "config/data_file.h"
#include "config/project_document.h"
#include "config/srec_converter.h"
#include "config/srec_test_util.h"
#include "config/temp_files.h"
#include "keys/key_document.h"
#include "platform/system.h"
#include "support/files.h"
#include "support/tool_run.h"

extern char** environ;

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::RunTool;
using test_support::ToolRun;
using test_support::WriteFile;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class HardeningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("korvo-hardening-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string At(const std::string& name) const { return (dir_ / name).string(); }

  // Names in the work folder that a run left behind besides `expected`.
  std::vector<std::string> Leftovers(const std::vector<std::string>& expected) const {
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      std::string name = entry.path().filename().string();
      bool known = false;
      for (const std::string& e : expected) known = known || e == name;
      if (!known) left.push_back(name);
    }
    return left;
  }

  fs::path dir_;
};

// --- 1. A failed compress or decompress keeps the existing output ---------

TEST_F(HardeningTest, FailedToolRunKeepsTheOutputAndALinksTarget) {
  WriteFile(At("plain.txt"), std::string(5000, 'p'));
  ASSERT_EQ(0, RunTool("compress plain.txt packed.cmp", dir_.string()).exit_code);
  std::string packed = ReadFile(At("packed.cmp"));
  WriteFile(At("truncated.cmp"), packed.substr(0, packed.size() / 2));
  WriteFile(At("out.txt"), "other data");
  fs::create_directory(dir_ / "somedir");

  ToolRun r = RunTool("decompress truncated.cmp out.txt", dir_.string());
  EXPECT_EQ(1, r.exit_code);
  EXPECT_EQ("other data", ReadFile(At("out.txt")));
  r = RunTool("compress somedir out.txt", dir_.string());
  EXPECT_EQ(1, r.exit_code);
  EXPECT_EQ("other data", ReadFile(At("out.txt")));

  // A link as output: its target is never half-written, and a success
  // replaces the target, not the link.
  WriteFile(At("target.txt"), "target data");
  fs::create_symlink("target.txt", dir_ / "link.txt");
  r = RunTool("decompress truncated.cmp link.txt", dir_.string());
  EXPECT_EQ(1, r.exit_code);
  EXPECT_EQ("target data", ReadFile(At("target.txt")));
  ASSERT_EQ(0, RunTool("decompress packed.cmp link.txt", dir_.string()).exit_code);
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.txt"));
  EXPECT_EQ(std::string(5000, 'p'), ReadFile(At("target.txt")));

  // An existing output's permissions survive its replacement.
  fs::permissions(dir_ / "out.txt", fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(0, RunTool("decompress packed.cmp out.txt", dir_.string()).exit_code);
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write,
            fs::status(dir_ / "out.txt").permissions());

  // A device is written directly.
  EXPECT_EQ(0, RunTool("decompress packed.cmp /dev/null", dir_.string()).exit_code);
  EXPECT_EQ((std::vector<std::string>{}),
            Leftovers({"plain.txt", "packed.cmp", "truncated.cmp", "out.txt", "somedir",
                       "target.txt", "link.txt"}));
}

// --- 2, 3. Data files are regular files of bounded size -------------------

std::string OneDeviceProject(const std::string& conversion, const std::string& data_file,
                             const std::string& output = "out.cfg") {
  return "<download_project><FirmwarePackageFilename>" + output +
         "</FirmwarePackageFilename><System2><Key>K</Key></System2><Device><Configuration>"
         "<Name>Main</Name></Configuration><Conversion><ConversionType>" +
         conversion + "</ConversionType><DataFilename>" + data_file +
         "</DataFilename></Conversion></Device></download_project>";
}

TEST_F(HardeningTest, DataFileThatIsNoRegularFileOrTooLargeIsRefusedAtOnce) {
  fs::create_directory(dir_ / "folder");
  ASSERT_EQ(0, mkfifo(At("pipe").c_str(), 0600));
  WriteFile(At("huge.bin"), "");
  fs::resize_file(dir_ / "huge.bin", kMaxDataFileBytes + 1);  // sparse
  const struct {
    const char* data_file;
    const char* why;
  } files[] = {
      {"folder", "not a regular file"},
      {"pipe", "not a regular file"},
      {"../../../../../../../../dev/zero", "not a regular file"},
      {"huge.bin", "too large"},
      {"missing.bin", "no such file"},
  };
  ConfigurationBuilder builder;
  for (const char* conversion : {"File", "SRECXML", "SRECToBrekXML"}) {
    for (const auto& f : files) {
      SCOPED_TRACE(std::string(conversion) + " " + f.data_file);
      WriteFile(At("p.xml"), OneDeviceProject(conversion, f.data_file));
      WriteFile(At("out.cfg"), "previous");
      Clock::time_point start = Clock::now();
      EXPECT_EQ(kSrecFileError, builder.Build(At("p.xml")));
      EXPECT_LT(SecondsSince(start), 5.0);
      EXPECT_NE(std::string::npos, builder.FailureDetail().find(f.why)) << builder.FailureDetail();
      EXPECT_NE(std::string::npos, builder.FailureDetail().find(f.data_file));
      EXPECT_EQ("previous", ReadFile(At("out.cfg")));
    }
  }
  // The readers themselves refuse such files too, whoever calls them.
  std::string why;
  EXPECT_EQ(nullptr, OpenDataFile("/dev/zero", &why));
  EXPECT_EQ(nullptr, OpenDataFile(At("pipe"), &why));
  SrecToBrekConverter converter;
  std::string range;
  EXPECT_EQ(kSrecFileError,
            ConvertSrecToBrek(converter, "/dev/zero", nullptr, range, At("b"), At("f")));
  AddressRangeSelection all{"00000000", ""};
  EXPECT_EQ(kSrecFileError,
            ConvertSrecToBrek(converter, At("pipe"), &all, range, At("b"), At("f")));
  EXPECT_EQ((std::vector<std::string>{}),
            Leftovers({"folder", "pipe", "huge.bin", "p.xml", "out.cfg"}));
}

// --- 4. No entity declarations in any document we parse --------------------

std::string NestedEntities(const std::string& root, const std::string& inner) {
  // Four levels of ten references each over a 1 KiB text: 10 MiB from about
  // 11,000 expansions, well under the parser's count limit (and the issue's
  // 20 KB file reached 1.75 GB that way).
  std::string doctype = "<!DOCTYPE " + root + " [<!ENTITY e0 \"" + std::string(1024, 'x') + "\">";
  for (int i = 1; i <= 4; ++i) {
    doctype += "<!ENTITY e" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) doctype += "&e" + std::to_string(i - 1) + ";";
    doctype += "\">";
  }
  return doctype + "]><" + root + ">" + inner + "</" + root + ">";
}

TEST_F(HardeningTest, EntityDeclarationsAreRefusedInEveryDocument) {
  Clock::time_point start = Clock::now();
  WriteFile(At("keys.xml"), NestedEntities("download_keys", "<Device Key=\"&e4;\"/>"));
  KeyDocument keys;
  ASSERT_EQ(0, keys.Open(At("keys.xml"), false));  // opens without content
  EXPECT_EQ(kKeyNotFound, keys.SelectDevice("x"));
  EXPECT_EQ(kKeyNotFound, keys.Close(true));  // and writes nothing
  EXPECT_EQ(NestedEntities("download_keys", "<Device Key=\"&e4;\"/>"), ReadFile(At("keys.xml")));

  WriteFile(At("p.xml"), NestedEntities("download_project", "<A>&e4;</A>"));
  ProjectDocument project;
  EXPECT_EQ(kProjectXmlException, project.OpenProjectDocument(At("p.xml")));

  WriteFile(At("plain.xml"), NestedEntities("download_configuration", "<Header a='&e4;'/>"));
  SplayCompressor compressor;
  ASSERT_EQ(0, compressor.Compress(At("plain.xml"), At("c.cfg")));
  ConfigDocument config;
  EXPECT_EQ(kConfigXmlException, config.Load(At("c.cfg")));

  // A parameter entity is a declaration too.
  WriteFile(At("p.xml"), "<!DOCTYPE download_project [<!ENTITY % p \"<!ENTITY a 'b'>\"> %p;]>"
                         "<download_project/>");
  EXPECT_EQ(kProjectXmlException, project.OpenProjectDocument(At("p.xml")));
  EXPECT_LT(SecondsSince(start), 10.0);
}

// --- 5. A key file's values read back exactly, whatever its encoding -------

TEST_F(HardeningTest, KeyValuesOutsideTheDeclaredEncodingReadBack) {
  const std::string value = "a\xE4\xB8\xAD" "b]]>\xC3\xA9";  // a, U+4E2D, b, "]]>", e-acute
  WriteFile(At("keys.xml"),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<download_keys/>\n");
  KeyDocument keys;
  ASSERT_EQ(0, keys.Open(At("keys.xml"), false));
  ASSERT_EQ(0, keys.AddKeyDevice());
  ASSERT_EQ(0, keys.SetDeviceKey(0, "DEV\xE4\xB8\xAD"));
  ASSERT_EQ(0, keys.AddKeySignature(0));
  ASSERT_EQ(0, keys.SetKeyUserAccess(0, 0, 1, kAccessRule));
  ASSERT_EQ(0, keys.AddKeyUserRule(0, 0, 1, kRuleString, 0, value, "n\xE4\xB8\xAD", 0, 0));
  ASSERT_EQ(0, keys.Close(true));

  ASSERT_EQ(0, keys.Open(At("keys.xml"), false));
  ASSERT_EQ(0, keys.SelectDevice("DEV\xE4\xB8\xAD"));
  ASSERT_EQ(0, keys.SelectSignature(0));
  std::vector<std::string> values;
  std::string name;
  int type = -1, datatype = -1, op = -1;
  uint32_t index = 0;
  ASSERT_EQ(0, keys.GetRule(1, 0, values, name, type, index, datatype, op));
  EXPECT_EQ(std::vector<std::string>{value}, values);
  EXPECT_EQ("n\xE4\xB8\xAD", name);
  EXPECT_EQ(0, keys.Close(false));
}

// --- 6. A record without data adds no block --------------------------------

TEST_F(HardeningTest, ZeroLengthRecordAddsNoBlockAndNoRange) {
  WriteFile(At("in.s19"), "S3054252454BD6\nS3090000100044415441CC\nS70500000000FA\n");
  SrecToBrekConverter converter;
  std::string range;
  ASSERT_EQ(0, ConvertSrecToBrek(converter, At("in.s19"), nullptr, range, At("out.brek")));
  EXPECT_EQ("00001000-00001004", range);
  std::string error;
  std::string bytes = ReadFile(At("out.brek"));
  std::vector<srectest::Block> blocks =
      srectest::ReadBlocks(std::vector<uint8_t>(bytes.begin(), bytes.end()), error);
  EXPECT_EQ("", error);
  ASSERT_EQ(1u, blocks.size());
  EXPECT_EQ(0x1000u, blocks[0].address);
  EXPECT_EQ((std::vector<uint8_t>{'D', 'A', 'T', 'A'}), blocks[0].data);
  // Between two contiguous records it does not split their block either.
  WriteFile(At("in.s19"), srectest::Record('3', 0x1000, {1, 2}) + "\n" +
                              srectest::Record('3', 0x5000, {}) + "\n" +
                              srectest::Record('3', 0x1002, {3}) + "\nS70500000000FA\n");
  ASSERT_EQ(0, ConvertSrecToBrek(converter, At("in.s19"), nullptr, range, At("out.brek")));
  EXPECT_EQ("00001000-00001003", range);
  bytes = ReadFile(At("out.brek"));
  blocks = srectest::ReadBlocks(std::vector<uint8_t>(bytes.begin(), bytes.end()), error);
  ASSERT_EQ(1u, blocks.size());
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), blocks[0].data);
}

// --- 7. A build never writes over its project or a data file ---------------

TEST_F(HardeningTest, BuildRefusesAnOutputThatIsTheProjectOrADataFile) {
  WriteFile(At("raw.bin"), "firmware");
  ConfigurationBuilder builder;
  const std::string over_project = OneDeviceProject("File", "raw.bin", "p.xml");
  WriteFile(At("p.xml"), over_project);
  EXPECT_EQ(kBuildOutputFailed, builder.Build(At("p.xml")));
  EXPECT_NE(std::string::npos, builder.FailureDetail().find("is the project file"));
  EXPECT_EQ(over_project, ReadFile(At("p.xml")));

  WriteFile(At("p.xml"), OneDeviceProject("File", "raw.bin", "raw.bin"));
  EXPECT_EQ(kBuildOutputFailed, builder.Build(At("p.xml")));
  EXPECT_NE(std::string::npos, builder.FailureDetail().find("is the DataFilename"));
  EXPECT_EQ("firmware", ReadFile(At("raw.bin")));

  // Through a link as well; the tool names the reason.
  fs::create_symlink("raw.bin", dir_ / "link.cfg");
  WriteFile(At("p.xml"), OneDeviceProject("File", "raw.bin", "link.cfg"));
  ToolRun r = RunTool("build p.xml", dir_.string());
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find("error -91")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("is the DataFilename")) << r.err;
  EXPECT_EQ("firmware", ReadFile(At("raw.bin")));
  EXPECT_EQ((std::vector<std::string>{}), Leftovers({"raw.bin", "p.xml", "link.cfg"}));
}

// --- 8. The tool removes its temporary files when it is stopped ------------

TEST_F(HardeningTest, GuardedFilesGoOnTerminationSignals) {
  {
    TempFileGuard guard(At("guarded.tmp"));
    WriteFile(guard.path(), "x");
    RemoveGuardedFilesInSignalHandler();
    EXPECT_FALSE(fs::exists(guard.path()));
  }
  // The tool, held while it opens a pipe as its input, has created the file
  // that is to replace its output.
  ASSERT_EQ(0, mkfifo(At("pipe").c_str(), 0600));
  for (int signal_number : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal_number);
    std::string out = At("out.cmp");
    const char* argv[] = {KORVO_TOOL, "compress", nullptr, nullptr, nullptr};
    std::string in = At("pipe");
    argv[2] = in.c_str();
    argv[3] = out.c_str();
    pid_t pid = 0;
    ASSERT_EQ(0, posix_spawn(&pid, KORVO_TOOL, nullptr, nullptr, const_cast<char**>(argv),
                             environ));
    Clock::time_point start = Clock::now();
    while (Leftovers({"pipe"}).empty() && SecondsSince(start) < 20)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(1u, Leftovers({"pipe"}).size());
    kill(pid, signal_number);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ((std::vector<std::string>{}), Leftovers({"pipe"}));
  }
}

}  // namespace
}  // namespace korvo

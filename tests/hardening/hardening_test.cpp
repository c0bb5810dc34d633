// Reproducers of mended faults: lost or damaged data, and input that could
// exhaust the machine; the korvo tool's faults are rows of one table.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "config/config_document.h"
#include "config/configuration_builder.h"
#include "config/data_file.h"
#include "config/project_document.h"
#include "config/srec_converter.h"
#include "config/srec_test_util.h"
#include "config/temp_files.h"
#include "keys/key_document.h"
#include "support/files.h"
#include "support/tool_run.h"

extern char** environ;

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::ToolRun;
using test_support::WriteFile;

class HardeningTest : public test_support::ToolTest {
 protected:
  // Every regular file's bytes and every other entry's kind.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      const std::string name = entry.path().filename().string();
      if (entry.is_symlink())
        files[name] = "link to " + fs::read_symlink(entry.path()).string();
      else
        files[name] = entry.is_regular_file() ? ReadFile(entry.path().string()) : "not a file";
    }
    return files;
  }
};

std::string Project(const std::string& conversion, const std::string& data_file,
                    const std::string& output = "out.cfg") {
  return "<download_project><FirmwarePackageFilename>" + output +
         "</FirmwarePackageFilename><System2><Key>K</Key></System2><Device><Configuration>"
         "<Name>Main</Name></Configuration><Conversion><ConversionType>" +
         conversion + "</ConversionType><DataFilename>" + data_file +
         "</DataFilename></Conversion></Device></download_project>";
}

// A failed run never writes over its input, an existing output, a link's
// target, the project or its data file, and it reports in one line.
TEST_F(HardeningTest, EveryToolFaultGivesItsCodeAndLeavesEveryFileAsItWas) {
  const std::string srec = "S00600004844521B\nS3090000100044415441CC\nS70500000000FA\n";
  // The cause first, then the code.
  auto build_error = [](int code, const std::string& detail) {
    return "korvo build: p.xml: " + detail + "; error " + std::to_string(code) + ": " +
           BuildResultText(code) + "\n";
  };
  // p.xml, the tool's arguments, in standard error (exit code 1), --json's error object.
  const struct { std::string project, args, message, error = ""; } rows[] = {
      {"", "compress plain.txt /dev/full", "/dev/full: write error"},
      {"", "compress plain.txt ./folder/../plain.txt", "output is the input file"},
      {"", "compress folder out", "folder: not a regular file"},
      {"", "compress /dev/zero out", "/dev/zero: not a regular file"},
      {"", "compress none.txt out", "none.txt: cannot open input"},
      {"", "compress plain.txt none/out", "none/out: cannot create output"},
      {"", "compress plain.txt folder", "folder: cannot create output"},
      {"", "decompress truncated.cmp out", "truncated.cmp: truncated"},
      {"", "decompress truncated.cmp link.cfg", "truncated.cmp: truncated"},
      {"", "decompress garbage.bin out", "garbage.bin: not a compressed file"},
      {"", "decompress empty.bin out", "empty.bin: not a compressed file"},
      {"", "decompress none.cmp out", "none.cmp: cannot open input"},
      {"", "decompress folder out", "folder: not a compressed"},
      {"", "decompress packed.cmp /dev/full", "/dev/full: write error"},
      {"", "decompress packed.cmp packed.cmp", "output is the input file"},
      {"", "inspect folder", "folder: not compressed and not well-formed XML"},
      {"", "inspect none.cfg", "korvo: none.cfg: cannot open file\n"},
      {"", "inspect plain.xml", "plain.xml: not compressed (configuration files are stored"},
      {"", "inspect garbage.bin",
       "garbage.bin: not compressed and not well-formed XML: line 1, column 1: invalid document"},
      {"", "inspect packed.cmp", "packed.cmp: decompressed content is not well-formed XML: line 1,"
                                 " column 1: invalid document structure\n"},
      {"", "inspect truncated.cmp", "truncated.cmp: cannot decompress (damaged or truncated)"},
      {Project("File", "fw.s19"), "inspect p.xml",
       "p.xml: not a configuration file (root element 'download_project')"},
      {"", "build none.xml", "none.xml: cannot open the project file"},
      {Project("SRECToBrekXML", "truncated.s19"), "build p.xml",
       build_error(-48, "device 0: truncated.s19: line 3: the file ends inside a record")},
      {Project("SRECToBrekXML", "truncated.s19"), "build --json p.xml",
       build_error(-48, "device 0: truncated.s19: line 3: the file ends inside a record"),
       nlohmann::json{{"code", -48}, {"text", BuildResultText(-48)},
                      {"device", {{"number", 1}, {"index", 0}}},
                      {"file", "truncated.s19"}, {"line", 3}, {"column", nullptr},
                      {"message", "device 0: truncated.s19: line 3: the file ends inside a record;"
                                  " error -48: " + std::string(BuildResultText(-48))}}
           .dump()},
      // Formats taken for S-records are named, with how to convert them.
      {Project("SRECToBrekXML", "fw.hex"), "build p.xml",
       "device 0: fw.hex: line 1: unexpected ':' where a record should start: this is an Intel"
       " HEX file, not S-records; convert it with objcopy -I ihex -O srec IN OUT.s19 (or"
       " srec_cat IN -intel -o OUT.s19 -motorola -disable=data-count -execution-start-address"
       " ADDRESS); error -48"},
      {Project("SRECToBrekXML", "fw.elf"), "build p.xml",
       "device 0: fw.elf: line 1: unexpected byte 7F where a record should start: this is an ELF"
       " file, not S-records; convert it with objcopy -O srec IN OUT.s19; error -48"},
      {Project("SRECToBrekXML", "no-end.s19"), "build p.xml",
       "no-end.s19: no end record (S7, S8 or S9) before the end of the file; srec_cat writes none"
       " when its input has no execution start address: give it one with"
       " -execution-start-address ADDRESS; error -48"},
      {Project("Bin", "fw.s19"), "build p.xml",
       build_error(-52, "device 0: ConversionType \"Bin\" is none of SRECToBrekXML,"
                        " SRECToBrekBinXML, SRECXML and File")},
      {Project("SRECXML", "../../../../../../../dev/zero"), "build p.xml",
       build_error(-42, "device 0: ../../../../../../../dev/zero: not a regular file (a folder, a"
                        " device or a pipe)")},
      // The place in the project itself.
      {Project("File", "fw.s19").substr(0, 80), "build --json p.xml",
       "korvo build: p.xml: line 1, column 81: unexpected end of input; error -65: " +
           std::string(BuildResultText(-65)),
       nlohmann::json{{"code", -65}, {"text", BuildResultText(-65)}, {"device", nullptr},
                      {"file", "p.xml"}, {"line", 1}, {"column", 81},
                      {"message", "p.xml: line 1, column 81: unexpected end of input; error -65: " +
                                      std::string(BuildResultText(-65))}}
           .dump()},
      {Project("File", "fw.s19", "p.xml"), "build p.xml",
       build_error(-91, "the FirmwarePackageFilename p.xml is the project file")},
      {Project("File", "fw.s19", "fw.s19"), "build p.xml",
       build_error(-91, "device 0: the FirmwarePackageFilename fw.s19 is the DataFilename")},
      {Project("File", "fw.s19", "link.cfg"), "build p.xml",
       build_error(-91, "device 0: the FirmwarePackageFilename link.cfg is the DataFilename")},
      {Project("File", "fw.s19", "full.cfg"), "build p.xml", build_error(-91, "full.cfg")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args + ": " + row.message);
    Fresh();
    fs::create_directory(dir_ / "folder");
    WriteFile(At("plain.txt"), std::string(3000, 't') + "\n");
    ASSERT_EQ(0, Run("compress plain.txt packed.cmp").exit_code);
    const std::string packed = ReadFile(At("packed.cmp"));
    for (const auto& [name, bytes] : std::map<std::string, std::string>{
             {"truncated.cmp", packed.substr(0, packed.size() / 2)}, {"empty.bin", ""},
             {"garbage.bin", "\x01 garbage \xFE"}, {"plain.xml", "<download_configuration/>"},
             {"out", "previous output"}, {"out.cfg", "previous output"}, {"fw.s19", srec},
             {"truncated.s19", srec.substr(0, srec.size() - 8)}, {"p.xml", row.project},
             {"no-end.s19", srec.substr(0, srec.find("S7"))},
             {"fw.hex", ":0400100001020304E2\n:00000001FF\n"}, {"fw.elf", "\x7F" "ELF\x01\x01"}})
      WriteFile(At(name), bytes);
    fs::create_symlink("/dev/full", dir_ / "full.cfg");
    fs::create_symlink("fw.s19", dir_ / "link.cfg");
    const auto before = Snapshot();
    ToolRun r = Run(row.args);
    EXPECT_EQ(1, r.exit_code) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(row.message)) << r.err;
    EXPECT_EQ(r.err.size(), r.err.find('\n') + 1) << r.err;  // one line
    if (row.error.empty())
      EXPECT_EQ("", r.out);
    else
      EXPECT_EQ(row.error, nlohmann::json::parse(r.out).at("error").dump()) << r.out;
    EXPECT_EQ(before, Snapshot());  // nothing changed, nothing left behind
  }
}

// A successful run replaces a link's target (the link stays) keeping its
// permissions, and writes a device directly.
TEST_F(HardeningTest, ToolOutputReplacesALinksTargetKeepsPermissionsAndWritesDevices) {
  WriteFile(At("plain.txt"), std::string(5000, 'p'));
  ASSERT_EQ(0, Run("compress plain.txt packed.cmp").exit_code);
  WriteFile(At("target.txt"), "target data");
  const fs::perms read_write = fs::perms::owner_read | fs::perms::owner_write;
  fs::permissions(dir_ / "target.txt", read_write);
  fs::create_symlink("target.txt", dir_ / "link.txt");
  ASSERT_EQ(0, Run("decompress packed.cmp link.txt").exit_code);
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.txt"));
  EXPECT_EQ(std::string(5000, 'p'), ReadFile(At("target.txt")));
  EXPECT_EQ(read_write, fs::status(dir_ / "target.txt").permissions());
  EXPECT_EQ(0, Run("decompress packed.cmp /dev/null").exit_code);
  EXPECT_EQ((std::set<std::string>{"plain.txt", "packed.cmp", "target.txt", "link.txt"}), Names());
}

// Data files are regular files of bounded size: anything else is refused
// before it is read, with the file and the reason.
TEST_F(HardeningTest, DataFileThatIsNoRegularFileOrTooLargeIsRefusedAtOnce) {
  fs::create_directory(dir_ / "folder");
  ASSERT_EQ(0, mkfifo(At("pipe").c_str(), 0600));
  WriteFile(At("huge.bin"), "");
  fs::resize_file(dir_ / "huge.bin", kMaxImageBytes + 1);  // sparse
  const std::pair<std::string, std::string> files[] = {  // and why each is refused
      {"folder", "not a regular file"}, {"pipe", "not a regular file"},
      {"../../../../../../../../dev/zero", "not a regular file"}, {"huge.bin", "too large"},
      {"missing.bin", "no such file"}};
  ConfigurationBuilder builder;
  for (const std::string conversion : {"File", "SRECXML", "SRECToBrekXML"}) {
    for (auto [file, why] : files) {
      SCOPED_TRACE(conversion + " " + file);
      WriteFile(At("p.xml"), Project(conversion, file));
      WriteFile(At("out.cfg"), "previous");
      // S-record text is no image: its records are, and these are none.
      const bool text = conversion == "SRECToBrekXML" && file == "huge.bin";
      if (text) why = "unexpected byte 00";
      EXPECT_EQ(text ? kSrecConversionFailed : kSrecFileError, builder.Build(At("p.xml")));
      EXPECT_NE(std::string::npos, builder.FailureDetail().find(why)) << builder.FailureDetail();
      EXPECT_NE(std::string::npos, builder.FailureDetail().find(file));
      EXPECT_EQ("previous", ReadFile(At("out.cfg")));
    }
  }
  // Two images of the largest size are more than one configuration a download
  // reads can hold.
  fs::resize_file(dir_ / "huge.bin", kMaxImageBytes);
  std::string two = Project("SRECXML", "huge.bin");
  const size_t device = two.find("<Device>");
  two.insert(device, two.substr(device, two.find("</Device>") + 9 - device));
  WriteFile(At("p.xml"), two);
  EXPECT_EQ(kSrecFileError, builder.Build(At("p.xml")));
  EXPECT_EQ(0u, builder.FailureDetail().find("the devices' images are too large together: their"
                                             " Base64 text alone would be 727758354 bytes"))
      << builder.FailureDetail();
  EXPECT_EQ(8u, fs::file_size(dir_ / "out.cfg"));  // "previous", and no diff of a huge one
  // The readers themselves refuse such files too, whoever calls them.
  SrecToBrekConverter converter;
  std::string range;
  EXPECT_EQ(kSrecFileError,
            ConvertSrecToBrek(converter, "/dev/zero", nullptr, range, At("b"), At("f")));
  AddressRangeSelection all{"00000000", ""};
  EXPECT_EQ(kSrecFileError,
            ConvertSrecToBrek(converter, At("pipe"), &all, range, At("b"), At("f")));
  EXPECT_EQ((std::set<std::string>{"folder", "pipe", "huge.bin", "p.xml", "out.cfg"}), Names());
}

// Nested declarations would let a small file expand into gigabytes: any is refused.
std::string WithEntity(const std::string& root, const std::string& inner) {
  return "<!DOCTYPE " + root + " [<!ENTITY e \"x\">]><" + root + ">" + inner + "</" + root + ">";
}

// Each document keeps why it did not load, naming the file the caller gave.
void ExpectEntityRefused(const XmlDiagnostic& why, const std::string& file, int column) {
  EXPECT_EQ(file + ": line 1, column " + std::to_string(column) + ": the document type declares"
            " the entity 'e', and entity declarations are refused", why.Text());
}

TEST_F(HardeningTest, EntityDeclarationsAreRefusedInEveryDocument) {
  WriteFile(At("keys.xml"), WithEntity("download_keys", "<Device Key=\"&e;\"/>"));
  KeyDocument keys;
  ASSERT_EQ(0, keys.Open(At("keys.xml"), false));  // opens without content
  ExpectEntityRefused(keys.LoadDiagnostic(), At("keys.xml"), 41);
  EXPECT_EQ(kKeyNotFound, keys.SelectDevice("x"));
  EXPECT_EQ(kKeyNotFound, keys.Close(true));  // and writes nothing
  EXPECT_EQ(WithEntity("download_keys", "<Device Key=\"&e;\"/>"), ReadFile(At("keys.xml")));

  WriteFile(At("p.xml"), WithEntity("download_project", "<A>&e;</A>"));
  ProjectDocument project;
  EXPECT_EQ(kProjectXmlException, project.OpenProjectDocument(At("p.xml")));
  ExpectEntityRefused(project.LoadDiagnostic(), At("p.xml"), 44);

  WriteFile(At("plain.xml"), WithEntity("download_configuration", "<Header a='&e;'/>"));
  SplayCompressor compressor;
  ASSERT_EQ(0, compressor.Compress(At("plain.xml"), At("c.cfg")));
  ConfigDocument config;
  EXPECT_EQ(kConfigXmlException, config.Load(At("c.cfg")));
  ExpectEntityRefused(config.LoadDiagnostic(), At("c.cfg"), 50);

  // A parameter entity is a declaration too.
  WriteFile(At("p.xml"), "<!DOCTYPE download_project [<!ENTITY % p \"<!ENTITY a 'b'>\"> %p;]>"
                         "<download_project/>");
  EXPECT_EQ(kProjectXmlException, project.OpenProjectDocument(At("p.xml")));
}

TEST_F(HardeningTest, ZeroLengthRecordAddsNoBlockAndNoRange) {
  SrecToBrekConverter converter;
  std::string range, error;
  auto data = [&](const std::string& srec) {  // of the only block
    WriteFile(At("in.s19"), srec + "S70500000000FA\n");
    EXPECT_EQ(0, ConvertSrecToBrek(converter, At("in.s19"), nullptr, range, At("out.brek")));
    auto blocks = srectest::ReadBlocks(ReadFile(At("out.brek")), error);
    EXPECT_EQ("", error);
    EXPECT_EQ(1u, blocks.size());
    return blocks.empty() ? std::vector<uint8_t>() : blocks[0].data;
  };
  EXPECT_EQ((std::vector<uint8_t>{'D', 'A', 'T', 'A'}),
            data("S3054252454BD6\nS3090000100044415441CC\n"));
  EXPECT_EQ("00001000-00001004", range);
  // Between two contiguous records it does not split their block either.
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}),
            data(srectest::Record('3', 0x1000, {1, 2}) + "\n" + srectest::Record('3', 0x5000, {}) +
                 "\n" + srectest::Record('3', 0x1002, {3}) + "\n"));
  EXPECT_EQ("00001000-00001003", range);
}

// A document that is there but cannot be read is refused, never taken for a
// missing file that a save then writes over.
TEST_F(HardeningTest, UnreadableDocumentIsRefusedAndSurvivesASaveAttempt) {
  for (const bool project : {true, false}) {
    SCOPED_TRACE(project ? "project" : "key file");
    auto open_and_save = [project](const std::string& path) {  // the open's code
      ProjectDocument p;
      KeyDocument k;
      const int rc = project ? p.OpenProjectDocument(path) : k.Open(path, false);
      if (rc == 0) project ? p.CloseProjectDocument(true) : k.Close(true);
      return rc;
    };
    const int refused = project ? kProjectXmlException : kKeyXmlException;
    Fresh();
    WriteFile(At("write-only.xml"), "<keep>me</keep>");
    ::chmod(At("write-only.xml").c_str(), 0200);
    // Permissions as an ordinary user has them, also when the tests run as
    // root (changing the file-system uid drops root's override).
    const uid_t before = setfsuid(65534);
    EXPECT_EQ(refused, open_and_save(At("write-only.xml")));
    setfsuid(before);
    EXPECT_EQ("<keep>me</keep>", ReadFile(At("write-only.xml")));
    fs::create_symlink("loop-b.xml", dir_ / "loop-a.xml");
    fs::create_symlink("loop-a.xml", dir_ / "loop-b.xml");
    EXPECT_EQ(refused, open_and_save(At("loop-a.xml")));
    EXPECT_TRUE(fs::is_symlink(dir_ / "loop-a.xml"));
  }
}

TEST_F(HardeningTest, GuardedFilesGoOnTerminationSignals) {
  TempFileGuard guard;
  ASSERT_TRUE(guard.Create("KORVO_GUARD_TEST"));
  RemoveGuardedFilesInSignalHandler();
  EXPECT_FALSE(fs::exists(guard.path()));
  // The tool, busy with a large input, has created the file that is to
  // replace its output.
  std::string noise(24 << 20, '\0');
  uint32_t seed = 26;
  for (char& c : noise) c = char((seed = seed * 1103515245u + 12345u) >> 24);
  WriteFile(At("in.bin"), noise);
  const std::string in = At("in.bin"), out = At("out.cmp");
  const char* argv[] = {KORVO_TOOL, "compress", in.c_str(), out.c_str(), nullptr};
  // The tool keeps a signal ignored that it was started with ignored.
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) signal(signal_number, SIG_DFL);
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    pid_t pid = 0;
    ASSERT_EQ(0, posix_spawn(&pid, KORVO_TOOL, nullptr, nullptr, const_cast<char**>(argv),
                             environ));
    for (int wait = 0; wait < 2000 && Names().size() < 2; ++wait) usleep(10000);
    EXPECT_EQ(2u, Names().size());
    kill(pid, signal_number);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(std::set<std::string>{"in.bin"}, Names());
  }
}

}  // namespace
}  // namespace korvo

// The executor on the Java channel with a device answering in-process, and the plain exports;
// downloads with real data run through the real JVM in java/test/download.
#include "download/download_executor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <string>

#include "config/base64_stream.h"
#include "config/config_document.h"
#include "config/crc32.h"
#include "config/splay_compressor.h"
#include "interface/download_manager.h"
#include "interface/exports.h"
#include "keys/key_document.h"
#include "platform/system.h"
#include "support/answering_host.h"
#include "support/files.h"

namespace korvo {
namespace {

// Answers every command at once through the executor; `command` gets `reply`
// instead (null: silence).
class Device final : public test_support::AnsweringHost {
 public:
  DownloadExecutor* executor = nullptr;
  std::string command;
  const char* reply = nullptr;
  std::string sent;  // the commands' names
  int polls = 0;     // of the storing status

 private:
  int Answer(const char* kind, const std::string& name) override {
    sent += (sent.empty() ? "" : " ") + name;
    // "alternate": storing between 50 and 51 %, for a thousand polls.
    const bool alternate = reply && std::string(reply) == "alternate" && name == command;
    if (alternate) ++polls;
    Reply(kind, name,
          alternate         ? (polls % 2 || polls > 1000 ? " 33" : " 32")
          : name == command ? reply
                            : UsualReply(name));
    return 0;
  }
  void Deliver(const char* kind, const std::string& name, uint8_t* bytes, int count) override {
    executor->DeliverAnswer(kind, name, bytes, count);
  }
};

// Device: its DATA_TYPE, "partial" for a partial download, "quiet" without log; the tail of the
// commands sent and a piece of the download's report.
struct Row {
  const char *command, *reply, *device; int only_device, result, device_error; std::string tail;
  const char* report = "";
};

// Logged, aborted and rebooted after `command`.
std::string Aborted(const std::string& command) {
  return command + " mFDlogwrite mFDabrtdwnld mSCsoftreset";
}

// A command left unanswered ends the download with its code, aborted and rebooted where
// it had started.
const Row kRows[] = {
    // Opening never fails; a device that stores at once is asked once.
    {"MStrace", nullptr, "FILE", -1, 0, 0,
     "mFDexedwnld mFDstadwnld mFDfindwnld mFDlogwrite mFDfindwnld mSCsoftreset"},
    // The report keeps what the device did at the failing step.
    {"GetAccessMode", nullptr, "FILE", -1, kExecuteAccessRefused, -1, "MStrace GetAccessMode",
     "\"answer\": \"silent\""},
    {"mFDsrt2ndstgldr", nullptr, "FILE", -1, kExecuteNoSecondLoader, -1,
     "GetAccessMode mFDsrt2ndstgldr"},
    {"mFDlogwrite", nullptr, "FILE", -1, kExecuteLogFailed, -1,
     "mFDsrt2ndstgldr " + Aborted("mFDlogwrite")},
    {"mFDprgcfgdata", nullptr, "FILE", -1, kUpdateConfigDataFailed, -1, Aborted("mFDprgcfgdata")},
    {"mFDprgdata", nullptr, "FILE", -1, kUpdateTransferFailed, -1, Aborted("mFDprgdata")},
    {"mFDexedwnld", nullptr, "FILE", -1, kUpdateTransferFailed, -1, Aborted("mFDexedwnld")},
    {"mFDstadwnld", nullptr, "FILE", -1, kUpdateTransferFailed, -1,
     Aborted("mFDexedwnld mFDstadwnld")},
    {"mFDfindwnld", nullptr, "FILE", -1, kUpdateTransferFailed, -1,
     Aborted("mFDstadwnld mFDfindwnld")},
    // Storing that stays below 100 gives up after a while without progress.
    {"mFDstadwnld", " 2A", "FILE", -1, kUpdateTransferFailed, 42,
     Aborted("mFDstadwnld mFDstadwnld")},
    // Storing that changes without ever ending gives up after a while in all.
    {"mFDstadwnld", "alternate", "FILE", -1, kUpdateTransferFailed, 51,
     Aborted("mFDstadwnld mFDstadwnld")},
    // Only the block stream and S-records are sent part by part.
    {"", nullptr, "FILE partial", -1, kUpdateTransferFailed, -1, Aborted("mFDprgcfgdata")},
    // The Java channel never gives the line up to the boot loader.
    {"", nullptr, "BREKBIN partial", -1, kUpdateTransferFailed, -1, Aborted("mFDprgcfgdata")},
    {"", nullptr, "BIN quiet", -1, kUpdateUnknownDataType, -1,
     "mFDsrt2ndstgldr mFDprgcfgdata mFDabrtdwnld mSCsoftreset"},
    // Damaged data is refused before the second loader starts.
    {"", nullptr, "FILE damaged", -1, kUpdateTransferFailed, -1, "MStrace GetAccessMode",
     "\"reason\": \"damaged data: CRC-32 wrong: the payload says A3830348, its data give D48433DE"},
    {"", nullptr, "BREKBIN damaged", -1, kUpdateTransferFailed, -1, "MStrace GetAccessMode",
     "\"passed\": false,\n      \"code\": -12,\n      \"note\": \"check byte of the closing block wrong"},
    // Only a device the configuration does not have.
    {"", nullptr, "FILE", 1, kConfigMissing, -1, Aborted("mFDlogwrite mFDlogwrite")},
};

// Base64 of a whole payload: a "FILE" of "ABC", a lone closing block, or "ABC"; damaged in
// its last bit when asked.
std::string Payload(const std::string& type, bool damaged) {
  std::string bytes;
  if (type == "FILE") {
    const uint32_t crc = Crc32("ABC", 3);
    bytes = {char(crc >> 24), char(crc >> 16), char(crc >> 8), char(crc), 'A', 'B', 'C'};
  } else if (type == "BREKBIN") {
    bytes = {1, 0, 0, 0, 0, 'B', 'R', 'E', 'K', char(-('B' + 'R' + 'E' + 'K'))};
  } else {
    bytes = "ABC";
  }
  if (damaged) bytes.back() = char(bytes.back() ^ 1);
  std::string text;
  Base64Encoder encoder;
  encoder.Add(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), text);
  encoder.Finish(text);
  return text;
}

TEST(DownloadExecutorTest, DownloadsEndWithTheCodeOfTheFirstFailure) {
  KeyDocument keys;
  ASSERT_EQ(0, keys.Open("keys.xml", false) | keys.AddKeyDevice() | keys.SetDeviceKey(0, "K") |
                   keys.AddKeySignature(0) | keys.SetKeySignatureAttributes(0, 0, ".*", "") |
                   keys.SetKeyUserAccess(0, 0, 3, 0) | keys.Close(true) |
                   keys.Compress("keys.xml", "keys.key"));
  // No download writes through a link planted under its temporary files' names.
  test_support::PlantedLinks planted({kTempConfig, kTempKeyFile, kTempDownloadData});
  for (const Row& row : kRows) {
    const std::string data(row.device);
    SCOPED_TRACE("row " + std::to_string(&row - kRows) + ": " + data);
    const bool partial = data.find("partial") != std::string::npos;
    test_support::WriteFile(
        "download.xml",
        "<download_configuration><Header><System2><TavisDevice>true</TavisDevice>"
        "<NeededDownloaderVersion>2.3</NeededDownloaderVersion><Logging>" +
            std::string(data.find("quiet") == std::string::npos ? "true" : "false") +
            "</Logging><Key>K</Key></System2><Device><Name>D</Name><DATA_TYPE>" +
            data.substr(0, data.find(' ')) + "</DATA_TYPE>" +
            (partial ? "<PARTIAL_DOWNLOAD>true</PARTIAL_DOWNLOAD>" : "") +
            "<ADDRESS_RANGE>0-1</ADDRESS_RANGE><DEVICE_TYPE>APP</DEVICE_TYPE><X transparent="
            "\"true\">1</X></Device></Header><Data><Device>" +
            Payload(data.substr(0, data.find(' ')), data.find("damaged") != std::string::npos) +
            "</Device></Data></download_configuration>");
    ASSERT_EQ(0, SplayCompressor().Compress("download.xml", "download.cfg"));
    Device device;
    DownloadExecutor executor("Keta A", &device, ConnectionSettings{});
    device.executor = &executor;
    device.command = row.command;
    device.reply = row.reply;
    executor.set_answer_wait_limit_ms(30);
    executor.set_storing_policy(StoringPolicy{1, 30, 300});
    int device_error = 0, uploaded = -1;
    bool only_app = false;
    std::string info;
    EXPECT_EQ(row.result, executor.Execute("download.cfg", "keys.key", &device_error, -1,
                                           row.only_device, &only_app, &uploaded, &info));
    // Alternating storing stops at either of its values.
    EXPECT_EQ(row.device_error, device_error == 50 && device.polls ? 51 : device_error);
    EXPECT_THAT(device.sent, testing::EndsWith(row.tail));
    EXPECT_THAT(executor.report().ToJson(), testing::HasSubstr(row.report));
    EXPECT_LT(device.polls, 1000);
  }
  EXPECT_EQ("", planted.Damage());
  for (const char* f : {"download.xml", "download.cfg", "keys.xml", "keys.key"}) RemoveFile(f);
}

// Without a front end (no host) the executor asks nobody but its channels.
TEST(DownloadExecutorTest, ConnectLoginAndDownloadWithoutAFrontEnd) {
  DownloadExecutor e("Keta A", nullptr, ConnectionSettings{"/nonexistent/korvo-port", ""});
  e.set_answer_wait_limit_ms(1);
  e.set_use_java_channel(0);
  EXPECT_EQ(-1, e.LoginDevice("3", "secret")) << "the serial line does not open";
  EXPECT_EQ(nullptr, e.channel());
  EXPECT_EQ("", e.ConnectDevice());
  EXPECT_NE(nullptr, e.channel()) << "the Java channel stays though no device answered";
  EXPECT_EQ(1, e.use_java_channel());
  int device_error = 0, uploaded = -1;
  bool only_app = false;
  std::string info;
  EXPECT_EQ(kConfigFileError, e.Execute("/nonexistent/korvo.cfg", "", &device_error, -1, -1,
                                        &only_app, &uploaded, &info));
  EXPECT_EQ(-1, device_error);
  // The report says which file and why, and where the text broke.
  EXPECT_EQ(nlohmann::json({"/nonexistent/korvo.cfg: cannot be opened"}),
            nlohmann::json::parse(e.report().ToJson()).at("notes"));
  const std::string good = "<download_configuration><Header><System2><TavisDevice>true"
                           "</TavisDevice></System2><Device><Name>D</Name></Device></Header>"
                           "<Data><Device>QUJD</Device></Data></download_configuration>";
  const struct { std::string config, keys, note; } damaged[] = {
      {good.substr(0, 40), "<download_keys/>",
       "cut.cfg: line 1, column 41: unexpected end of input"},
      // A key file that does not parse opens empty, and the download goes on to fail on it.
      {good, "<download_keys>\n<Device>",
       "cut.key: line 2, column 9: input ended before all started tags were ended; last tag"
       " started is 'Device'"},
  };
  for (const auto& d : damaged) {
    test_support::WriteFile("cut.xml", d.config);
    test_support::WriteFile("cut-keys.xml", d.keys);
    ASSERT_EQ(0, SplayCompressor().Compress("cut.xml", "cut.cfg"));
    ASSERT_EQ(0, SplayCompressor().Compress("cut-keys.xml", "cut.key"));
    EXPECT_NE(0, e.Execute("cut.cfg", "cut.key", &device_error, -1, -1, &only_app, &uploaded,
                           &info));
    const auto notes = nlohmann::json::parse(e.report().ToJson()).at("notes");
    EXPECT_THAT(notes.get<std::vector<std::string>>(), testing::Contains(d.note));
  }
  for (const char* f : {"cut.xml", "cut-keys.xml", "cut.cfg", "cut.key"}) RemoveFile(f);
}

TEST(DownloadExecutorTest, PlainExportsReportMissingWorkWithoutTouchingOutputs) {
  EXPECT_LT(CreateConfigFile(nullptr), 0);
  int device_error = 77;
  SetDownloadMode(DownloadModeValue::kNormal);
  EXPECT_EQ(kConfigFileError, ExecuteFirstStageDownload("cfg", &device_error));
  EXPECT_EQ(-1, device_error);
  std::string report;
  ASSERT_EQ(0, GetLastReport(&report));
  EXPECT_EQ(nlohmann::json({"cfg: cannot be opened"}), nlohmann::json::parse(report).at("notes"));
  EXPECT_EQ(DownloadModeValue::kFirstStage, DownloadMode());
  EXPECT_LT(ExecuteDownload(nullptr, nullptr, &device_error, nullptr, nullptr, -1, -1, nullptr),
            0);
  EXPECT_EQ(-1, device_error) << "no device was handled";
  EXPECT_EQ(DownloadModeValue::kNormal, DownloadMode());
}

// No two codes share a text, and an unknown one has none.
TEST(DownloadExecutorTest, EveryResultCodeHasATextOfItsOwn) {
  std::set<std::string> texts;
  for (int code : {0, kExecuteFailed, kExecuteNoChannel, kExecuteAccessRefused,
                   kExecuteNoSecondLoader, kExecuteBusy, kUpdateConfigDataFailed, kUpdateUnknownDataType,
                   kUpdateTransferFailed, kExecuteFinishFailed, kExecuteLogFailed,
                   kExecuteBadVersion, kExecuteTooNew, -3})
    EXPECT_TRUE(texts.insert(ExecuteResultText(code)).second) << code;
  EXPECT_EQ(1u, texts.count(""));
}

}  // namespace
}  // namespace korvo

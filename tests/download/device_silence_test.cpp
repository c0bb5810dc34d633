// A device that falls silent at one command of a whole download: the
// download ends with that command's code, aborts and reboots where it had
// started, and leaves no temporary file (the test runner checks the folder).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/splay_compressor.h"
#include "download/download_executor.h"
#include "keys/key_document.h"
#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

// Answers every command at once through the executor, as a front end would
// from its reader thread, except the one it keeps silent about.
class Device final : public HostServices {
 public:
  DownloadExecutor* executor = nullptr;
  std::string silent;
  std::vector<std::string> sent;

  int SendMethodCall(const std::string& method, const uint8_t*, size_t) override {
    const char* reply = method == "GetAccessMode"     ? " 3"
                        : method == "mFDsrt2ndstgldr" ? " 7"
                        : method == "mFDstadwnld"     ? " 64"
                                                      : " 0";
    return Answer("AN", method, method == "mSCsoftreset" ? nullptr : reply);
  }
  int SendVariableRead(const std::string& variable) override {
    return Answer("RA", variable, " 0");
  }
  int SendEventRequest(const std::string& event, const uint8_t*, size_t) override {
    return Answer("EA", event, " 0");
  }
  bool CanReportStatus() const override { return false; }
  void ReportStatus(const std::string&, int) override {}
  int CleanUpInterface() override { return 0; }

 private:
  int Answer(const char* kind, const std::string& name, const char* reply) {
    sent.push_back(name);
    if (name == silent || !reply) return 0;
    size_t n = std::strlen(reply);
    uint8_t* bytes = new uint8_t[n];
    std::memcpy(bytes, reply, n);
    executor->DeliverAnswer(kind, name, bytes, int(n));
    return 0;
  }
};

struct Row {
  const char* silent;
  int result;
  bool aborted;
};

const Row kRows[] = {
    {"MStrace", 0, false},  // opening never fails
    {"GetAccessMode", kExecuteAccessRefused, false},
    {"mFDsrt2ndstgldr", kExecuteNoSecondLoader, false},
    {"mFDlogwrite", kExecuteLogFailed, true},
    {"mFDprgcfgdata", kUpdateConfigDataFailed, true},
    {"mFDprgdata", kUpdateTransferFailed, true},
    {"mFDexedwnld", kUpdateTransferFailed, true},
    {"mFDstadwnld", kUpdateTransferFailed, true},
    {"mFDfindwnld", kUpdateTransferFailed, true},
    {"mSCsoftreset", 0, false},  // a reboot is never waited for
};

TEST(DeviceSilence, EndsTheDownloadWithTheCommandsCode) {
  test_support::WriteFile(
      "silence.xml",
      "<download_configuration><Header><System2><TavisDevice>true</TavisDevice>"
      "<NeededDownloaderVersion>2.3</NeededDownloaderVersion><Logging>true</Logging>"
      "<Key>K</Key></System2><Device><Name>D</Name><DATA_TYPE>FILE</DATA_TYPE>"
      "<X transparent=\"true\">1</X></Device></Header><Data><Device>QUJD</Device></Data>"
      "</download_configuration>");
  ASSERT_EQ(0, SplayCompressor().Compress("silence.xml", "silence.cfg"));
  KeyDocument keys;
  ASSERT_EQ(0, keys.Open("keys.xml", false) | keys.AddKeyDevice() | keys.SetDeviceKey(0, "K") |
                   keys.AddKeySignature(0) | keys.SetKeySignatureAttributes(0, 0, ".*", "") |
                   keys.SetKeyUserAccess(0, 0, 3, 0) | keys.Close(true) |
                   keys.Compress("keys.xml", "keys.key"));

  for (const Row& row : kRows) {
    SCOPED_TRACE(row.silent);
    Device device;
    DownloadExecutor executor("Keta A", &device, ConnectionSettings{});
    executor.set_answer_wait_limit_ms(30);
    device.executor = &executor;
    device.silent = row.silent;
    int device_error = 0, uploaded = -1;
    bool only_app = false;
    std::string info;
    EXPECT_EQ(row.result, executor.Execute("silence.cfg", "keys.key", &device_error, -1, -1,
                                           &only_app, &uploaded, &info));
    std::string tail = device.sent.size() >= 2 ? device.sent[device.sent.size() - 2] : "";
    EXPECT_EQ(row.aborted, tail == "mFDabrtdwnld");
  }
  for (const char* f : {"silence.xml", "silence.cfg", "keys.xml", "keys.key"}) RemoveFile(f);
}

}  // namespace
}  // namespace korvo

#include "device/brek_bridge.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "config/temp_files.h"
#include "platform/system.h"
#include "sim/boot_device.h"
#include "support/files.h"

namespace korvo {
namespace {

using test_support::ReadFile;
using test_support::WriteFile;

class RecordingStatus final : public StatusReporter {
 public:
  bool CanReportStatus() const override { return true; }
  void ReportStatus(const std::string&, int percent) override { percents.push_back(percent); }
  std::vector<int> percents;
};

std::string Image(size_t count) {
  std::mt19937 random(5);
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; i += 3) bytes[i] = static_cast<char>(random());
  return bytes;  // zeros and 0xFF among the data, as in real images
}

class BrekBridgeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    RemoveFile(kData);
    RemoveFile(ProcessTempNames().download_log);
    EXPECT_EQ("<missing>", ReadFile(TempFileName("PRGTMP", "TMP")));
  }

  void StartDevice(sim::BootDeviceOptions options) {
    line_ = sim::OpenPseudoTerminal();
    ASSERT_TRUE(line_);
    device_ = std::make_unique<sim::BootDevice>(*line_, std::move(options));
    device_->Start();
  }

  // Runs the bridge against a simulated device; returns {code, result code}.
  std::pair<int, int> Download(const std::string& image, sim::BootDeviceOptions options,
                               const std::string& baud = "115200") {
    WriteFile(kData, image);
    if (!device_) StartDevice(std::move(options));
    BrekDownloadRequest request{kData, line_->peer_path(), baud, "LMS5xx", "0-3FFFF"};
    int result_code = -99;
    int code = RunBrekDownload(request, &result_code, &status_);
    device_->Stop();
    return {code, result_code};
  }

  std::string StoredImage() const {
    std::vector<uint8_t> image = device_->image();
    return std::string(image.begin(), image.end());
  }

  static constexpr char kData[] = "brek_bridge_test.bin";
  RecordingStatus status_;
  std::unique_ptr<sim::Line> line_;
  std::unique_ptr<sim::BootDevice> device_;
};

TEST_F(BrekBridgeTest, DownloadReachesTheDeviceThroughLostAndDamagedFrames) {
  const std::string image = Image(5 * 4096 + 100);
  sim::BootDeviceOptions faults;
  faults.drop_data_frame = 1;
  faults.corrupt_data_frame = 3;
  EXPECT_EQ(std::make_pair(0, 0), Download(image, faults));
  EXPECT_TRUE(device_->image_verified());
  EXPECT_EQ(image, StoredImage());
  EXPECT_EQ("LMS5xx", device_->device_type());
  EXPECT_EQ(115200u, device_->download_baud());
  ASSERT_FALSE(status_.percents.empty());
  EXPECT_EQ(0, status_.percents.front());
  EXPECT_EQ(100, status_.percents.back());
}

TEST_F(BrekBridgeTest, EmptyBaudRateTextDownloadsAt9600) {
  EXPECT_EQ(std::make_pair(0, 0), Download(Image(10), {}, ""));
  EXPECT_EQ(9600u, device_->download_baud());
}

TEST_F(BrekBridgeTest, DeviceThatStopsAnsweringFailsWithNoAnswer) {
  sim::BootDeviceOptions faults;
  faults.stop_at_data_frame = 1;
  EXPECT_EQ(std::make_pair(kBrekBridgeDownloadFailed, 5),
            Download(Image(4096 + 500), faults));
  EXPECT_FALSE(device_->image_verified());
}

TEST_F(BrekBridgeTest, DeviceNeverInBootModeGetsThreeRequestsEachAfterAReset) {
  sim::BootDeviceOptions faults;
  faults.never_boot = true;
  EXPECT_EQ(std::make_pair(kBrekBridgeNoBootMode, 0), Download(Image(10), faults));
  EXPECT_EQ(std::vector<std::string>(3, "download standard"), device_->telegrams());
  const std::string reset_then_request = "New initialization:\t" + line_->peer_path() +
                                         ",9600,8,0,1\n>> \x02" "download standard\x03";
  std::string log = ReadFile(ProcessTempNames().download_log);
  int count = 0;
  for (size_t at = 0; (at = log.find(reset_then_request, at)) != std::string::npos; ++at) ++count;
  EXPECT_EQ(3, count);
}

TEST_F(BrekBridgeTest, MissingDataFileOrPortFailsEarly) {
  int result_code = -99;
  BrekDownloadRequest request{"no-such-data.bin", "/dev/korvo-no-such-port", "", "", ""};
  EXPECT_EQ(kBrekBridgeFileFailed, RunBrekDownload(request, &result_code, nullptr));
  EXPECT_EQ(0, result_code);
  WriteFile(kData, "x");
  request.data_file = kData;
  EXPECT_EQ(kBrekBridgePortFailed, RunBrekDownload(request, &result_code, nullptr));
}

TEST(BrekProgressTest, RoundsHalfUpAndKeepsMinusOne) {
  const std::pair<double, int> cases[] = {{49.5, 50}, {49.4, 49}, {-1.0, -1}, {0.0, 0},
                                          {100.0, 100}, {1e300, 2147483647}};
  for (const auto& c : cases) EXPECT_EQ(c.second, ProgressPercent(c.first)) << c.first;
}

}  // namespace
}  // namespace korvo

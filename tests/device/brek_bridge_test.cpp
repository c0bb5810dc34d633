// Progress reaching the front end is pinned through the JVM (DownloadTest).
#include "device/brek_bridge.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "config/temp_files.h"
#include "device/boot_loader_library.h"
#include "platform/system.h"
#include "sim/boot_device.h"
#include "support/files.h"

namespace korvo {
namespace {

using test_support::ReadFile;

std::string Image(size_t count) {
  std::mt19937 random(5);
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; i += 3) bytes[i] = static_cast<char>(random());
  return bytes;  // zeros and 0xFF among the data, as in real images
}

class BrekBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(nullptr, line_ = sim::OpenPseudoTerminal()); }
  void TearDown() override {
    RemoveFile(kData);
    for (const std::string& log : test_support::TempFilesLeft(kTempDownloadLog)) RemoveFile(log);
    EXPECT_TRUE(test_support::TempFilesLeft(kTempBootLoaderFile).empty());
  }

  // Runs the bridge against a simulated device; returns {code, result code}.
  std::pair<int, int> Download(const std::string& image, sim::BootDeviceOptions options,
                               const std::string& baud = "115200") {
    test_support::WriteFile(kData, image);
    device_ = std::make_unique<sim::BootDevice>(*line_, std::move(options));
    device_->Start();
    BrekDownloadRequest request{kData, line_->peer_path(), baud, "LMS5xx", "0-3FFFF"};
    int result_code = -99;
    int code = RunBrekDownload(request, &result_code, nullptr);
    device_->Stop();
    return {code, result_code};
  }

  static constexpr char kData[] = "brek_bridge_test.bin";
  std::unique_ptr<sim::Line> line_;
  std::unique_ptr<sim::BootDevice> device_;
};

TEST_F(BrekBridgeTest, DownloadReachesTheDeviceThroughLostAndDamagedFrames) {
  const std::string image = Image(5 * 4096 + 100);
  sim::BootDeviceOptions faults;
  faults.drop_data_frame = 1;
  faults.corrupt_data_frame = 3;
  test_support::PlantedLinks planted({kTempBootLoaderFile, kTempDownloadLog});
  EXPECT_EQ(std::make_pair(0, 0), Download(image, faults));
  EXPECT_EQ("", planted.Damage());
  EXPECT_TRUE(device_->image_verified());
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.end()), device_->image());
  EXPECT_EQ("LMS5xx 115200", device_->device_type() + " " + std::to_string(device_->download_baud()));
  EXPECT_TRUE(test_support::TempFilesLeft(kTempDownloadLog).empty()) << "a good run drops its log";
}

TEST_F(BrekBridgeTest, DeviceThatStopsAnsweringFailsWithNoAnswer) {
  sim::BootDeviceOptions faults;
  faults.stop_at_data_frame = 1;
  EXPECT_EQ(std::make_pair(kBrekBridgeDownloadFailed, 5), Download(Image(4096 + 500), faults, ""));
  EXPECT_FALSE(device_->image_verified());
  EXPECT_EQ(9600u, device_->download_baud()) << "an empty baud rate text";
}

// Each request goes out after a reset of the line, and the reopen must not
// cut it off. The log of the failed run stays and shows all three.
TEST_F(BrekBridgeTest, DeviceNeverInBootModeGetsThreeRequestsEachAfterAReset) {
  sim::BootDeviceOptions faults;
  faults.never_boot = true;
  EXPECT_EQ(std::make_pair(kBrekBridgeNoBootMode, 0), Download(Image(10), faults));
  EXPECT_EQ(std::vector<std::string>(3, "download standard"), device_->telegrams());
  const std::string reset_then_request = "New initialization:\t" + line_->peer_path() +
                                         ",9600,8,0,1\n>> \x02" "download standard\x03";
  ASSERT_EQ(1u, test_support::TempFilesLeft(kTempDownloadLog).size());
  std::string log = ReadFile(test_support::TempFilesLeft(kTempDownloadLog)[0]);
  int count = 0;
  for (size_t at = 0; (at = log.find(reset_then_request, at)) != std::string::npos; ++at) ++count;
  EXPECT_EQ(3, count);
}

TEST_F(BrekBridgeTest, MissingDataFileLibraryOrPortFailsEarly) {
  int result_code = -99;
  BrekDownloadRequest request{"no-such-data.bin", "/dev/korvo-no-such-port", "", "", ""};
  EXPECT_EQ(kBrekBridgeFileFailed, RunBrekDownload(request, &result_code, nullptr));
  EXPECT_EQ(0, result_code);
  request.data_file = ".";  // opens, but reading fails: no half-built file is left
  EXPECT_EQ(kBrekBridgeFileFailed, RunBrekDownload(request, &result_code, nullptr));
  test_support::WriteFile(kData, "x");
  request.data_file = kData;
  request.library = std::string("no-such-folder/") + BootLoaderLibrary::FileName();
  EXPECT_EQ(kBrekBridgeCreateFailed, RunBrekDownload(request, &result_code, nullptr));
  EXPECT_EQ(0, result_code);
  EXPECT_TRUE(test_support::TempFilesLeft(kTempDownloadLog).empty()) << "no port, no log";
  request.library = "";
  EXPECT_EQ(kBrekBridgePortFailed, RunBrekDownload(request, &result_code, nullptr));
}

TEST(BootLoaderLibraryTest, AMissingLibraryOrEntryPointIsNamed) {
#ifdef _WIN32
  const std::string system_library = "kernel32.dll";
#else
  const std::string system_library = "libc.so.6";
#endif
  const std::string missing = std::string("no-such-folder/") + BootLoaderLibrary::FileName();
  const std::pair<std::string, std::string> cases[] = {  // library, what the error names
      {missing, missing},
      {system_library, system_library + " lacks the CBrekDownload constructor (" +
                           BootLoaderLibrary::Symbols().names[kEntryConstructor] + ")"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(nullptr, BootLoaderLibrary::LoadFrom(c.first, BootLoaderCallbacks{}, &why));
    EXPECT_NE(std::string::npos, why.find(c.second)) << why;
  }
}

#ifndef _WIN32  // wine offers one pair of linked ports only
// The bridge's callbacks share one state, so a second run waits for the first.
TEST_F(BrekBridgeTest, RunsFromTwoThreadsTakeTurnsAndEachDeviceGetsItsImage) {
  auto other_line = sim::OpenPseudoTerminal();
  ASSERT_NE(nullptr, other_line);
  sim::BootDevice other(*other_line, {});
  other.Start();
  std::string other_image = Image(3 * 4096);
  for (char& b : other_image) b ^= 0x5A;
  test_support::WriteFile("brek_bridge_other.bin", other_image);
  std::pair<int, int> other_result{-99, -99};
  std::thread second([&] {
    BrekDownloadRequest request{"brek_bridge_other.bin", other_line->peer_path(), "115200", "X", ""};
    other_result.first = RunBrekDownload(request, &other_result.second, nullptr);
  });
  const std::string image = Image(4 * 4096 + 7);
  EXPECT_EQ(std::make_pair(0, 0), Download(image, {}));
  second.join();
  other.Stop();
  RemoveFile("brek_bridge_other.bin");
  EXPECT_EQ(std::make_pair(0, 0), other_result);
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.end()), device_->image());
  EXPECT_EQ(std::vector<uint8_t>(other_image.begin(), other_image.end()), other.image());
}
#endif

TEST(BrekProgressTest, RoundsHalfUpKeepsMinusOneAndStaysInsideInt) {
  const std::pair<double, int> cases[] = {{49.5, 50}, {49.4, 49},      {-1.0, -1},      {0.0, 0},
                                          {NAN, 0},   {1e300, INT_MAX}, {-1e300, INT_MIN}};
  for (const auto& c : cases) EXPECT_EQ(c.second, ProgressPercent(c.first)) << c.first;
}

}  // namespace
}  // namespace korvo

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "config/config_document.h"
#include "download/download_executor.h"
#include "interface/download_manager.h"
#include "interface/exports.h"
#include "support/scripted_channel.h"

namespace korvo {
namespace {

using test_support::ScriptedChannel;

uint8_t* Bytes(const std::string& text) {
  auto* b = new uint8_t[text.size() + 1];
  std::memcpy(b, text.data(), text.size());
  return b;
}

class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, Manager().GetDownloadExecutor());
    auto owned = std::make_unique<ScriptedChannel>();
    channel = owned.get();
    Manager().GetDownloadExecutor()->ReplaceChannel(std::move(owned));
  }
  void TearDown() override {
    SetDownloadMode(DownloadModeValue::kNormal);
    if (Manager().GetDownloadExecutor()) Manager().GetDownloadExecutor()->ReplaceChannel(nullptr);
  }
  ScriptedChannel* channel = nullptr;
};

TEST_F(ManagerTest, TheDownloadModeRoutesAnswers) {
  SetDownloadMode(DownloadModeValue::kNormal);
  EXPECT_EQ(0, Manager().RouteAnswer("RA", "DeviceIdent", Bytes(" 2 OK"), 5));
  EXPECT_EQ(1, channel->CountOf("ReceiveAnswer"));
  EXPECT_EQ(0, Manager().RouteAnswer("AN", "m", nullptr, 0)) << "an empty answer is delivered";
  SetDownloadMode(DownloadModeValue::kFirstStage);
  EXPECT_EQ(-1, Manager().RouteAnswer("AN", "m", Bytes("x"), 1));
  EXPECT_EQ(2, channel->CountOf("ReceiveAnswer")) << "first-stage answers skip the executor";
}

TEST_F(ManagerTest, ReplacingTheExecutorDropsItsChannel) {
  Manager().Setup("Keta B", {});
  EXPECT_EQ(-1, Manager().RouteAnswer("AN", "m", Bytes("x"), 1));
  Manager().Setup("", {});
}

TEST_F(ManagerTest, PlainExportsReportMissingWorkWithoutTouchingOutputs) {
  // A project that is not there is an error of the builder, not a crash.
  EXPECT_LT(CreateConfigFile(nullptr), 0);
  EXPECT_LT(CreateConfigFile("/nonexistent/korvo/project.xml"), 0);
  int device_error = 77;
  SetDownloadMode(DownloadModeValue::kNormal);
  EXPECT_EQ(kConfigFileError, ExecuteFirstStageDownload("cfg", &device_error));
  EXPECT_EQ(-1, device_error);
  EXPECT_EQ(DownloadModeValue::kFirstStage, DownloadMode());

  EXPECT_LT(ExecuteDownload(nullptr, nullptr, &device_error, nullptr, nullptr, -1, -1, nullptr),
            0);
  EXPECT_EQ(-1, device_error) << "no device was handled";
  EXPECT_EQ(DownloadModeValue::kNormal, DownloadMode());
}

}  // namespace
}  // namespace korvo

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

using test_support::Reply;
using test_support::ScriptedChannel;

uint8_t* Bytes(const std::string& text) {
  auto* b = new uint8_t[text.size() + 1];
  std::memcpy(b, text.data(), text.size());
  return b;
}

// An executor with no front end behind it.
DownloadExecutor Executor(const std::string& name, const std::string& port = "") {
  return DownloadExecutor(name, nullptr, ConnectionSettings{port, ""});
}

bool Grants(const DownloadExecutor& e) { return e.answer_decoder()->IsAccessGranted(" 1", 2); }

ScriptedChannel* Install(DownloadExecutor& e) {
  auto owned = std::make_unique<ScriptedChannel>();
  ScriptedChannel* channel = owned.get();
  e.ReplaceChannel(std::move(owned));
  return channel;
}

TEST(DownloadExecutor, TheCommunicationNameChoosesTheDecoder) {
  EXPECT_FALSE(Grants(Executor("Keta B")));
  DownloadExecutor e = Executor("keta b");
  EXPECT_TRUE(Grants(e));
  EXPECT_EQ("keta b", e.communication_name());
  EXPECT_NE(nullptr, e.serial_answer_decoder());
  EXPECT_EQ(1, e.use_java_channel());
  EXPECT_EQ(nullptr, e.channel());
}

TEST(DownloadExecutor, ConnectKeepsTheJavaChannelWithOrWithoutAnIdentification) {
  for (const char* ident : {"SCANNER", ""}) {
    SCOPED_TRACE(ident);
    DownloadExecutor e = Executor("Keta A");
    ScriptedChannel* channel = Install(e);
    channel->ident = ident;
    EXPECT_EQ(ident, e.ConnectDevice());
    EXPECT_EQ(channel, e.channel());
    EXPECT_EQ(1, e.use_java_channel());
    EXPECT_EQ(1, channel->CountOf("ReadDeviceIdent"));
    EXPECT_EQ(0, channel->CountOf("Open")) << "connect does not open the Java line";
  }
}

TEST(DownloadExecutor, LoginGoesToTheHeldChannelAndRemembersTheTexts) {
  DownloadExecutor e = Executor("Keta A");
  ScriptedChannel* channel = Install(e);
  channel->Script("SetAccessMode", {Reply(), Reply::Fail()});
  EXPECT_EQ(0, e.LoginDevice("3", "secret"));
  EXPECT_EQ(-1, e.LoginDevice("4", "wrong"));
  ASSERT_EQ(2, channel->CountOf("SetAccessMode"));
  EXPECT_EQ("4", channel->CallsOf("SetAccessMode")[1].name);
  EXPECT_EQ("wrong", channel->CallsOf("SetAccessMode")[1].text);
  EXPECT_EQ("4", e.login_level());
  EXPECT_EQ("wrong", e.login_password());
}

TEST(DownloadExecutor, ASerialLoginWithoutAPortFailsButKeepsTheTexts) {
  DownloadExecutor e = Executor("Keta A", "/nonexistent/korvo-port");
  e.set_use_java_channel(0);
  EXPECT_EQ(-1, e.LoginDevice("3", "secret"));
  EXPECT_EQ(nullptr, e.channel()) << "the serial channel is not kept";
  EXPECT_EQ("3", e.login_level());
  EXPECT_EQ("secret", e.login_password());
}

TEST(DownloadExecutor, AnswersGoToTheCurrentChannelOrAreDropped) {
  DownloadExecutor e = Executor("Keta A");
  EXPECT_EQ(-1, e.DeliverAnswer("AN", "m", Bytes(" 1"), 2));
  ScriptedChannel* channel = Install(e);
  EXPECT_EQ(0, e.DeliverAnswer("AN", "m", Bytes(" 1"), 2));
  ASSERT_EQ(1, channel->CountOf("ReceiveAnswer"));
  EXPECT_EQ("AN", channel->calls()[0].kind);
  EXPECT_EQ(" 1", channel->calls()[0].text);
}

class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, Manager().GetDownloadExecutor());
    channel = Install(*Manager().GetDownloadExecutor());
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
  EXPECT_FALSE(Grants(*Manager().GetDownloadExecutor()));
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

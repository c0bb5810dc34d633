// The Java channel against real Java callbacks: a simulated device behind
// TAVISInterface answers on its own thread through ReceiveBytes.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/java_command_table.h"
#include "device/java_device_channel.h"
#include "download/download_executor.h"
#include "interface/download_manager.h"
#include "interface/java_binding.h"
#include "interface/jni_natives.h"
#include "jvm/jvm_support.h"

namespace korvo::jvm_test {
namespace {

class JvmChannelTest : public JvmDeviceTest {
 protected:
  void SetUp() override {
    JvmDeviceTest::SetUp();
    if (HasFatalFailure()) return;
    Setup(tavis);
    SetDownloadMode(DownloadModeValue::kNormal);
    JavaDeviceChannel::SetNoProgramFlag(false);
  }
  void TearDown() override {
    JavaDeviceChannel::SetNoProgramFlag(false);
    SetDownloadMode(DownloadModeValue::kNormal);
    JvmDeviceTest::TearDown();
  }

  // SetupJNI on `caller`, then a Java channel in the new executor.
  void Setup(jobject caller) {
    Java_quarnel_firmwaredownload_TAVISInterface_SetupJNI(env, caller, Text(env, "Keta A"),
                                                          Text(env, "9600"),
                                                          Text(env, "/nonexistent/port"));
    DownloadExecutor* executor = Manager().GetDownloadExecutor();
    ASSERT_NE(nullptr, executor);
    auto owned = std::make_unique<JavaDeviceChannel>(executor->answer_decoder(), &JavaBinding::Instance());
    channel = owned.get();
    executor->ReplaceChannel(std::move(owned));
  }

  void AnswerEvery(const std::string& kind, const std::string& text) {
    CallVoid(env, device, "answerEveryCommand", "(Ljava/lang/String;Ljava/lang/String;)V",
             Text(env, kind), Text(env, text));
  }

  std::string Last(const char* field, bool bytes) {
    jobject command =
        CallObject(env, device, "lastCommand", "()Lkorvotest/SimulatedDevice$Command;");
    std::string value = ObjectField(env, command, field, bytes);
    if (command) env->DeleteLocalRef(command);
    return value;
  }

  JavaDeviceChannel* channel = nullptr;
};

TEST_F(JvmChannelTest, FirmwareCommandsReachJavaByteForByte) {
  // The first result number counts even as the last token of the answer.
  AnswerEvery("AN", " 64");
  for (const testing_commands::CommandCase& c : testing_commands::FirmwareCommands()) {
    SCOPED_TRACE(c.label);
    int result = -7;
    EXPECT_EQ(0, c.run(*channel, &result));
    EXPECT_EQ(0x64, result);
    EXPECT_EQ(c.method, Last("name", false));
    EXPECT_EQ(c.parameters, Last("parameters", true));
  }
  AnswerEvery("FA", " 64 ");
  int result = 0;
  EXPECT_EQ(-1, channel->GetDownloadStatus(0, 1, &result));
  EXPECT_EQ(-1, result);
}

TEST_F(JvmChannelTest, FirstStageModeDeliversNothingToTheExecutorsChannel) {
  AnswerEvery("RA", " 3 ABC");
  SetDownloadMode(DownloadModeValue::kFirstStage);
  EXPECT_EQ(-1, channel->ReadVariable("DeviceIdent", 300));
  EXPECT_EQ("DeviceIdent", Last("name", false)) << "the command did go out";
  SetDownloadMode(DownloadModeValue::kNormal);
  EXPECT_EQ(0, channel->ReadVariable("DeviceIdent", 5000));
  std::string text;
  EXPECT_EQ(0, channel->GetResultString(0, text, true, 0));
  EXPECT_EQ("ABC", text);
}

TEST_F(JvmChannelTest, AThreadUnknownToTheJvmCanSendCommands) {
  AnswerEvery("RA", " 3 ABC");
  int status = -5;
  std::thread worker([&] { status = channel->ReadVariable("DeviceIdent", 5000); });
  worker.join();
  EXPECT_EQ(0, status);
  EXPECT_EQ("DeviceIdent", Last("name", false));
}

TEST_F(JvmChannelTest, TheBindingOutlivesSetupsLocalReferencesAndTakesAClassAsCaller) {
  ASSERT_EQ(0, env->PushLocalFrame(16));
  Setup(NewObject(env, kTavis, "()V"));
  env->PopLocalFrame(nullptr);  // the caller and its class reference die here
  AnswerEvery("AN", " 2 ");
  EXPECT_EQ(0, channel->CallMethod("Ping"));

  jclass cls = env->FindClass(kTavis);
  ASSERT_NE(nullptr, cls);
  Setup(cls);
  EXPECT_EQ(0, channel->CallMethod("Ping"));
  EXPECT_TRUE(JavaBinding::Instance().CanReportStatus());
  EXPECT_EQ(0, JavaBinding::Instance().UpdateStatus("Download of x started ...", -1));
}

}  // namespace
}  // namespace korvo::jvm_test

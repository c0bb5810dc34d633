// Connect and login fall back to the COM port when the Java front end
// reaches no device: the port named in SetupJNI is a pseudo-terminal with a
// simulated serial device behind it.
#include <gtest/gtest.h>

#include <string>

#include "device/serial_device_channel.h"
#include "device/serial_pty.h"
#include "download/download_executor.h"
#include "interface/download_manager.h"
#include "interface/jni_natives.h"
#include "jvm/jvm_support.h"

namespace korvo::jvm_test {
namespace {

using testing_pty::PseudoTerminal;
using testing_pty::SimulatedDevice;

// A full answer ends the serial read at once instead of after the line's
// one-second gap.
std::string FullAnswer(const std::string& text) {
  std::string framed = "\x02" + text + "\x03";
  return framed + std::string(SerialDeviceChannel::kBufferSize - framed.size(), 'x');
}

class SerialFallbackTest : public JvmDeviceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    JvmDeviceTest::SetUp();
    if (HasFatalFailure()) return;
    // The Java line refuses the identification at once.
    CallVoid(env, device, "answerTo", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V",
             Text(env, "DeviceIdent"), Text(env, "FA"), Text(env, " 5"));
    saved_flag = SerialDeviceChannel::NoProgramFlag();
    SerialDeviceChannel::SetNoProgramFlag(false);
  }
  void TearDown() override {
    SerialDeviceChannel::SetNoProgramFlag(saved_flag);
    JvmDeviceTest::TearDown();
  }

  void Setup(const std::string& port_name) {
    Java_quarnel_firmwaredownload_TAVISInterface_SetupJNI(env, tavis, Text(env, "Keta A"),
                                                          Text(env, "9600"), Text(env, port_name));
  }

  std::string Connect() {
    auto ident = static_cast<jstring>(
        Java_quarnel_firmwaredownload_TAVISInterface_ConnectDeviceIF(env, tavis));
    std::string out = ToString(env, ident);
    if (ident) env->DeleteLocalRef(ident);
    return out;
  }

  int CleanUps() { return CallInt(env, device, "cleanUps", "()I"); }

  PseudoTerminal pty;
  bool saved_flag = false;
};

TEST_F(SerialFallbackTest, ConnectReadsTheIdentificationOverTheComPort) {
  Setup(pty.slave_path());
  SimulatedDevice device(pty, {FullAnswer("sRA DeviceIdent 6 LMS511"),
                               FullAnswer("sAN SetAccessMode 01")});
  EXPECT_EQ("LMS511", Connect());
  EXPECT_EQ(1, CleanUps());
  DownloadExecutor* executor = Manager().GetDownloadExecutor();
  ASSERT_NE(nullptr, executor);
  EXPECT_EQ(nullptr, executor->channel()) << "the serial channel is released";
  EXPECT_EQ(0, executor->use_java_channel());

  // The login then goes over the COM port too.
  EXPECT_EQ(0, Java_quarnel_firmwaredownload_TAVISInterface_LoginDeviceIF(
                   env, tavis, Text(env, "3"), Text(env, "F4724744")));
  ASSERT_EQ(2u, device.telegrams().size());
  EXPECT_EQ("\x02sRN DeviceIdent\x03", device.telegrams()[0]);
  EXPECT_EQ("\x02sMN SetAccessMode 3 F4724744\x03", device.telegrams()[1]);
  EXPECT_FALSE(SerialDeviceChannel::NoProgramFlag());
}

}  // namespace
}  // namespace korvo::jvm_test

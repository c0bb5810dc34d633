// The natives in a JVM created here, bound to this process's library: what the Java
// programs cannot do (a class as SetupJNI's caller, a thread the JVM never saw, the COM
// port behind a pseudo-terminal played from here).
#include <gtest/gtest.h>
#include <jni.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "device/serial_device_channel.h"
#include "device/serial_pty.h"
#include "download/download_executor.h"
#include "interface/download_manager.h"
#include "interface/jni_natives.h"

namespace korvo {
namespace {

constexpr char kTavis[] = "quarnel/firmwaredownload/TAVISInterface";
JNIEnv* env = nullptr;  // of the main thread; the JVM cannot be restarted

bool StartJvm() {
  std::string class_path = std::string("-Djava.class.path=") + KORVO_JAVA_CLASSES;
  JavaVMOption options[] = {
      {const_cast<char*>(class_path.c_str()), nullptr},
      {const_cast<char*>("-Dquarnel.firmwaredownload.nativesRegistered=true"), nullptr},
      {const_cast<char*>("-Xcheck:jni"), nullptr},
  };
  JavaVMInitArgs args{JNI_VERSION_1_8, 3, options, JNI_FALSE};
  JavaVM* vm = nullptr;
  if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) return false;
#define KORVO_NATIVE(name, signature)                       \
  {const_cast<char*>(#name), const_cast<char*>(signature), \
   reinterpret_cast<void*>(&Java_quarnel_firmwaredownload_TAVISInterface_##name)}
  JNINativeMethod natives[] = {
      KORVO_NATIVE(SetupJNI, "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V"),
      KORVO_NATIVE(ConnectDeviceIF, "()Ljava/lang/String;"),
      KORVO_NATIVE(LoginDeviceIF, "(Ljava/lang/String;Ljava/lang/String;)I"),
      KORVO_NATIVE(ReceiveBytes, "(Ljava/lang/String;Ljava/lang/String;[B)V"),
  };
#undef KORVO_NATIVE
  jclass cls = env->FindClass(kTavis);
  if (!cls || env->RegisterNatives(cls, natives, 4) != 0) {
    env->ExceptionDescribe();
    return false;
  }
  return true;
}

jstring Text(const std::string& s) { return env->NewStringUTF(s.c_str()); }

void CheckException(const char* what) {
  if (!env->ExceptionCheck()) return;
  env->ExceptionDescribe();
  ADD_FAILURE() << "Java exception in " << what;
}

jobject New(const char* cls, const char* signature, ...) {
  jclass c = env->FindClass(cls);
  jmethodID ctor = c ? env->GetMethodID(c, "<init>", signature) : nullptr;
  va_list args;
  va_start(args, signature);
  jobject obj = ctor ? env->NewObjectV(c, ctor, args) : nullptr;
  va_end(args);
  CheckException(cls);
  return obj;
}

// An instance method that returns an int ("...)I") or nothing.
int Call(jobject obj, const char* method, const char* signature, ...) {
  jmethodID id = env->GetMethodID(env->GetObjectClass(obj), method, signature);
  va_list args;
  va_start(args, signature);
  int result = 0;
  if (id && signature[std::strlen(signature) - 1] == 'I') {
    result = env->CallIntMethodV(obj, id, args);
  } else if (id) {
    env->CallVoidMethodV(obj, id, args);
  }
  va_end(args);
  CheckException(method);
  return result;
}

// Local references live in a frame popped on tear-down.
class JvmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, env);
    ASSERT_EQ(0, env->PushLocalFrame(64));
    tavis = New(kTavis, "()V");
    device = New("korvotest/SimulatedDevice", "(Lquarnel/firmwaredownload/TAVISInterface;)V", tavis);
    ASSERT_NE(nullptr, device);
    jclass cls = env->FindClass(kTavis);
    env->CallStaticVoidMethod(cls, env->GetStaticMethodID(cls, "setDeviceLine",
                              "(Lquarnel/firmwaredownload/TAVISInterface$DeviceLine;)V"), device);
    CheckException("setDeviceLine");
  }
  void TearDown() override {
    if (env) env->PopLocalFrame(nullptr);
  }

  void Setup(jobject caller, const char* communication_name, const std::string& port) {
    Java_quarnel_firmwaredownload_TAVISInterface_SetupJNI(env, caller, Text(communication_name),
                                                          Text("9600"), Text(port));
  }
  void AnswerTo(const char* name, const char* kind, const char* text) {
    Call(device, "answerTo", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V",
         Text(name), Text(kind), Text(text));
  }
  int Login(const char* level, const char* password) {
    return Java_quarnel_firmwaredownload_TAVISInterface_LoginDeviceIF(env, tavis, Text(level),
                                                                      Text(password));
  }

  jobject tavis = nullptr;
  jobject device = nullptr;
};

TEST_F(JvmTest, TheBindingOutlivesSetupsLocalReferencesTakesAClassAndServesAnyThread) {
  AnswerTo("SetAccessMode", "AN", " 1");
  ASSERT_EQ(0, env->PushLocalFrame(16));
  Setup(New(kTavis, "()V"), "Keta A", "/nonexistent/port");
  env->PopLocalFrame(nullptr);  // the caller and its class reference die here
  EXPECT_EQ(0, Login("3", "secret"));

  Setup(env->FindClass(kTavis), "Keta A", "/nonexistent/port");  // as from a static native
  int status = -5;
  std::thread worker([&] { status = Manager().GetDownloadExecutor()->LoginDevice("3", "secret"); });
  worker.join();
  EXPECT_EQ(0, status) << "a thread unknown to the JVM sends and gets its answer";
}

// A full answer ends the serial read at once instead of after the line's
// one-second gap.
std::string FullAnswer(const std::string& text) {
  std::string framed = "\x02" + text + "\x03";
  return framed + std::string(SerialDeviceChannel::kBufferSize - framed.size(), 'x');
}

// Keta B: the line is handed over once (a throwing CleanUpInterface is cleared), and the
// identification and login go over SetupJNI's COM port.
TEST_F(JvmTest, ConnectAndLoginFallBackToTheComPort) {
  testing_pty::PseudoTerminal pty;
  ASSERT_TRUE(pty.ok());
  Setup(tavis, "Keta B", pty.slave_path());
  AnswerTo("DeviceIdent", "RA", " 5 HELLO");
  Call(device, "throwOnCleanUp", "(Ljava/lang/RuntimeException;)V",
       New("java/lang/IllegalStateException", "()V"));
  testing_pty::SimulatedDevice serial(pty, {FullAnswer("sRA DeviceIdent 6 LMS511"),
                                            FullAnswer("sAN SetAccessMode 01")});
  auto ident = static_cast<jstring>(
      Java_quarnel_firmwaredownload_TAVISInterface_ConnectDeviceIF(env, tavis));
  ASSERT_FALSE(env->ExceptionCheck()) << "the exception of CleanUpInterface is left pending";
  const char* chars = ident ? env->GetStringUTFChars(ident, nullptr) : nullptr;
  EXPECT_STREQ("LMS511", chars);
  if (chars) env->ReleaseStringUTFChars(ident, chars);
  EXPECT_EQ(1, Call(device, "cleanUps", "()I"));
  EXPECT_EQ(0, Login("3", "F4724744"));
  EXPECT_EQ((std::vector<std::string>{"\x02sRN DeviceIdent\x03",
                                      "\x02sMN SetAccessMode 3 F4724744\x03"}),
            serial.telegrams());
}

}  // namespace
}  // namespace korvo

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!korvo::StartJvm()) {
    std::printf("JVM could not be started\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}

// One JVM for the whole test binary, with the compiled Java classes on its
// class path and the TAVISInterface natives bound to this process's copy of
// the library (no libKorvo.so is loaded).
#pragma once

#include <gtest/gtest.h>
#include <jni.h>

#include <string>

namespace korvo::jvm_test {

// The JVM's environment for the main thread; null when the JVM could not
// be started (the reason is printed).
JNIEnv* MainEnv();

// Small helpers; each fails the current test on a Java exception.
jobject NewObject(JNIEnv* env, const char* cls, const char* signature, ...);
jobject CallObject(JNIEnv* env, jobject obj, const char* method, const char* signature, ...);
int CallInt(JNIEnv* env, jobject obj, const char* method, const char* signature, ...);
void CallVoid(JNIEnv* env, jobject obj, const char* method, const char* signature, ...);
void CallStaticVoid(JNIEnv* env, const char* cls, const char* method, const char* signature, ...);
jstring Text(JNIEnv* env, const std::string& s);
std::string ToString(JNIEnv* env, jstring text);  // "<null>" for null
std::string ObjectField(JNIEnv* env, jobject obj, const char* field, bool bytes);

constexpr char kTavis[] = "quarnel/firmwaredownload/TAVISInterface";

// A TAVISInterface whose device line is a korvotest.SimulatedDevice; the
// test's local references live in a frame popped on tear-down.
class JvmDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env = MainEnv();
    ASSERT_NE(nullptr, env);
    ASSERT_EQ(0, env->PushLocalFrame(64));
    tavis = NewObject(env, kTavis, "()V");
    device = NewObject(env, "korvotest/SimulatedDevice",
                       "(Lquarnel/firmwaredownload/TAVISInterface;)V", tavis);
    ASSERT_NE(nullptr, device);
    CallStaticVoid(env, kTavis, "setDeviceLine",
                   "(Lquarnel/firmwaredownload/TAVISInterface$DeviceLine;)V", device);
  }
  void TearDown() override {
    if (env) env->PopLocalFrame(nullptr);
  }

  JNIEnv* env = nullptr;
  jobject tavis = nullptr;
  jobject device = nullptr;
};

}  // namespace korvo::jvm_test

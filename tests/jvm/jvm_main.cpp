#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>

#include "interface/jni_natives.h"
#include "jvm/jvm_support.h"

namespace korvo::jvm_test {
namespace {

JNIEnv* main_env = nullptr;

bool StartJvm() {
  std::string class_path = std::string("-Djava.class.path=") + KORVO_JAVA_CLASSES;
  JavaVMOption options[] = {
      {const_cast<char*>(class_path.c_str()), nullptr},
      {const_cast<char*>("-Dquarnel.firmwaredownload.nativesRegistered=true"), nullptr},
      {const_cast<char*>("-Xcheck:jni"), nullptr},
  };
  JavaVMInitArgs args{JNI_VERSION_1_8, sizeof options / sizeof options[0], options, JNI_FALSE};
  JavaVM* vm = nullptr;
  if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&main_env), &args) != JNI_OK) {
    std::printf("JVM could not be started\n");
    return false;
  }
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
  jclass cls = main_env->FindClass("quarnel/firmwaredownload/TAVISInterface");
  if (!cls || main_env->RegisterNatives(cls, natives, 4) != 0) {
    main_env->ExceptionDescribe();
    return false;
  }
  main_env->DeleteLocalRef(cls);
  return true;
}

jclass Class(JNIEnv* env, const char* name) {
  jclass cls = env->FindClass(name);
  if (!cls) {
    env->ExceptionDescribe();
    ADD_FAILURE() << "class " << name;
  }
  return cls;
}

jmethodID MethodOf(JNIEnv* env, jobject obj, const char* method, const char* signature) {
  jclass cls = env->GetObjectClass(obj);
  jmethodID id = env->GetMethodID(cls, method, signature);
  env->DeleteLocalRef(cls);
  return id;
}

void CheckException(JNIEnv* env, const char* what) {
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    ADD_FAILURE() << "Java exception in " << what;
  }
}

}  // namespace

JNIEnv* MainEnv() { return main_env; }

jobject NewObject(JNIEnv* env, const char* name, const char* signature, ...) {
  jclass cls = Class(env, name);
  if (!cls) return nullptr;
  jmethodID ctor = env->GetMethodID(cls, "<init>", signature);
  va_list args;
  va_start(args, signature);
  jobject obj = ctor ? env->NewObjectV(cls, ctor, args) : nullptr;
  va_end(args);
  CheckException(env, name);
  return obj;
}

jobject CallObject(JNIEnv* env, jobject obj, const char* method, const char* signature, ...) {
  jmethodID id = MethodOf(env, obj, method, signature);
  va_list args;
  va_start(args, signature);
  jobject result = id ? env->CallObjectMethodV(obj, id, args) : nullptr;
  va_end(args);
  CheckException(env, method);
  return result;
}

int CallInt(JNIEnv* env, jobject obj, const char* method, const char* signature, ...) {
  jmethodID id = MethodOf(env, obj, method, signature);
  va_list args;
  va_start(args, signature);
  int result = id ? env->CallIntMethodV(obj, id, args) : -1;
  va_end(args);
  CheckException(env, method);
  return result;
}

void CallVoid(JNIEnv* env, jobject obj, const char* method, const char* signature, ...) {
  jmethodID id = MethodOf(env, obj, method, signature);
  va_list args;
  va_start(args, signature);
  if (id) env->CallVoidMethodV(obj, id, args);
  va_end(args);
  CheckException(env, method);
}

void CallStaticVoid(JNIEnv* env, const char* name, const char* method, const char* signature, ...) {
  jclass cls = Class(env, name);
  if (!cls) return;
  jmethodID id = env->GetStaticMethodID(cls, method, signature);
  va_list args;
  va_start(args, signature);
  if (id) env->CallStaticVoidMethodV(cls, id, args);
  va_end(args);
  CheckException(env, method);
  env->DeleteLocalRef(cls);
}

jstring Text(JNIEnv* env, const std::string& s) { return env->NewStringUTF(s.c_str()); }

std::string ToString(JNIEnv* env, jstring text) {
  if (!text) return "<null>";
  const char* chars = env->GetStringUTFChars(text, nullptr);
  std::string out = chars;
  env->ReleaseStringUTFChars(text, chars);
  return out;
}

std::string ObjectField(JNIEnv* env, jobject obj, const char* field, bool bytes) {
  if (!obj) return "<null object>";
  jclass cls = env->GetObjectClass(obj);
  jfieldID id = env->GetFieldID(cls, field, bytes ? "[B" : "Ljava/lang/String;");
  env->DeleteLocalRef(cls);
  CheckException(env, field);
  if (!id) return "<no field>";
  jobject value = env->GetObjectField(obj, id);
  if (!value) return "<null>";
  std::string out;
  if (bytes) {
    auto array = static_cast<jbyteArray>(value);
    jsize n = env->GetArrayLength(array);
    out.resize(static_cast<size_t>(n));
    if (n) env->GetByteArrayRegion(array, 0, n, reinterpret_cast<jbyte*>(&out[0]));
  } else {
    out = ToString(env, static_cast<jstring>(value));
  }
  env->DeleteLocalRef(value);
  return out;
}

}  // namespace korvo::jvm_test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!korvo::jvm_test::StartJvm()) return 1;
  // The JVM stays up until the process ends: it cannot be restarted.
  return RUN_ALL_TESTS();
}

// Executor and FirstStageExecutor natives, and the result object they build.
#include <jni.h>

#include "interface/exports.h"
#include "interface/jni_natives.h"
#include "interface/jni_util.h"

namespace {

constexpr char kResponseClass[] = "quarnel/firmwaredownload/ExeResponse";

// A new ExeResponse, or null (exception cleared) when it cannot be made.
jobject NewResponse(JNIEnv* env) {
  jclass cls = env->FindClass(kResponseClass);
  if (!cls) {
    env->ExceptionClear();
    return nullptr;
  }
  jobject response = nullptr;
  jmethodID constructor = env->GetMethodID(cls, "<init>", "()V");
  if (constructor) response = env->NewObject(cls, constructor);
  if (!response) env->ExceptionClear();
  env->DeleteLocalRef(cls);
  return response;
}

void SetInt(JNIEnv* env, jobject object, const char* field, jint value) {
  jclass cls = env->GetObjectClass(object);
  jfieldID id = env->GetFieldID(cls, field, "I");
  if (id) env->SetIntField(object, id, value); else env->ExceptionClear();
  env->DeleteLocalRef(cls);
}

void SetBoolean(JNIEnv* env, jobject object, const char* field, bool value) {
  jclass cls = env->GetObjectClass(object);
  jfieldID id = env->GetFieldID(cls, field, "Z");
  if (id) env->SetBooleanField(object, id, value ? JNI_TRUE : JNI_FALSE); else env->ExceptionClear();
  env->DeleteLocalRef(cls);
}

void SetString(JNIEnv* env, jobject object, const char* field, const std::string& value) {
  jclass cls = env->GetObjectClass(object);
  jfieldID id = env->GetFieldID(cls, field, "Ljava/lang/String;");
  jstring text = id ? korvo::ToJavaString(env, value) : nullptr;
  if (text) env->SetObjectField(object, id, text);
  if (!id) env->ExceptionClear();
  if (text) env->DeleteLocalRef(text);
  env->DeleteLocalRef(cls);
}

}  // namespace

extern "C" {

JNIEXPORT jobject JNICALL Java_quarnel_firmwaredownload_Executor_ExecuteDownloadIF(
    JNIEnv* env, jobject, jstring config_file, jstring key_file, jint device_to_skip,
    jint only_device) {
  return korvo::Guarded<jobject>(nullptr, [&]() -> jobject {
    std::string config = korvo::ToNarrowString(env, config_file);
    std::string key = korvo::ToNarrowString(env, key_file);
    int device_error = 0;
    bool only_app = false;
    int device_uploaded = -1;
    std::string info;
    int result = ExecuteDownload(config.c_str(), key.c_str(), &device_error, &only_app,
                                 &device_uploaded, device_to_skip, only_device, &info);
    jobject response = NewResponse(env);
    if (!response) return nullptr;  // the download has run all the same
    SetInt(env, response, "iManagerError", result);
    SetInt(env, response, "iDeviceError", device_error);
    if (!info.empty()) SetString(env, response, "sAdditionalInfo", info);
    if (only_app) {
      SetBoolean(env, response, "bOnlyAppDownloaded", true);
      SetInt(env, response, "iDeviceWhichWasUploaded", device_uploaded);
    }
    return response;
  });
}

JNIEXPORT jobject JNICALL
Java_quarnel_firmwaredownload_FirstStageExecutor_ExecuteFirstStageDownloadIF(JNIEnv* env, jclass,
                                                                            jstring config_file) {
  return korvo::Guarded<jobject>(nullptr, [&]() -> jobject {
    std::string config = korvo::ToNarrowString(env, config_file);
    int device_error = 0;
    int result = ExecuteFirstStageDownload(config.c_str(), &device_error);
    jobject response = NewResponse(env);
    if (!response) return nullptr;
    SetInt(env, response, "iManagerError", result);
    SetInt(env, response, "iDeviceError", device_error);
    return response;
  });
}

JNIEXPORT jstring JNICALL Java_quarnel_firmwaredownload_Executor_DryRunDownloadIF(
    JNIEnv* env, jobject, jstring config_file, jstring key_file, jint device_to_skip,
    jint only_device) {
  return korvo::Guarded<jstring>(nullptr, [&]() -> jstring {
    std::string config = korvo::ToNarrowString(env, config_file);
    std::string key = korvo::ToNarrowString(env, key_file);
    std::string info, report;
    DryRunDownload(config.c_str(), key.c_str(), device_to_skip, only_device, &info);
    GetLastReport(&report);
    return korvo::ToJavaString(env, report);
  });
}

JNIEXPORT jstring JNICALL Java_quarnel_firmwaredownload_Executor_GetLastReportIF(JNIEnv* env,
                                                                               jclass) {
  return korvo::Guarded<jstring>(nullptr, [&]() -> jstring {
    std::string report;
    GetLastReport(&report);
    return korvo::ToJavaString(env, report);
  });
}

JNIEXPORT jstring JNICALL Java_quarnel_firmwaredownload_Executor_GetResultTextIF(
    JNIEnv* env, jclass, jstring operation, jint code) {
  return korvo::Guarded<jstring>(nullptr, [&]() -> jstring {
    return korvo::ToJavaString(env, GetResultText(korvo::ToNarrowString(env, operation).c_str(),
                                                  code));
  });
}

}  // extern "C"

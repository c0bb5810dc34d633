// One JVM for the whole test binary, with the compiled Java classes on its
// class path and the TAVISInterface natives bound to this process's copy of
// the library (no libKorvo.so is loaded).
#pragma once

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
bool PendingException(JNIEnv* env);

}  // namespace korvo::jvm_test

#include "interface/jni_util.h"

namespace korvo {

std::string ToNarrowString(JNIEnv* env, jstring text) {
  if (!env || !text) return std::string();
  const char* chars = env->GetStringUTFChars(text, nullptr);
  if (!chars) {
    env->ExceptionClear();
    return std::string();
  }
  std::string out(chars);
  env->ReleaseStringUTFChars(text, chars);
  return out;
}

jstring ToJavaString(JNIEnv* env, const std::string& text) {
  jstring s = env->NewStringUTF(text.c_str());
  if (!s) env->ExceptionClear();
  return s;
}

}  // namespace korvo

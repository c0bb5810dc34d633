#include "interface/jni_util.h"

#include <vector>

#include "platform/unicode.h"

namespace korvo {

// JNI's "UTF" calls speak modified UTF-8, in which a character outside the
// Basic Multilingual Plane is two three-byte surrogates; paths and texts
// must be real UTF-8, so every string goes through UTF-16.
static_assert(sizeof(jchar) == sizeof(char16_t), "Java strings are UTF-16");

namespace {

// Detaches a thread that the library attached, when the thread ends.
struct AttachedThread {
  JavaVM* vm = nullptr;
  ~AttachedThread() {
    if (vm) vm->DetachCurrentThread();
  }
};
thread_local AttachedThread attached_thread;

}  // namespace

JNIEnv* EnvironmentOfThisThread(JavaVM* vm) {
  void* env = nullptr;
  jint status = vm->GetEnv(&env, JNI_VERSION_1_6);
  if (status == JNI_OK) return static_cast<JNIEnv*>(env);
  if (status != JNI_EDETACHED) return nullptr;
  // A daemon thread does not keep the JVM from shutting down.
  if (vm->AttachCurrentThreadAsDaemon(&env, nullptr) != JNI_OK) return nullptr;
  attached_thread.vm = vm;
  return static_cast<JNIEnv*>(env);
}

std::string ToNarrowString(JNIEnv* env, jstring text) {
  if (!env || !text) return std::string();
  jsize length = env->GetStringLength(text);
  if (length <= 0) return std::string();
  std::vector<jchar> units(static_cast<size_t>(length));
  env->GetStringRegion(text, 0, length, units.data());
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    return std::string();
  }
  return Utf16ToUtf8(reinterpret_cast<const char16_t*>(units.data()), units.size());
}

jstring ToJavaString(JNIEnv* env, const std::string& text) {
  std::u16string units = Utf8ToUtf16(text);
  jstring s = env->NewString(reinterpret_cast<const jchar*>(units.data()),
                             static_cast<jsize>(units.size()));
  if (!s) env->ExceptionClear();
  return s;
}

}  // namespace korvo

#include "interface/java_debug_lines.h"

#include <mutex>
#include <string>

#include "interface/jni_util.h"
#include "platform/debug_output.h"

namespace korvo {
namespace {

// Held while a line is handed over, so that the class stays while in use
// and lines from several threads arrive one after another. Recursive: the
// Java method may turn the forwarding off.
std::recursive_mutex g_mutex;
JavaVM* g_vm = nullptr;
jclass g_class = nullptr;  // global reference
jmethodID g_method = nullptr;

void ToJava(const char* text, size_t length) {
  std::lock_guard<std::recursive_mutex> hold(g_mutex);
  if (!g_vm || !g_class) return;
  JNIEnv* env = EnvironmentOfThisThread(g_vm);
  if (!env) return;
  // A line printed while an exception is pending (between a callback and
  // its check) must not lose the exception, nor call Java with it pending.
  jthrowable pending = env->ExceptionOccurred();
  if (pending) env->ExceptionClear();
  try {
    jstring line = ToJavaString(env, std::string(text, length));
    if (line) {
      env->CallStaticVoidMethod(g_class, g_method, line);
      if (env->ExceptionCheck()) env->ExceptionClear();
      env->DeleteLocalRef(line);
    }
  } catch (...) {
    // out of memory for the copy: the line is dropped
  }
  if (pending) {
    env->Throw(pending);
    env->DeleteLocalRef(pending);
  }
}

// Unloading the library turns the forwarding off: the JVM may be gone by
// the time the last static destructors print.
struct Unhook {
  ~Unhook() { SetDebugSink(nullptr); }
} g_unhook;

}  // namespace

void ForwardDebugLinesToJava(JNIEnv* env, jclass cls, bool forward) {
  if (!env) return;
  JavaVM* vm = nullptr;
  jmethodID method = nullptr;
  if (forward && cls && env->GetJavaVM(&vm) == JNI_OK) {
    method = env->GetStaticMethodID(cls, "DebugLine", "(Ljava/lang/String;)V");
    if (env->ExceptionCheck()) env->ExceptionClear();
  }
  if (forward && !method) return;
  jclass global = method ? static_cast<jclass>(env->NewGlobalRef(cls)) : nullptr;
  if (method && !global) return;
  std::lock_guard<std::recursive_mutex> hold(g_mutex);
  SetDebugSink(global ? ToJava : nullptr);
  if (g_class) env->DeleteGlobalRef(g_class);
  g_vm = vm;
  g_class = global;
  g_method = method;
}

}  // namespace korvo

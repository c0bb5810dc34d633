// Helpers every native uses: argument conversion and the guard that keeps
// C++ exceptions out of the JVM. A native converts its arguments, makes one
// call on the manager's object and converts the result.
#pragma once

#include <jni.h>

#include <string>

namespace korvo {

// The UTF-8 text of a Java string; a null string counts as "".
std::string ToNarrowString(JNIEnv* env, jstring text);

// A new Java string from UTF-8 text (a byte that is not UTF-8 stands for
// itself); null when the JVM cannot make one.
jstring ToJavaString(JNIEnv* env, const std::string& text);

// The JNI environment of the calling thread, which is attached to `vm` (as
// a daemon, detached when it ends) when it is not attached yet; null when
// the JVM gives none.
JNIEnv* EnvironmentOfThisThread(JavaVM* vm);

// Runs `body`; any escaping C++ exception gives `failure` instead.
template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

template <typename Body>
void GuardedVoid(Body&& body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

}  // namespace korvo

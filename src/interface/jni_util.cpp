#include "interface/jni_util.h"

#include <vector>

#include "platform/unicode.h"

namespace korvo {

// JNI's "UTF" calls speak modified UTF-8, in which a character outside the
// Basic Multilingual Plane is two three-byte surrogates; paths and texts
// must be real UTF-8, so every string goes through UTF-16.
static_assert(sizeof(jchar) == sizeof(char16_t), "Java strings are UTF-16");

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

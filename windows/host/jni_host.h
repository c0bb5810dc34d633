// A Java virtual machine as far as Korvo's natives use one, written from
// the public JNI reference, so that Korvo.dll's natives run in a Windows
// process without a Windows JVM: classes with fields, a constructor and
// static int methods played by the host, objects, strings and byte arrays,
// local references in frames and global references, pending exceptions,
// and a JNIEnv per thread (attached on request, as a JVM does).
//
// Like a JVM run with -Xcheck:jni it records what the natives do wrong: a
// JNI call with an exception pending, a reference that is not live, a field
// set with the wrong type, more local references at once than JNI
// guarantees, array elements never released. A function-table slot it does
// not implement ends the process naming the slot, so that a function the
// library starts to call cannot slip by.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <jni.h>

#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace jni_host {

// A static int method, given one jvalue per parameter of its signature.
using StaticMethod = std::function<jint(const std::vector<jvalue>& args)>;

struct StaticSpec {
  std::string name;
  std::string signature;  // "(Ljava/lang/String;[B)I"
  StaticMethod run;
};

struct ClassSpec {
  std::string name;  // "quarnel/firmwaredownload/ExeResponse"
  std::vector<std::pair<std::string, std::string>> fields;  // instance fields: name, signature
  bool constructible = false;                               // "<init>" "()V"
  std::vector<StaticSpec> statics;
};

// Makes a class findable by FindClass. java/lang/Object, java/lang/Class
// and java/lang/String are always there.
void DefineClass(const ClassSpec& shape);

// The calling thread's JNIEnv; the thread counts as a Java thread from now on.
JNIEnv* ThreadEnv();

// A native call as the JVM makes it: a new frame of local references,
// which ends with the call. Pass gives the native its own local reference
// to each reference argument (other values pass as they are).
class NativeFrame {
 public:
  NativeFrame();
  ~NativeFrame();
  NativeFrame(const NativeFrame&) = delete;
  NativeFrame& operator=(const NativeFrame&) = delete;

  template <typename T>
  T Pass(T value) {
    if constexpr (std::is_convertible_v<T, jobject>) {
      return static_cast<T>(PassReference(value));
    } else {
      return value;
    }
  }

 private:
  jobject PassReference(jobject handle);
};

// The Java side's own access to objects (no reference checks).
jobject NewInstance(const std::string& class_name);
jclass FindClassObject(const std::string& name);
jstring NewJavaString(const std::string& utf8);
jbyteArray NewJavaBytes(const std::string& bytes);
std::string StringText(jstring text);  // UTF-8; "<null>" for a null string
std::string ArrayBytes(jbyteArray array);
jint IntField(jobject object, const std::string& name);
bool BooleanField(jobject object, const std::string& name);
jobject ObjectField(jobject object, const std::string& name);

// Leaves `text` pending on the calling thread, as a static method that throws.
void Throw(const std::string& text);

// What the natives did wrong so far, and what they still hold.
std::vector<std::string> Faults();
size_t GlobalReferences();
size_t UnreleasedElements();

}  // namespace jni_host

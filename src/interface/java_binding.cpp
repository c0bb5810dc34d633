#include "interface/java_binding.h"

#include "interface/jni_util.h"
#include "platform/debug_output.h"
#include "platform/sync.h"

namespace korvo {
namespace {

// True (and the exception cleared) when the last JNI call left one pending.
bool ClearedException(JNIEnv* env) {
  if (!env->ExceptionCheck()) return false;
  env->ExceptionClear();
  return true;
}

}  // namespace

JavaBinding& JavaBinding::Instance() {
  // Never destroyed: an operation still running at unload may reach it.
  static JavaBinding* binding = new JavaBinding;
  return *binding;
}

void JavaBinding::Record(JNIEnv* env, jobject caller) {
  if (!env) return;
  JavaVM* vm = nullptr;
  if (env->GetJavaVM(&vm) != JNI_OK) vm = nullptr;
  jclass cls = nullptr;
  if (caller) {
    jclass class_class = env->FindClass("java/lang/Class");
    ClearedException(env);
    if (class_class && env->IsInstanceOf(caller, class_class)) {
      cls = static_cast<jclass>(env->NewLocalRef(caller));  // a static native
    } else {
      cls = env->GetObjectClass(caller);
    }
    if (class_class) env->DeleteLocalRef(class_class);
  }
  static const char* const kNames[kMethodCount] = {"SendCommandMN", "SendCommandRN",
                                                   "SendCommandEN", "UpdateStatus",
                                                   "CleanUpInterface"};
  static const char* const kSignatures[kMethodCount] = {
      "(Ljava/lang/String;[B)I", "(Ljava/lang/String;)I", "(Ljava/lang/String;[B)I",
      "(Ljava/lang/String;I)I", "()I"};
  jmethodID ids[kMethodCount] = {};
  for (int i = 0; cls && i < kMethodCount; ++i) {
    ids[i] = env->GetStaticMethodID(cls, kNames[i], kSignatures[i]);
    ClearedException(env);  // a missing callback stays null
  }
  // The class must outlive this native call: keep a global reference.
  jclass global = cls ? static_cast<jclass>(env->NewGlobalRef(cls)) : nullptr;
  if (cls) env->DeleteLocalRef(cls);

  jclass old = nullptr;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    old = class_;
    vm_ = vm;
    class_ = global;
    for (int i = 0; i < kMethodCount; ++i) ids_[i] = global ? ids[i] : nullptr;
  }
  if (old) env->DeleteGlobalRef(old);
}

bool JavaBinding::CanReportStatus() const {
  if (StopRequested()) return false;
  std::lock_guard<std::mutex> hold(mutex_);
  return vm_ && ids_[kUpdateStatus];
}

// Once the library is being unloaded the JVM is on its way out: a thread
// that calls into it then may never come back.
bool JavaBinding::Resolve(Method method, Target* target) const {
  if (StopRequested()) return false;
  JavaVM* vm;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    vm = vm_;
    target->cls = class_;
    target->id = ids_[method];
  }
  if (!vm || !target->cls || !target->id) return false;
  target->env = EnvironmentOfThisThread(vm);
  return target->env != nullptr;
}

int JavaBinding::CallWithBytes(Method method, const std::string& name, const uint8_t* bytes,
                               size_t count) {
  Target t;
  if (!Resolve(method, &t)) return -1;
  JNIEnv* env = t.env;
  if (ClearedException(env)) {
    DebugPrint("Java exception pending before a device command; cleared\n");
  }
  if (count > 0x7FFFFFFF || !bytes) count = 0;
  jstring jname = ToJavaString(env, name);
  jbyteArray array = jname ? env->NewByteArray(static_cast<jsize>(count)) : nullptr;
  int result = -1;
  if (array) {
    if (count > 0)
      env->SetByteArrayRegion(array, 0, static_cast<jsize>(count),
                              reinterpret_cast<const jbyte*>(bytes));
    env->CallStaticIntMethod(t.cls, t.id, jname, array);
    result = 0;
  }
  // A callback that threw may have sent the command all the same.
  ClearedException(env);
  if (array) env->DeleteLocalRef(array);
  if (jname) env->DeleteLocalRef(jname);
  return result;
}

int JavaBinding::SendMethodCall(const std::string& method, const uint8_t* bytes, size_t count) {
  return CallWithBytes(kSendMN, method, bytes, count);
}

int JavaBinding::SendEventRequest(const std::string& event, const uint8_t* bytes, size_t count) {
  return CallWithBytes(kSendEN, event, bytes, count);
}

int JavaBinding::SendVariableRead(const std::string& variable) {
  Target t;
  if (!Resolve(kSendRN, &t)) return -1;
  JNIEnv* env = t.env;
  ClearedException(env);
  jstring jname = ToJavaString(env, variable);
  int result = -1;
  if (jname) {
    env->CallStaticIntMethod(t.cls, t.id, jname);
    result = 0;
  }
  ClearedException(env);
  if (jname) env->DeleteLocalRef(jname);
  return result;
}

int JavaBinding::UpdateStatus(const std::string& text, int percent) {
  Target t;
  if (!Resolve(kUpdateStatus, &t)) return -1;
  JNIEnv* env = t.env;
  ClearedException(env);
  jstring jtext = ToJavaString(env, text);
  int result = -1;
  if (jtext) result = env->CallStaticIntMethod(t.cls, t.id, jtext, static_cast<jint>(percent));
  if (ClearedException(env)) result = -1;
  if (jtext) env->DeleteLocalRef(jtext);
  return result;
}

int JavaBinding::CleanUpInterface() {
  Target t;
  if (!Resolve(kCleanUp, &t)) return -1;
  JNIEnv* env = t.env;
  ClearedException(env);
  int result = env->CallStaticIntMethod(t.cls, t.id);
  if (ClearedException(env)) result = -1;
  return result;
}

void JavaBinding::ReportStatus(const std::string& text, int percent) {
  if (CanReportStatus()) UpdateStatus(text, percent);
}

}  // namespace korvo

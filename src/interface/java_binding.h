// The binding to the Java front end that SetupJNI records: the JVM, the
// front end's class and its five static callbacks. Process-wide.
//
// Callbacks may come from any thread: each call takes the calling thread's
// JNI environment (attaching the thread to the JVM when it is not attached
// yet), clears any Java exception the callback threw, and frees its local
// references at once, so a long download adds none.
//
// Thread safety: all members may be called from any thread; Record replaces
// the binding and is meant to run before the other calls (as SetupJNI does).
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "download/host_services.h"

namespace korvo {

class JavaBinding final : public HostServices {
 public:
  static JavaBinding& Instance();

  // Keeps the JVM of `env`, a global reference to the front end's class
  // (the class of `caller`, or `caller` itself when it is a class) and the
  // five static method IDs. A method that is not found leaves its ID null.
  void Record(JNIEnv* env, jobject caller);

  // True when a JVM is recorded and UpdateStatus was found: the condition
  // under which UpdateStatus and CleanUpInterface are called at all.
  bool CanReportStatus() const override;

  // SendCommandMN, SendCommandRN, SendCommandEN: 0 when the callback was
  // called (its result is not looked at, and one that threw may have sent
  // the command), -1 when it could not be called (not bound, no
  // environment, out of memory, the library being unloaded).
  int SendMethodCall(const std::string& method, const uint8_t* bytes, size_t count) override;
  int SendVariableRead(const std::string& variable) override;
  int SendEventRequest(const std::string& event, const uint8_t* bytes, size_t count) override;
  // The callback's int, or -1 when it could not be called or threw.
  int UpdateStatus(const std::string& text, int percent);
  int CleanUpInterface() override;

  // UpdateStatus when CanReportStatus(); otherwise nothing.
  void ReportStatus(const std::string& text, int percent) override;

 private:
  enum Method { kSendMN, kSendRN, kSendEN, kUpdateStatus, kCleanUp, kMethodCount };
  struct Target {
    JNIEnv* env = nullptr;
    jclass cls = nullptr;
    jmethodID id = nullptr;
  };

  JavaBinding() = default;
  bool Resolve(Method method, Target* target) const;
  int CallWithBytes(Method method, const std::string& name, const uint8_t* bytes, size_t count);

  mutable std::mutex mutex_;
  JavaVM* vm_ = nullptr;
  jclass class_ = nullptr;  // global reference
  jmethodID ids_[kMethodCount] = {};
};

}  // namespace korvo

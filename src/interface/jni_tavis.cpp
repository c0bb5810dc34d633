// TAVISInterface natives: binding, connect, login, answer delivery, the
// serial ports and the debug lines.
#include <jni.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "device/port_probe.h"
#include "interface/download_manager.h"
#include "interface/java_binding.h"
#include "interface/java_debug_lines.h"
#include "interface/jni_natives.h"
#include "interface/jni_util.h"

namespace {

// The bytes of a Java array in a new[] buffer; a null array gives none.
std::unique_ptr<uint8_t[]> CopyBytes(JNIEnv* env, jbyteArray array, int* count) {
  *count = 0;
  jsize length = array ? env->GetArrayLength(array) : 0;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[length > 0 ? length : 1]);
  if (length > 0) {
    jbyte* elements = env->GetByteArrayElements(array, nullptr);
    if (!elements) {
      env->ExceptionClear();
      return buffer;
    }
    std::memcpy(buffer.get(), elements, static_cast<size_t>(length));
    env->ReleaseByteArrayElements(array, elements, 0);
    *count = length;
  }
  return buffer;
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_quarnel_firmwaredownload_TAVISInterface_SetupJNI(
    JNIEnv* env, jobject self, jstring communication_name, jstring baud_rate,
    jstring port_name) {
  korvo::GuardedVoid([&] {
    korvo::ConnectionSettings settings;
    settings.download_baud_rate = korvo::ToNarrowString(env, baud_rate);
    settings.serial_port_name = korvo::ToNarrowString(env, port_name);
    korvo::Manager().Setup(korvo::ToNarrowString(env, communication_name), settings,
                           [&] { korvo::JavaBinding::Instance().Record(env, self); });
  });
}

JNIEXPORT jstring JNICALL Java_quarnel_firmwaredownload_TAVISInterface_ConnectDeviceIF(
    JNIEnv* env, jobject) {
  std::string ident =
      korvo::Guarded(std::string(), [&] { return korvo::Manager().ConnectDevice(); });
  return korvo::Guarded<jstring>(nullptr, [&] { return korvo::ToJavaString(env, ident); });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_TAVISInterface_LoginDeviceIF(
    JNIEnv* env, jobject, jstring user_level, jstring password) {
  return korvo::Guarded(-1, [&] {
    return korvo::Manager().LoginDevice(korvo::ToNarrowString(env, user_level),
                                        korvo::ToNarrowString(env, password));
  });
}

JNIEXPORT void JNICALL Java_quarnel_firmwaredownload_TAVISInterface_ReceiveBytes(
    JNIEnv* env, jobject, jstring kind, jstring name, jbyteArray answer) {
  korvo::GuardedVoid([&] {
    std::string kind_text = korvo::ToNarrowString(env, kind);
    std::string name_text = korvo::ToNarrowString(env, name);
    int count = 0;
    std::unique_ptr<uint8_t[]> bytes = CopyBytes(env, answer, &count);
    korvo::Manager().RouteAnswer(kind_text, name_text, bytes.release(), count);
  });
}

JNIEXPORT jstring JNICALL Java_quarnel_firmwaredownload_TAVISInterface_ListSerialPortsIF(JNIEnv* env,
                                                                                        jclass) {
  return korvo::Guarded<jstring>(nullptr, [&] {
    return korvo::ToJavaString(env, korvo::SerialPortsJson(korvo::ListSerialPorts()));
  });
}

JNIEXPORT jstring JNICALL Java_quarnel_firmwaredownload_TAVISInterface_ProbeSerialPortIF(
    JNIEnv* env, jclass, jstring port, jint timeout_ms) {
  return korvo::Guarded<jstring>(nullptr, [&] {
    std::string name = korvo::ToNarrowString(env, port);
    // Never a wait without end: a minute at most.
    uint32_t timeout = timeout_ms <= 0 ? korvo::kDefaultProbeTimeoutMs
                                       : static_cast<uint32_t>(std::min<jint>(timeout_ms, 60000));
    return korvo::ToJavaString(env, korvo::PortProbeJson(name, korvo::ProbePort(name, timeout)));
  });
}

JNIEXPORT void JNICALL Java_quarnel_firmwaredownload_TAVISInterface_ForwardDebugLinesIF(
    JNIEnv* env, jclass cls, jboolean forward) {
  korvo::GuardedVoid([&] { korvo::ForwardDebugLinesToJava(env, cls, forward == JNI_TRUE); });
}

}  // extern "C"

// KeyFile natives: each forwards to the manager's key document; -1 when the
// manager has none.
#include <jni.h>

#include "interface/download_manager.h"
#include "interface/jni_natives.h"
#include "interface/jni_util.h"
#include "keys/key_document.h"

namespace {

using korvo::KeyDocument;

// Runs `call` on the manager's key document, as the one key-kind
// operation; -1 without one or on any escaping exception.
template <typename Call>
jint WithKeyDocument(const char* what, Call&& call) noexcept {
  return korvo::Guarded<jint>(korvo::kKeyManagerMissing, [&]() -> jint {
    korvo::DownloadManager& manager = korvo::Manager();
    return manager.Exclusive(korvo::OperationKind::kKeys, what, korvo::kKeyBusy, [&] {
      KeyDocument* keys = manager.GetKeyDocument();
      return keys ? call(*keys) : korvo::kKeyManagerMissing;
    });
  });
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_OpenKeyDocumentIF(JNIEnv* env,
                                                                                 jobject,
                                                                                 jstring file) {
  return WithKeyDocument("OpenKeyDocumentIF", [&](KeyDocument& keys) {
    return keys.Open(korvo::ToNarrowString(env, file), false);
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_CloseKeyDocumentIF(JNIEnv*, jobject,
                                                                                  jboolean save) {
  return WithKeyDocument("CloseKeyDocumentIF",
                         [&](KeyDocument& keys) { return keys.Close(save != JNI_FALSE); });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_AddKeyDeviceIF(JNIEnv*, jobject) {
  return WithKeyDocument("AddKeyDeviceIF", [](KeyDocument& keys) { return keys.AddKeyDevice(); });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_SetDeviceKeyIF(JNIEnv* env, jobject,
                                                                              jint device,
                                                                              jstring key) {
  return WithKeyDocument("SetDeviceKeyIF", [&](KeyDocument& keys) {
    return keys.SetDeviceKey(device, korvo::ToNarrowString(env, key));
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_AddKeySignatureIF(JNIEnv*, jobject,
                                                                                 jint device) {
  return WithKeyDocument("AddKeySignatureIF",
                         [&](KeyDocument& keys) { return keys.AddKeySignature(device); });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_SetKeySignatureAttributesIF(
    JNIEnv* env, jobject, jint device, jint signature, jstring value, jstring name) {
  return WithKeyDocument("SetKeySignatureAttributesIF", [&](KeyDocument& keys) {
    return keys.SetKeySignatureAttributes(device, signature, korvo::ToNarrowString(env, value),
                                          korvo::ToNarrowString(env, name));
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_AddKeyIdentficationRuleIF(
    JNIEnv* env, jobject, jint device, jint type, jstring name, jstring value, jint index) {
  return WithKeyDocument("AddKeyIdentficationRuleIF", [&](KeyDocument& keys) {
    return keys.AddKeyIdentficationRule(device, type, korvo::ToNarrowString(env, name),
                                        korvo::ToNarrowString(env, value), index);
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_SetKeyUserAccessIF(
    JNIEnv*, jobject, jint device, jint signature, jint level, jint access) {
  return WithKeyDocument("SetKeyUserAccessIF", [&](KeyDocument& keys) {
    return keys.SetKeyUserAccess(device, signature, level, access);
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_AddKeyUserRuleIF(
    JNIEnv* env, jobject, jint device, jint signature, jint level, jint datatype, jint op,
    jstring specified_value, jstring name, jint type, jint index) {
  return WithKeyDocument("AddKeyUserRuleIF", [&](KeyDocument& keys) {
    return keys.AddKeyUserRule(device, signature, level, datatype, op,
                               korvo::ToNarrowString(env, specified_value),
                               korvo::ToNarrowString(env, name), type, index);
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_CompressIF(JNIEnv* env, jobject,
                                                                          jstring input,
                                                                          jstring output) {
  return WithKeyDocument("CompressIF", [&](KeyDocument& keys) {
    return keys.Compress(korvo::ToNarrowString(env, input), korvo::ToNarrowString(env, output));
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_DeCompressIF(JNIEnv* env, jobject,
                                                                            jstring input,
                                                                            jstring output) {
  return WithKeyDocument("DeCompressIF", [&](KeyDocument& keys) {
    return keys.Decompress(korvo::ToNarrowString(env, input), korvo::ToNarrowString(env, output));
  });
}

}  // extern "C"

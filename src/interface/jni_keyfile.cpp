// KeyFile natives: each forwards to the manager's key document; -1 when the
// manager has none.
#include <jni.h>

#include "interface/download_manager.h"
#include "interface/jni_natives.h"
#include "interface/jni_util.h"
#include "keys/key_document.h"

namespace {

using korvo::KeyDocument;

// Runs `call` on the manager's key document; -1 without one or on any
// escaping exception.
template <typename Call>
jint WithKeyDocument(Call&& call) noexcept {
  return korvo::Guarded<jint>(korvo::kKeyManagerMissing, [&]() -> jint {
    KeyDocument* keys = korvo::Manager().GetKeyDocument();
    return keys ? call(*keys) : korvo::kKeyManagerMissing;
  });
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_OpenKeyDocumentIF(JNIEnv* env,
                                                                                 jobject,
                                                                                 jstring file) {
  return WithKeyDocument(
      [&](KeyDocument& keys) { return keys.Open(korvo::ToNarrowString(env, file), false); });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_CloseKeyDocumentIF(JNIEnv*, jobject,
                                                                                  jboolean save) {
  return WithKeyDocument([&](KeyDocument& keys) { return keys.Close(save != JNI_FALSE); });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_AddKeyDeviceIF(JNIEnv*, jobject) {
  return WithKeyDocument([](KeyDocument& keys) { return keys.AddKeyDevice(); });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_SetDeviceKeyIF(JNIEnv* env, jobject,
                                                                              jint device,
                                                                              jstring key) {
  return WithKeyDocument([&](KeyDocument& keys) {
    return keys.SetDeviceKey(device, korvo::ToNarrowString(env, key));
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_AddKeySignatureIF(JNIEnv*, jobject,
                                                                                 jint device) {
  return WithKeyDocument([&](KeyDocument& keys) { return keys.AddKeySignature(device); });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_SetKeySignatureAttributesIF(
    JNIEnv* env, jobject, jint device, jint signature, jstring value, jstring name) {
  return WithKeyDocument([&](KeyDocument& keys) {
    return keys.SetKeySignatureAttributes(device, signature, korvo::ToNarrowString(env, value),
                                          korvo::ToNarrowString(env, name));
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_AddKeyIdentficationRuleIF(
    JNIEnv* env, jobject, jint device, jint type, jstring name, jstring value, jint index) {
  return WithKeyDocument([&](KeyDocument& keys) {
    return keys.AddKeyIdentficationRule(device, type, korvo::ToNarrowString(env, name),
                                        korvo::ToNarrowString(env, value), index);
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_SetKeyUserAccessIF(
    JNIEnv*, jobject, jint device, jint signature, jint level, jint access) {
  return WithKeyDocument([&](KeyDocument& keys) {
    return keys.SetKeyUserAccess(device, signature, level, access);
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_AddKeyUserRuleIF(
    JNIEnv* env, jobject, jint device, jint signature, jint level, jint datatype, jint op,
    jstring specified_value, jstring name, jint type, jint index) {
  return WithKeyDocument([&](KeyDocument& keys) {
    return keys.AddKeyUserRule(device, signature, level, datatype, op,
                               korvo::ToNarrowString(env, specified_value),
                               korvo::ToNarrowString(env, name), type, index);
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_CompressIF(JNIEnv* env, jobject,
                                                                          jstring input,
                                                                          jstring output) {
  return WithKeyDocument([&](KeyDocument& keys) {
    return keys.Compress(korvo::ToNarrowString(env, input), korvo::ToNarrowString(env, output));
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_DeCompressIF(JNIEnv* env, jobject,
                                                                            jstring input,
                                                                            jstring output) {
  return WithKeyDocument([&](KeyDocument& keys) {
    return keys.Decompress(korvo::ToNarrowString(env, input), korvo::ToNarrowString(env, output));
  });
}

}  // extern "C"

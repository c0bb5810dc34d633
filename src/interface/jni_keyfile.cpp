// KeyFile natives. Not wired to the key document yet: each reports -1.
#include <jni.h>

extern "C" {

#define KORVO_KEYFILE_STUB(name, ...) \
  JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_##name(JNIEnv*, jobject, ##__VA_ARGS__) { return -1; }

KORVO_KEYFILE_STUB(OpenKeyDocumentIF, jstring)
KORVO_KEYFILE_STUB(CloseKeyDocumentIF, jboolean)
KORVO_KEYFILE_STUB(AddKeyDeviceIF)
KORVO_KEYFILE_STUB(SetDeviceKeyIF, jint, jstring)
KORVO_KEYFILE_STUB(AddKeySignatureIF, jint)
KORVO_KEYFILE_STUB(SetKeySignatureAttributesIF, jint, jint, jstring, jstring)
KORVO_KEYFILE_STUB(AddKeyIdentficationRuleIF, jint, jint, jstring, jstring, jint)
KORVO_KEYFILE_STUB(SetKeyUserAccessIF, jint, jint, jint, jint)
KORVO_KEYFILE_STUB(AddKeyUserRuleIF, jint, jint, jint, jint, jint, jstring, jstring, jint, jint)
KORVO_KEYFILE_STUB(CompressIF, jstring, jstring)
KORVO_KEYFILE_STUB(DeCompressIF, jstring, jstring)

}  // extern "C"

// Configurator natives. Not wired to the project document yet: each reports -1.
#include <jni.h>

extern "C" {

#define KORVO_CONFIGURATOR_STUB(name, ...) \
  JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_##name(JNIEnv*, jobject, ##__VA_ARGS__) { return -1; }

KORVO_CONFIGURATOR_STUB(CreateConfigFileIF, jstring)
KORVO_CONFIGURATOR_STUB(OpenProjectDocumentIF, jstring)
KORVO_CONFIGURATOR_STUB(CloseProjectDocumentIF, jboolean)
KORVO_CONFIGURATOR_STUB(SetProjectConfigFilenameEntryIF, jstring)
KORVO_CONFIGURATOR_STUB(SetProjectSystemEntryIF, jstring, jstring, jboolean)
KORVO_CONFIGURATOR_STUB(AddProjectDeviceIF)
KORVO_CONFIGURATOR_STUB(SetProjectDeviceConfigurationEntryIF, jint, jstring, jstring, jboolean)
KORVO_CONFIGURATOR_STUB(AddProjectDeviceConfigurationEntryIF, jint, jstring, jstring, jboolean)
KORVO_CONFIGURATOR_STUB(SetProjectDeviceConversionEntryAttributeIF, jint, jstring, jstring, jstring)
KORVO_CONFIGURATOR_STUB(SetProjectDeviceConversionEntryIF, jint, jstring, jstring)

}  // extern "C"

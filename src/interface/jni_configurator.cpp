// Configurator natives: each converts its arguments, makes one call on the
// manager's configuration builder or its project document, and returns the
// result code; -1 when the manager has no builder.
#include <jni.h>

#include "config/configuration_builder.h"
#include "interface/download_manager.h"
#include "interface/jni_natives.h"
#include "interface/jni_util.h"

namespace {

using korvo::ConfigurationBuilder;
using korvo::ProjectDocument;
using korvo::ToNarrowString;

// Runs `call` on the project document, as the one build-kind operation;
// an escaping exception counts as the document band's "other exception".
template <typename Call>
jint OnProject(const char* what, Call&& call) {
  return korvo::Guarded<jint>(korvo::kProjectOtherException, [&]() -> jint {
    korvo::DownloadManager& manager = korvo::Manager();
    return manager.Exclusive(korvo::OperationKind::kBuild, what, korvo::kProjectBusy, [&] {
      ConfigurationBuilder* builder = manager.GetConfigurationBuilder();
      return builder ? call(builder->Project()) : korvo::kBuildNoBuilder;
    });
  });
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_CreateConfigFileIF(
    JNIEnv* env, jobject, jstring file_name) {
  return korvo::Guarded<jint>(korvo::kBuildOtherException, [&]() -> jint {
    return korvo::Manager().CreateConfigFile(ToNarrowString(env, file_name));
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_OpenProjectDocumentIF(
    JNIEnv* env, jobject, jstring file_name) {
  return OnProject("OpenProjectDocumentIF", [&](ProjectDocument& project) {
    return project.OpenProjectDocument(ToNarrowString(env, file_name));
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_CloseProjectDocumentIF(
    JNIEnv*, jobject, jboolean save) {
  return OnProject("CloseProjectDocumentIF", [&](ProjectDocument& project) {
    return project.CloseProjectDocument(save != JNI_FALSE);
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_SetProjectConfigFilenameEntryIF(
    JNIEnv* env, jobject, jstring file_name) {
  return OnProject("SetProjectConfigFilenameEntryIF", [&](ProjectDocument& project) {
    return project.SetProjectConfigFilenameEntry(ToNarrowString(env, file_name));
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_SetProjectSystemEntryIF(
    JNIEnv* env, jobject, jstring name, jstring value, jboolean transparent) {
  return OnProject("SetProjectSystemEntryIF", [&](ProjectDocument& project) {
    return project.SetProjectSystemEntry(ToNarrowString(env, name), ToNarrowString(env, value),
                                         transparent != JNI_FALSE);
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_AddProjectDeviceIF(JNIEnv*,
                                                                                      jobject) {
  return OnProject("AddProjectDeviceIF",
                   [&](ProjectDocument& project) { return project.AddProjectDevice(); });
}

JNIEXPORT jint JNICALL
Java_quarnel_firmwaredownload_Configurator_SetProjectDeviceConfigurationEntryIF(
    JNIEnv* env, jobject, jint device, jstring name, jstring value, jboolean transparent) {
  return OnProject("SetProjectDeviceConfigurationEntryIF", [&](ProjectDocument& project) {
    return project.SetProjectDeviceConfigurationEntry(
        device, ToNarrowString(env, name), ToNarrowString(env, value), transparent != JNI_FALSE);
  });
}

JNIEXPORT jint JNICALL
Java_quarnel_firmwaredownload_Configurator_AddProjectDeviceConfigurationEntryIF(
    JNIEnv* env, jobject, jint device, jstring name, jstring value, jboolean transparent) {
  return OnProject("AddProjectDeviceConfigurationEntryIF", [&](ProjectDocument& project) {
    return project.AddProjectDeviceConfigurationEntry(
        device, ToNarrowString(env, name), ToNarrowString(env, value), transparent != JNI_FALSE);
  });
}

JNIEXPORT jint JNICALL
Java_quarnel_firmwaredownload_Configurator_SetProjectDeviceConversionEntryAttributeIF(
    JNIEnv* env, jobject, jint device, jstring entry, jstring attribute, jstring value) {
  return OnProject("SetProjectDeviceConversionEntryAttributeIF", [&](ProjectDocument& project) {
    return project.SetProjectDeviceConversionEntryAttribute(
        device, ToNarrowString(env, entry), ToNarrowString(env, attribute),
        ToNarrowString(env, value));
  });
}

JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_SetProjectDeviceConversionEntryIF(
    JNIEnv* env, jobject, jint device, jstring entry, jstring value) {
  return OnProject("SetProjectDeviceConversionEntryIF", [&](ProjectDocument& project) {
    return project.SetProjectDeviceConversionEntry(device, ToNarrowString(env, entry),
                                                   ToNarrowString(env, value));
  });
}

}  // extern "C"

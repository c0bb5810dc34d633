// Every JNI native the library exports, one prototype each. The files that
// define them include this header, so the compiler holds each definition to
// its prototype; a host that registers the natives itself (RegisterNatives)
// takes their addresses from here.
#pragma once

#include <jni.h>

extern "C" {

// quarnel.firmwaredownload.Configurator
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_CreateConfigFileIF(
    JNIEnv* env, jobject self, jstring file_name);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_OpenProjectDocumentIF(
    JNIEnv* env, jobject self, jstring file_name);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_CloseProjectDocumentIF(
    JNIEnv* env, jobject self, jboolean save);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_SetProjectConfigFilenameEntryIF(
    JNIEnv* env, jobject self, jstring file_name);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_SetProjectSystemEntryIF(
    JNIEnv* env, jobject self, jstring name, jstring value, jboolean transparent);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_AddProjectDeviceIF(JNIEnv* env,
                                                                                      jobject self);
JNIEXPORT jint JNICALL
Java_quarnel_firmwaredownload_Configurator_SetProjectDeviceConfigurationEntryIF(
    JNIEnv* env, jobject self, jint device, jstring name, jstring value, jboolean transparent);
JNIEXPORT jint JNICALL
Java_quarnel_firmwaredownload_Configurator_AddProjectDeviceConfigurationEntryIF(
    JNIEnv* env, jobject self, jint device, jstring name, jstring value, jboolean transparent);
JNIEXPORT jint JNICALL
Java_quarnel_firmwaredownload_Configurator_SetProjectDeviceConversionEntryAttributeIF(
    JNIEnv* env, jobject self, jint device, jstring entry, jstring attribute, jstring value);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_Configurator_SetProjectDeviceConversionEntryIF(
    JNIEnv* env, jobject self, jint device, jstring entry, jstring value);

// quarnel.firmwaredownload.Executor (the report and text natives are
// static) and FirstStageExecutor (a static method)
JNIEXPORT jobject JNICALL Java_quarnel_firmwaredownload_Executor_ExecuteDownloadIF(
    JNIEnv* env, jobject self, jstring config_file, jstring key_file, jint device_to_skip,
    jint only_device);
JNIEXPORT jobject JNICALL
Java_quarnel_firmwaredownload_FirstStageExecutor_ExecuteFirstStageDownloadIF(JNIEnv* env,
                                                                            jclass cls,
                                                                            jstring config_file);
JNIEXPORT jstring JNICALL Java_quarnel_firmwaredownload_Executor_DryRunDownloadIF(
    JNIEnv* env, jobject self, jstring config_file, jstring key_file, jint device_to_skip,
    jint only_device);
JNIEXPORT jstring JNICALL Java_quarnel_firmwaredownload_Executor_GetLastReportIF(JNIEnv* env,
                                                                               jclass cls);
JNIEXPORT jstring JNICALL Java_quarnel_firmwaredownload_Executor_GetResultTextIF(
    JNIEnv* env, jclass cls, jstring operation, jint code);

// quarnel.firmwaredownload.KeyFile
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_OpenKeyDocumentIF(JNIEnv* env,
                                                                                 jobject self,
                                                                                 jstring file);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_CloseKeyDocumentIF(JNIEnv* env,
                                                                                  jobject self,
                                                                                  jboolean save);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_AddKeyDeviceIF(JNIEnv* env,
                                                                              jobject self);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_SetDeviceKeyIF(JNIEnv* env,
                                                                              jobject self,
                                                                              jint device,
                                                                              jstring key);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_AddKeySignatureIF(JNIEnv* env,
                                                                                 jobject self,
                                                                                 jint device);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_SetKeySignatureAttributesIF(
    JNIEnv* env, jobject self, jint device, jint signature, jstring value, jstring name);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_AddKeyIdentficationRuleIF(
    JNIEnv* env, jobject self, jint device, jint type, jstring name, jstring value, jint index);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_SetKeyUserAccessIF(
    JNIEnv* env, jobject self, jint device, jint signature, jint level, jint access);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_AddKeyUserRuleIF(
    JNIEnv* env, jobject self, jint device, jint signature, jint level, jint datatype, jint op,
    jstring specified_value, jstring name, jint type, jint index);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_CompressIF(JNIEnv* env, jobject self,
                                                                          jstring input,
                                                                          jstring output);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_KeyFile_DeCompressIF(JNIEnv* env,
                                                                            jobject self,
                                                                            jstring input,
                                                                            jstring output);

// quarnel.firmwaredownload.TAVISInterface
JNIEXPORT void JNICALL Java_quarnel_firmwaredownload_TAVISInterface_SetupJNI(
    JNIEnv* env, jobject self, jstring communication_name, jstring baud_rate, jstring port_name);
JNIEXPORT jstring JNICALL Java_quarnel_firmwaredownload_TAVISInterface_ConnectDeviceIF(JNIEnv* env,
                                                                                      jobject self);
JNIEXPORT jint JNICALL Java_quarnel_firmwaredownload_TAVISInterface_LoginDeviceIF(
    JNIEnv* env, jobject self, jstring user_level, jstring password);
JNIEXPORT void JNICALL Java_quarnel_firmwaredownload_TAVISInterface_ReceiveBytes(
    JNIEnv* env, jobject self, jstring kind, jstring name, jbyteArray answer);
// Static: the serial ports, a probe of one, and where debug lines go.
JNIEXPORT jstring JNICALL Java_quarnel_firmwaredownload_TAVISInterface_ListSerialPortsIF(JNIEnv* env,
                                                                                        jclass cls);
JNIEXPORT jstring JNICALL Java_quarnel_firmwaredownload_TAVISInterface_ProbeSerialPortIF(
    JNIEnv* env, jclass cls, jstring port, jint timeout_ms);
JNIEXPORT void JNICALL Java_quarnel_firmwaredownload_TAVISInterface_ForwardDebugLinesIF(
    JNIEnv* env, jclass cls, jboolean forward);

}  // extern "C"

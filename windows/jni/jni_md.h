/* Machine-dependent JNI types of a 32-bit Windows JVM, for the cross build:
   the JDK on this machine only ships the Linux ones, whose calling convention
   and integer widths differ. */
#ifndef KORVO_WIN32_JNI_MD_H
#define KORVO_WIN32_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif

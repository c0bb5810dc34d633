// The library's debug lines handed to the Java front end: each text goes
// to the static method DebugLine(String) of a class the front end names,
// on the thread that printed it, instead of the process's standard output.
//
// Thread-safe. The method is called with no lock of the library held but
// this one, so it may do anything except print library debug lines and
// wait for another thread that does.
#pragma once

#include <jni.h>

namespace korvo {

// `forward` true: from now on every debug line goes to `cls`.DebugLine
// (when the class has no such method, nothing changes); false: back to
// standard output.
void ForwardDebugLinesToJava(JNIEnv* env, jclass cls, bool forward);

}  // namespace korvo

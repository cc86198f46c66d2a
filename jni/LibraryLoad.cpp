// The library's load: the trace's switches are read here, once, after the C++ run-time has constructed everything.
#include <jni.h>

#include "trace/TraceSettings.h"

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM *, void *) {
    ReadTraceSettings();
    return JNI_VERSION_1_6;
}

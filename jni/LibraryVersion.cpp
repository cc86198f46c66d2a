// The library's release, which the Java loader compares with its own right after loading: a library left over from
// another release fails there with both versions named, instead of misbehaving later.
#include <jni.h>

#include "com_qel_usb_NativeLibrary.h"

extern "C" JNIEXPORT jstring JNICALL Java_com_qel_usb_NativeLibrary_nativeVersion(JNIEnv *env, jclass) {
    return env->NewStringUTF(VIRI_VERSION);
}

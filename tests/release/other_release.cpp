// A library of another release, as a stale copy on java.library.path would be: the loader must refuse it.
#include <jni.h>

extern "C" JNIEXPORT jstring JNICALL Java_com_qel_usb_NativeLibrary_nativeVersion(JNIEnv *env, jclass) {
    return env->NewStringUTF("0.9.7");
}

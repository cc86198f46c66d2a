// VIRIVOREzu.dll loaded the way the JVM loads it: LoadLibrary, then the native methods of com.qel.usb.UsbPort
// looked up by their exported names.
#pragma once

#include <windows.h>

#include <jni.h>

#include <string>

namespace winetest {

struct UsbPortLibrary {
    jint(JNICALL *usbInitPipe)(JNIEnv *, jobject, jobject, jint) = nullptr;
    jint(JNICALL *usbClosePipe)(JNIEnv *, jobject, jint) = nullptr;
    jint(JNICALL *usbReadInputPipe)(JNIEnv *, jobject, jint, jbyteArray) = nullptr;
    jint(JNICALL *usbWriteOutputPipe)(JNIEnv *, jobject, jint, jbyteArray) = nullptr;
    jint(JNICALL *usbGetCommTimeout)(JNIEnv *, jobject, jint) = nullptr;
    jint(JNICALL *usbSetCommTimeout)(JNIEnv *, jobject, jint, jint, jint, jint, jint, jint) = nullptr;
    jint(JNICALL *usbPurgeRequest)(JNIEnv *, jobject, jint) = nullptr;
    jint(JNICALL *usbGetGenericReadValue)(JNIEnv *, jobject) = nullptr;
    jint(JNICALL *usbGetGenericWriteValue)(JNIEnv *, jobject) = nullptr;
    jint(JNICALL *usbGetLastError)(JNIEnv *, jobject) = nullptr;
    jstring(JNICALL *usbGetErrorString)(JNIEnv *, jobject, jint) = nullptr;
    // Optional: what the JVM calls before it unloads the library.
    void(JNICALL *onUnload)(JavaVM *, void *) = nullptr;

    HMODULE module = nullptr;
};

// Loads the DLL, calls its JNI_OnLoad as the JVM does (which reads the trace's variables from the process
// environment), and resolves all eleven exports; on failure returns false and says why in `error`.
bool loadUsbPortLibrary(const std::string &path, UsbPortLibrary &library, std::string &error);

}  // namespace winetest

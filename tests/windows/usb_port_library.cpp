#include "usb_port_library.h"

namespace winetest {

namespace {

template <typename Function>
bool resolve(HMODULE module, const char *method, Function &function, std::string &error) {
    const std::string name = std::string("Java_com_qel_usb_UsbPort_") + method;
    FARPROC address = GetProcAddress(module, name.c_str());
    if (address == nullptr) {
        error += " " + name;
        return false;
    }
    function = reinterpret_cast<Function>(reinterpret_cast<void *>(address));
    return true;
}

// The JVM refuses a library whose JNI_OnLoad asks for a JNI version it does not know.
bool knownJniVersion(jint version) {
    return version == JNI_VERSION_1_1 || version == JNI_VERSION_1_2 || version == JNI_VERSION_1_4 ||
           version == JNI_VERSION_1_6 || version == JNI_VERSION_1_8 || version == JNI_VERSION_9 ||
           version == JNI_VERSION_10;
}

// The JVM calls JNI_OnLoad once, right after LoadLibrary and before any native method; a library without one is
// taken as a JNI 1.1 library.
bool callOnLoad(UsbPortLibrary &library, std::string &error) {
    FARPROC address = GetProcAddress(library.module, "JNI_OnLoad");
    if (address == nullptr) return true;
    auto onLoad = reinterpret_cast<jint(JNICALL *)(JavaVM *, void *)>(reinterpret_cast<void *>(address));
    const jint version = onLoad(nullptr, nullptr);
    if (knownJniVersion(version)) return true;
    error = "JNI_OnLoad returned the unknown version " + std::to_string(version);
    return false;
}

}  // namespace

bool loadUsbPortLibrary(const std::string &path, UsbPortLibrary &library, std::string &error) {
    library.module = LoadLibraryA(path.c_str());
    if (library.module == nullptr) {
        error = "LoadLibrary(" + path + ") failed with error " + std::to_string(GetLastError());
        return false;
    }
    error.clear();
    if (!callOnLoad(library, error)) return false;
    bool all = true;
    all &= resolve(library.module, "usbInitPipe", library.usbInitPipe, error);
    all &= resolve(library.module, "usbClosePipe", library.usbClosePipe, error);
    all &= resolve(library.module, "usbReadInputPipe", library.usbReadInputPipe, error);
    all &= resolve(library.module, "usbWriteOutputPipe", library.usbWriteOutputPipe, error);
    all &= resolve(library.module, "usbGetCommTimeout", library.usbGetCommTimeout, error);
    all &= resolve(library.module, "usbSetCommTimeout", library.usbSetCommTimeout, error);
    all &= resolve(library.module, "usbPurgeRequest", library.usbPurgeRequest, error);
    all &= resolve(library.module, "usbGetGenericReadValue", library.usbGetGenericReadValue, error);
    all &= resolve(library.module, "usbGetGenericWriteValue", library.usbGetGenericWriteValue, error);
    all &= resolve(library.module, "usbGetLastError", library.usbGetLastError, error);
    all &= resolve(library.module, "usbGetErrorString", library.usbGetErrorString, error);
    if (!all) {
        error = "exports missing:" + error;
    }
    library.onUnload = reinterpret_cast<void(JNICALL *)(JavaVM *, void *)>(
        reinterpret_cast<void *>(GetProcAddress(library.module, "JNI_OnUnload")));
    return all;
}

}  // namespace winetest

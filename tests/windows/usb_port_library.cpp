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

}  // namespace

bool loadUsbPortLibrary(const std::string &path, UsbPortLibrary &library, std::string &error) {
    library.module = LoadLibraryA(path.c_str());
    if (library.module == nullptr) {
        error = "LoadLibrary(" + path + ") failed with error " + std::to_string(GetLastError());
        return false;
    }
    error.clear();
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

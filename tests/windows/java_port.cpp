#include "java_port.h"

namespace winetest {

JavaPort::JavaPort(FakeJniEnv &jni, const UsbPortLibrary &library, jint fieldValue)
    : jni_(jni), library_(library), object_(jni.newPortObject(fieldValue, fieldValue)) {}

// The port object also serves as the receiver of the native methods, as a Java instance method would pass it.

jint JavaPort::initPipe(jint access) { return library_.usbInitPipe(jni_.env(), object_, object_, access); }

jint JavaPort::closePipe(jint handle) { return library_.usbClosePipe(jni_.env(), object_, handle); }

jint JavaPort::write(jint handle, const Bytes &data) {
    FakeByteArray *array = jni_.newByteArray(std::vector<jbyte>(data.begin(), data.end()));
    return library_.usbWriteOutputPipe(jni_.env(), object_, handle, array);
}

jint JavaPort::read(jint handle, std::size_t arraySize, jbyte fill, Bytes &array) {
    FakeByteArray *javaArray = jni_.newByteArray(std::vector<jbyte>(arraySize, fill));
    jint result = library_.usbReadInputPipe(jni_.env(), object_, handle, javaArray);
    std::vector<jbyte> contents = jni_.bytesOf(javaArray);
    array.assign(contents.begin(), contents.end());
    return result;
}

jint JavaPort::getCommTimeout(jint handle) { return library_.usbGetCommTimeout(jni_.env(), object_, handle); }

jint JavaPort::setCommTimeout(jint handle, jint interval, jint totalMultiplier, jint totalConstant,
                              jint writeMultiplier, jint writeConstant) {
    return library_.usbSetCommTimeout(jni_.env(), object_, handle, interval, totalMultiplier, totalConstant,
                                      writeMultiplier, writeConstant);
}

jint JavaPort::purge(jint handle) { return library_.usbPurgeRequest(jni_.env(), object_, handle); }

jint JavaPort::genericReadValue() { return library_.usbGetGenericReadValue(jni_.env(), object_); }

jint JavaPort::genericWriteValue() { return library_.usbGetGenericWriteValue(jni_.env(), object_); }

jint JavaPort::lastError() { return library_.usbGetLastError(jni_.env(), object_); }

std::string JavaPort::errorString(jint code) {
    return jni_.textOf(library_.usbGetErrorString(jni_.env(), object_, code));
}

void expectCleanJni(Checks &checks, FakeJniEnv &jni) {
    for (const std::string &fault : jni.takeFaults()) {
        checks.expect(false, "JNI misuse: " + fault);
    }
    checks.expectEqual(jni.pinnedElementCount(), 0, "array elements not released");
}

}  // namespace winetest

#include "java_port.h"

namespace winetest {

namespace {

// Java reads a failed call's details with usbGetLastError in the next native call, so the JVM's own work between
// native calls must leave the thread's last error alone. The fake JVM's locks do not: winpthreads goes through
// TlsGetValue, which clears it.
class LastErrorKept {
public:
    LastErrorKept() : value_(GetLastError()) {}
    ~LastErrorKept() { SetLastError(value_); }
    LastErrorKept(const LastErrorKept &) = delete;
    LastErrorKept &operator=(const LastErrorKept &) = delete;

private:
    DWORD value_;
};

template <typename Work>
auto keepingLastError(Work work) {
    LastErrorKept kept;
    return work();
}

}  // namespace

JNIEnv *JavaPort::env() {
    return keepingLastError([this] { return jvm_.env(); });
}

void JavaPort::returned(const char *method) {
    keepingLastError([this, method] { jvm_.nativeMethodReturned(method); });
}

JavaPort::JavaPort(fakejni::FakeJvm &jvm, const UsbPortLibrary &library, jint fieldValue)
    : jvm_(jvm), library_(library), object_(jvm.newPortObject()) {
    object_->hReadPort = fieldValue;
    object_->hWritePort = fieldValue;
}

// The port object also serves as the receiver of the native methods, as a Java instance method would pass it.

jint JavaPort::initPipe(jint access) {
    jint result = library_.usbInitPipe(env(), object_, object_, access);
    returned("usbInitPipe");
    return result;
}

jint JavaPort::closePipe(jint handle) {
    jint result = library_.usbClosePipe(env(), object_, handle);
    returned("usbClosePipe");
    return result;
}

jint JavaPort::write(jint handle, const Bytes &data) {
    jbyteArray array =
        keepingLastError([&] { return jvm_.newByteArray(std::vector<jbyte>(data.begin(), data.end())); });
    jint result = library_.usbWriteOutputPipe(env(), object_, handle, array);
    returned("usbWriteOutputPipe");
    keepingLastError([&] { jvm_.freeArray(array); });
    return result;
}

jint JavaPort::read(jint handle, std::size_t arraySize, jbyte fill, Bytes &array) {
    jbyteArray javaArray = keepingLastError([&] { return jvm_.newByteArray(std::vector<jbyte>(arraySize, fill)); });
    jint result = library_.usbReadInputPipe(env(), object_, handle, javaArray);
    returned("usbReadInputPipe");
    std::vector<jbyte> contents = keepingLastError([&] {
        std::vector<jbyte> taken = jvm_.arrayContents(javaArray);
        jvm_.freeArray(javaArray);
        return taken;
    });
    array.assign(contents.begin(), contents.end());
    return result;
}

jint JavaPort::getCommTimeout(jint handle) {
    jint result = library_.usbGetCommTimeout(env(), object_, handle);
    returned("usbGetCommTimeout");
    return result;
}

jint JavaPort::setCommTimeout(jint handle, jint interval, jint totalMultiplier, jint totalConstant,
                              jint writeMultiplier, jint writeConstant) {
    jint result = library_.usbSetCommTimeout(env(), object_, handle, interval, totalMultiplier, totalConstant,
                                             writeMultiplier, writeConstant);
    returned("usbSetCommTimeout");
    return result;
}

jint JavaPort::purge(jint handle) {
    jint result = library_.usbPurgeRequest(env(), object_, handle);
    returned("usbPurgeRequest");
    return result;
}

jint JavaPort::genericReadValue() {
    jint result = library_.usbGetGenericReadValue(env(), object_);
    returned("usbGetGenericReadValue");
    return result;
}

jint JavaPort::genericWriteValue() {
    jint result = library_.usbGetGenericWriteValue(env(), object_);
    returned("usbGetGenericWriteValue");
    return result;
}

jint JavaPort::lastError() {
    jint result = library_.usbGetLastError(env(), object_);
    returned("usbGetLastError");
    return result;
}

std::string JavaPort::errorString(jint code) {
    jstring text = library_.usbGetErrorString(env(), object_, code);
    returned("usbGetErrorString");
    return keepingLastError([&] { return jvm_.takeString(text); });
}

void expectCleanJni(Checks &checks, fakejni::FakeJvm &jvm) {
    for (const std::string &problem : jvm.takeProblems()) {
        checks.expect(false, "JNI misuse: " + problem);
    }
    checks.expectEqual(jvm.pinnedCount(), 0, "array elements not released");
}

}  // namespace winetest

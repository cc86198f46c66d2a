// What the Java class com.qel.usb.UsbPort does with the library, for the test program: one port object and the
// eleven native methods, called through the tests' fake JVM on the calling thread's own JNIEnv, with a fresh byte
// array per transfer, checking what the JVM checks as each native method returns.
#pragma once

#include "pipe_server.h"
#include "support/fake_jni.h"
#include "test_runner.h"
#include "usb_port_library.h"

#include <string>

namespace winetest {

// The access values Java passes to usbInitPipe, as the library hands them out.
const jint kGenericRead = static_cast<jint>(0x80000000u);
const jint kGenericWrite = 0x40000000;
// What the port object's fields hold before the library writes them.
const jint kUntouched = 0x5A5A;

class JavaPort {
public:
    // The port object's fields start with `fieldValue`, so that a write by the library shows.
    JavaPort(fakejni::FakeJvm &jvm, const UsbPortLibrary &library, jint fieldValue);

    jint readField() const { return object_->hReadPort; }
    jint writeField() const { return object_->hWritePort; }

    jint initPipe(jint access);
    jint closePipe(jint handle);
    jint write(jint handle, const Bytes &data);
    // Reads into a Java array of `arraySize` bytes that starts out as `fill`; `array` gets its contents after.
    jint read(jint handle, std::size_t arraySize, jbyte fill, Bytes &array);
    jint getCommTimeout(jint handle);
    jint setCommTimeout(jint handle, jint interval, jint totalMultiplier, jint totalConstant, jint writeMultiplier,
                        jint writeConstant);
    jint purge(jint handle);
    jint genericReadValue();
    jint genericWriteValue();
    jint lastError();
    std::string errorString(jint code);

private:
    // The calling thread's JNIEnv, and the JVM's checks as a native method returns; both keep the last error.
    JNIEnv *env();
    void returned(const char *method);

    fakejni::FakeJvm &jvm_;
    const UsbPortLibrary &library_;
    fakejni::PortObject *object_;
};

// Fails the case for every JNI misuse seen since the last look and for array elements never released.
void expectCleanJni(Checks &checks, fakejni::FakeJvm &jvm);

}  // namespace winetest

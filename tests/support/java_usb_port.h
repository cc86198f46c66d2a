// Java's side of one UsbPort object: calls the library's exports the way the JVM does, each on the calling thread's
// own JNIEnv, with a fresh byte array per transfer, and checks what the JVM checks as each native method returns.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

#include "support/fake_jni.h"

class JavaUsbPort {
public:
    explicit JavaUsbPort(fakejni::FakeJvm &jvm);

    jint hReadPort() const { return port_->hReadPort; }
    jint hWritePort() const { return port_->hWritePort; }

    jint initPipe(jint access);
    jint closePipe(jint handle);
    // The array holds `buffer` going in; `buffer` holds the array's contents afterwards.
    jint readInputPipe(jint handle, std::vector<jbyte> &buffer);
    jint writeOutputPipe(jint handle, const std::vector<jbyte> &bytes);
    jint getCommTimeout(jint handle);
    jint setCommTimeout(jint handle, jint readInterval, jint readTotalMultiplier, jint readTotalConstant,
                        jint writeTotalMultiplier, jint writeTotalConstant);
    jint purgeRequest(jint handle);
    jint genericReadValue();
    jint genericWriteValue();
    jint lastError();
    std::string errorString(jint code);

private:
    fakejni::FakeJvm &jvm_;
    fakejni::PortObject *port_;
};

// A stand-in for the JVM's side of the JNI calls the library makes: the port object with its two int fields, and
// byte arrays. Only the functions the library calls are in the table; any other call crashes on its empty entry.
#pragma once

#include <jni.h>

#include <atomic>
#include <string>
#include <vector>

namespace fake_java {

struct PortObject : _jobject {
    std::atomic<jint> hReadPort{0};
    std::atomic<jint> hWritePort{0};
};

// Used by one thread at a time, as a Java array passed to one native call.
struct ByteArray : _jbyteArray {
    explicit ByteArray(const std::string &content) : bytes(content.begin(), content.end()) {}
    std::string content() const { return std::string(bytes.begin(), bytes.end()); }
    std::vector<jbyte> bytes;
};

// The functions keep no state of their own, so one environment serves every thread.
class Environment {
public:
    Environment();
    Environment(const Environment &) = delete;
    Environment &operator=(const Environment &) = delete;

    JNIEnv *env() { return &env_; }

private:
    JNINativeInterface_ table_{};
    JNIEnv env_{};
};

}  // namespace fake_java

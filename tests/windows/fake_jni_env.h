// A JNI environment of the test program's own: the function table with the calls the library makes, over a few
// objects that stand in for Java's. Every other slot of the table aborts the program loudly, and misuse of the
// implemented calls (unknown objects, elements released twice, out-of-range regions) is recorded as a fault, in the
// way the JVM's own checks would complain about it.
#pragma once

#include <jni.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace winetest {

// The Java port object: the two int fields that usbInitPipe writes.
struct FakePortObject : _jobject {
    jint hReadPort = 0;
    jint hWritePort = 0;
};

struct FakeClass : _jclass {};

struct FakeByteArray : _jbyteArray {
    std::vector<jbyte> bytes;
};

struct FakeString : _jstring {
    std::string text;
};

class FakeJniEnv {
public:
    FakeJniEnv();
    FakeJniEnv(const FakeJniEnv &) = delete;
    FakeJniEnv &operator=(const FakeJniEnv &) = delete;

    JNIEnv *env() { return &env_; }

    // The objects live as long as the environment.
    FakePortObject *newPortObject(jint readField, jint writeField);
    FakeByteArray *newByteArray(const std::vector<jbyte> &bytes);

    std::vector<jbyte> bytesOf(FakeByteArray *array);
    // The text of a string the library made; "<null>" for a null reference.
    std::string textOf(jstring string);

    // Element buffers handed out by GetByteArrayElements and not yet released.
    int pinnedElementCount();
    // Misuse seen since the last call, emptied by the call.
    std::vector<std::string> takeFaults();

private:
    static FakeJniEnv &self(JNIEnv *env);

    static jclass JNICALL getObjectClass(JNIEnv *env, jobject object);
    static jfieldID JNICALL getFieldId(JNIEnv *env, jclass clazz, const char *name, const char *signature);
    static void JNICALL setIntField(JNIEnv *env, jobject object, jfieldID field, jint value);
    static jsize JNICALL getArrayLength(JNIEnv *env, jarray array);
    static jbyte *JNICALL getByteArrayElements(JNIEnv *env, jbyteArray array, jboolean *isCopy);
    static void JNICALL releaseByteArrayElements(JNIEnv *env, jbyteArray array, jbyte *elements, jint mode);
    static void JNICALL setByteArrayRegion(JNIEnv *env, jbyteArray array, jsize start, jsize length,
                                           const jbyte *source);
    static jstring JNICALL newStringUtf(JNIEnv *env, const char *utf);
    static void JNICALL deleteLocalRef(JNIEnv *env, jobject object);
    static jboolean JNICALL exceptionCheck(JNIEnv *env);
    static void JNICALL exceptionClear(JNIEnv *env);
    static jthrowable JNICALL exceptionOccurred(JNIEnv *env);

    void fault(const std::string &what);
    FakeByteArray *knownArray(jarray array, const char *call);
    void throwPending(const std::string &what);
    void checkNoPendingException(const char *call);

    JNINativeInterface_ table_{};
    JNIEnv env_{};

    std::mutex mutex_;
    FakeClass portClass_;
    std::vector<std::unique_ptr<FakePortObject>> ports_;
    std::vector<std::unique_ptr<FakeByteArray>> arrays_;
    std::vector<std::unique_ptr<FakeString>> strings_;
    std::map<jbyte *, FakeByteArray *> pinned_;
    std::vector<std::string> faults_;
    bool exceptionPending_ = false;
};

}  // namespace winetest

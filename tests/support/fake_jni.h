// A JVM of the tests' own, small enough to run under the sanitizers: the JNI function table with the calls the
// library makes, over C++ objects that stand in for Java's (the port object, byte arrays, strings). Every other
// slot of the table aborts at once, naming the slot. Misuse of the implemented calls is recorded, in the spirit of
// -Xcheck:jni: unknown objects, a call with a Java exception pending, elements released twice or never, a region
// out of bounds, text that is not modified UTF-8, an environment used on a thread other than its own.
//
// Every method is safe to call from any thread.
#pragma once

#include <jni.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fakejni {

// Java's UsbPort object: the two int fields that usbInitPipe writes while other threads read them.
struct PortObject : _jobject {
    std::atomic<jint> hReadPort{0};
    std::atomic<jint> hWritePort{0};
};

class FakeJvm {
public:
    FakeJvm();
    ~FakeJvm();
    FakeJvm(const FakeJvm &) = delete;
    FakeJvm &operator=(const FakeJvm &) = delete;

    // The calling thread's environment: as in the JVM, each thread has its own, made on its first call here.
    JNIEnv *env();

    // Objects live until freed, or until the JVM goes.
    PortObject *newPortObject();
    jbyteArray newByteArray(const std::vector<jbyte> &contents);
    std::vector<jbyte> arrayContents(jbyteArray array);
    void freeArray(jbyteArray array);
    // The text of a string the library made, "<null>" for a null reference; the string is freed.
    std::string takeString(jstring text);

    // What the JVM does as a native method returns on the calling thread: a pending exception would be thrown in
    // Java. The library raises none, so one is recorded as misuse (and cleared).
    void nativeMethodReturned(const char *method);
    // Element buffers handed out and not yet released.
    int pinnedCount();
    // The misuse seen so far; emptied by the call.
    std::vector<std::string> takeProblems();

private:
    struct ByteArray : _jbyteArray {
        std::vector<jbyte> bytes;
    };
    struct JavaString : _jstring {
        std::string text;
    };
    struct PortClass : _jclass {};
    struct PendingThrowable : _jthrowable {};
    // JNIEnv comes first, so that the library's JNIEnv pointer leads back to the rest.
    struct ThreadEnv {
        JNIEnv env;
        FakeJvm *jvm;
        std::thread::id owner;
        std::atomic<bool> exceptionPending{false};
    };
    struct Pin {
        ByteArray *array;
        jsize length;
    };

    static ThreadEnv &threadEnv(JNIEnv *env);
    static FakeJvm &jvmOf(JNIEnv *env);

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

    // The helpers below run with lock_ held.
    void problem(const std::string &what);
    // Records misuse of the calling thread's environment: another thread's, or one with an exception pending.
    void checkCall(JNIEnv *env, const char *call);
    void raise(JNIEnv *env, const std::string &exception);
    ByteArray *knownArray(jobject object, const char *call);
    PortObject *knownPort(jobject object, const char *call);

    JNINativeInterface_ table_{};
    std::mutex lock_;
    PortClass portClass_;
    PendingThrowable throwable_;
    std::map<std::thread::id, std::unique_ptr<ThreadEnv>> envs_;
    std::map<const void *, std::unique_ptr<PortObject>> ports_;
    std::map<const void *, std::unique_ptr<ByteArray>> arrays_;
    std::map<const void *, std::unique_ptr<JavaString>> strings_;
    std::map<const jbyte *, Pin> pins_;
    std::vector<std::string> problems_;
};

}  // namespace fakejni

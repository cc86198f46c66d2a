// The fake JVM must notice the misuse that -Xcheck:jni reports, or the suite's "no JNI problem" proves nothing.
#include <gtest/gtest.h>

#include <thread>

#include "support/fake_jni.h"

namespace {

bool mentions(const std::vector<std::string> &problems, const std::string &text) {
    for (const std::string &problem : problems) {
        if (problem.find(text) != std::string::npos) return true;
    }
    return false;
}

TEST(FakeJni, recordsAnExceptionLeftPendingAndEveryCallMadeUnderIt) {
    fakejni::FakeJvm jvm;
    JNIEnv *env = jvm.env();
    fakejni::PortObject *port = jvm.newPortObject();
    jclass portClass = env->GetObjectClass(port);
    EXPECT_EQ(nullptr, env->GetFieldID(portClass, "hNoSuchPort", "I"));
    EXPECT_TRUE(env->ExceptionCheck());
    env->SetIntField(port, nullptr, 1);
    jvm.nativeMethodReturned("usbInitPipe");

    std::vector<std::string> problems = jvm.takeProblems();
    EXPECT_TRUE(mentions(problems, "NoSuchFieldError"));
    EXPECT_TRUE(mentions(problems, "SetIntField called with a Java exception pending"));
    EXPECT_TRUE(mentions(problems, "usbInitPipe returned to Java with an exception pending"));
    EXPECT_FALSE(env->ExceptionCheck()) << "the return to Java takes the exception";
}

TEST(FakeJni, recordsElementsReleasedWrongRegionsOutOfBoundsBadTextAndAForeignEnvironment) {
    fakejni::FakeJvm jvm;
    JNIEnv *env = jvm.env();
    jbyteArray array = jvm.newByteArray({1, 2, 3});
    jbyte *elements = env->GetByteArrayElements(array, nullptr);
    elements[0] = 9;
    env->ReleaseByteArrayElements(array, elements, 0);
    EXPECT_EQ(9, jvm.arrayContents(array)[0]) << "mode 0 copies back";
    EXPECT_EQ(0, jvm.pinnedCount());
    jbyte stranger[3] = {};
    env->ReleaseByteArrayElements(array, stranger, 0);

    const jbyte bytes[4] = {};
    env->SetByteArrayRegion(array, 1, 3, bytes);
    env->ExceptionClear();
    jvm.takeString(env->NewStringUTF("\xF0\x9F\x98\x80"));
    std::thread([&] { env->GetArrayLength(array); }).join();

    std::vector<std::string> problems = jvm.takeProblems();
    EXPECT_TRUE(mentions(problems, "elements that this array did not hand out"));
    EXPECT_TRUE(mentions(problems, "ArrayIndexOutOfBoundsException"));
    EXPECT_TRUE(mentions(problems, "not valid modified UTF-8"));
    EXPECT_TRUE(mentions(problems, "JNIEnv of another thread"));
}

}  // namespace

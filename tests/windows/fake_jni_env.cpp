#include "fake_jni_env.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace winetest {

namespace {

// Field IDs are opaque to native code; the addresses of these two tags serve as the IDs of the port's fields.
char readFieldTag;
char writeFieldTag;

jfieldID readFieldId() { return reinterpret_cast<jfieldID>(&readFieldTag); }
jfieldID writeFieldId() { return reinterpret_cast<jfieldID>(&writeFieldTag); }

struct FakeThrowable : _jthrowable {};
FakeThrowable pendingThrowable;

// A call through a slot the test program does not implement means the library uses JNI in a way nobody has
// looked at; stopping at once with the slot's number beats any made-up answer.
template <std::size_t Slot>
void JNICALL unexpectedCall() {
    std::fprintf(stderr, "fake JNI: the library called function table slot %u, which is not implemented\n",
                 static_cast<unsigned>(Slot));
    std::fflush(stderr);
    std::abort();
}

constexpr std::size_t kSlotCount = sizeof(JNINativeInterface_) / sizeof(void *);

template <std::size_t... Slots>
void fillWithUnexpected(void **slots, std::index_sequence<Slots...>) {
    ((slots[Slots] = reinterpret_cast<void *>(&unexpectedCall<Slots>)), ...);
}

}  // namespace

FakeJniEnv::FakeJniEnv() {
    static_assert(sizeof(JNINativeInterface_) % sizeof(void *) == 0, "the function table is a row of pointers");
    void *slots[kSlotCount];
    fillWithUnexpected(slots, std::make_index_sequence<kSlotCount>());
    std::memcpy(static_cast<void *>(&table_), slots, sizeof(slots));

    // The first reserved slot carries the way back from a JNIEnv pointer to this object.
    table_.reserved0 = this;
    table_.GetObjectClass = &getObjectClass;
    table_.GetFieldID = &getFieldId;
    table_.SetIntField = &setIntField;
    table_.GetArrayLength = &getArrayLength;
    table_.GetByteArrayElements = &getByteArrayElements;
    table_.ReleaseByteArrayElements = &releaseByteArrayElements;
    table_.SetByteArrayRegion = &setByteArrayRegion;
    table_.NewStringUTF = &newStringUtf;
    table_.DeleteLocalRef = &deleteLocalRef;
    table_.ExceptionCheck = &exceptionCheck;
    table_.ExceptionClear = &exceptionClear;
    table_.ExceptionOccurred = &exceptionOccurred;
    env_.functions = &table_;
}

FakePortObject *FakeJniEnv::newPortObject(jint readField, jint writeField) {
    std::lock_guard<std::mutex> lock(mutex_);
    ports_.push_back(std::make_unique<FakePortObject>());
    ports_.back()->hReadPort = readField;
    ports_.back()->hWritePort = writeField;
    return ports_.back().get();
}

FakeByteArray *FakeJniEnv::newByteArray(const std::vector<jbyte> &bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    arrays_.push_back(std::make_unique<FakeByteArray>());
    arrays_.back()->bytes = bytes;
    return arrays_.back().get();
}

std::vector<jbyte> FakeJniEnv::bytesOf(FakeByteArray *array) {
    std::lock_guard<std::mutex> lock(mutex_);
    return array->bytes;
}

std::string FakeJniEnv::textOf(jstring string) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto &known : strings_) {
        if (known.get() == string) {
            return known->text;
        }
    }
    return string == nullptr ? "<null>" : "<not a string of this environment>";
}

int FakeJniEnv::pinnedElementCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(pinned_.size());
}

std::vector<std::string> FakeJniEnv::takeFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> taken;
    taken.swap(faults_);
    return taken;
}

FakeJniEnv &FakeJniEnv::self(JNIEnv *env) { return *static_cast<FakeJniEnv *>(env->functions->reserved0); }

// The helpers below run with mutex_ held.

void FakeJniEnv::fault(const std::string &what) { faults_.push_back(what); }

void FakeJniEnv::throwPending(const std::string &what) {
    fault("Java exception raised: " + what);
    exceptionPending_ = true;
}

void FakeJniEnv::checkNoPendingException(const char *call) {
    if (exceptionPending_) {
        fault(std::string(call) + " called with a Java exception pending");
    }
}

FakeByteArray *FakeJniEnv::knownArray(jarray array, const char *call) {
    for (const auto &known : arrays_) {
        if (known.get() == array) {
            return known.get();
        }
    }
    fault(std::string(call) + " with an object that is not a byte array");
    return nullptr;
}

jclass JNICALL FakeJniEnv::getObjectClass(JNIEnv *env, jobject object) {
    FakeJniEnv &fake = self(env);
    std::lock_guard<std::mutex> lock(fake.mutex_);
    fake.checkNoPendingException("GetObjectClass");
    for (const auto &port : fake.ports_) {
        if (port.get() == object) {
            return &fake.portClass_;
        }
    }
    fake.fault("GetObjectClass with an object that is not a port object");
    return nullptr;
}

jfieldID JNICALL FakeJniEnv::getFieldId(JNIEnv *env, jclass clazz, const char *name, const char *signature) {
    FakeJniEnv &fake = self(env);
    std::lock_guard<std::mutex> lock(fake.mutex_);
    fake.checkNoPendingException("GetFieldID");
    if (clazz != &fake.portClass_) {
        fake.fault("GetFieldID on a class that is not the port's");
        return nullptr;
    }
    const std::string fieldName = name == nullptr ? "" : name;
    const std::string fieldSignature = signature == nullptr ? "" : signature;
    if (fieldSignature == "I" && fieldName == "hReadPort") {
        return readFieldId();
    }
    if (fieldSignature == "I" && fieldName == "hWritePort") {
        return writeFieldId();
    }
    fake.throwPending("NoSuchFieldError " + fieldName + " " + fieldSignature);
    return nullptr;
}

void JNICALL FakeJniEnv::setIntField(JNIEnv *env, jobject object, jfieldID field, jint value) {
    FakeJniEnv &fake = self(env);
    std::lock_guard<std::mutex> lock(fake.mutex_);
    fake.checkNoPendingException("SetIntField");
    FakePortObject *port = nullptr;
    for (const auto &known : fake.ports_) {
        if (known.get() == object) {
            port = known.get();
        }
    }
    if (port == nullptr) {
        fake.fault("SetIntField on an object that is not a port object");
        return;
    }
    if (field == readFieldId()) {
        port->hReadPort = value;
        return;
    }
    if (field == writeFieldId()) {
        port->hWritePort = value;
        return;
    }
    fake.fault("SetIntField with a field ID that GetFieldID did not give");
}

jsize JNICALL FakeJniEnv::getArrayLength(JNIEnv *env, jarray array) {
    FakeJniEnv &fake = self(env);
    std::lock_guard<std::mutex> lock(fake.mutex_);
    fake.checkNoPendingException("GetArrayLength");
    FakeByteArray *known = fake.knownArray(array, "GetArrayLength");
    return known == nullptr ? 0 : static_cast<jsize>(known->bytes.size());
}

jbyte *JNICALL FakeJniEnv::getByteArrayElements(JNIEnv *env, jbyteArray array, jboolean *isCopy) {
    FakeJniEnv &fake = self(env);
    std::lock_guard<std::mutex> lock(fake.mutex_);
    fake.checkNoPendingException("GetByteArrayElements");
    FakeByteArray *known = fake.knownArray(array, "GetByteArrayElements");
    if (known == nullptr) {
        return nullptr;
    }
    // Always a copy, as the JVM may give one: a library that writes into the elements and forgets the release
    // then loses the change here too.
    jbyte *copy = new jbyte[known->bytes.size() + 1];
    std::copy(known->bytes.begin(), known->bytes.end(), copy);
    fake.pinned_[copy] = known;
    if (isCopy != nullptr) {
        *isCopy = JNI_TRUE;
    }
    return copy;
}

void JNICALL FakeJniEnv::releaseByteArrayElements(JNIEnv *env, jbyteArray array, jbyte *elements, jint mode) {
    FakeJniEnv &fake = self(env);
    std::lock_guard<std::mutex> lock(fake.mutex_);
    auto pinned = fake.pinned_.find(elements);
    if (pinned == fake.pinned_.end() || pinned->second != array) {
        fake.fault("ReleaseByteArrayElements with elements that this array did not hand out");
        return;
    }
    FakeByteArray *known = pinned->second;
    if (mode == 0 || mode == JNI_COMMIT) {
        std::copy(elements, elements + known->bytes.size(), known->bytes.begin());
    }
    if (mode == JNI_COMMIT) {
        return;
    }
    fake.pinned_.erase(pinned);
    delete[] elements;
}

void JNICALL FakeJniEnv::setByteArrayRegion(JNIEnv *env, jbyteArray array, jsize start, jsize length,
                                            const jbyte *source) {
    FakeJniEnv &fake = self(env);
    std::lock_guard<std::mutex> lock(fake.mutex_);
    fake.checkNoPendingException("SetByteArrayRegion");
    FakeByteArray *known = fake.knownArray(array, "SetByteArrayRegion");
    if (known == nullptr) {
        return;
    }
    const long long size = static_cast<long long>(known->bytes.size());
    if (start < 0 || length < 0 || static_cast<long long>(start) + length > size) {
        fake.throwPending("ArrayIndexOutOfBoundsException in SetByteArrayRegion");
        return;
    }
    std::copy(source, source + length, known->bytes.begin() + start);
}

jstring JNICALL FakeJniEnv::newStringUtf(JNIEnv *env, const char *utf) {
    FakeJniEnv &fake = self(env);
    std::lock_guard<std::mutex> lock(fake.mutex_);
    fake.checkNoPendingException("NewStringUTF");
    if (utf == nullptr) {
        return nullptr;
    }
    fake.strings_.push_back(std::make_unique<FakeString>());
    fake.strings_.back()->text = utf;
    return fake.strings_.back().get();
}

void JNICALL FakeJniEnv::deleteLocalRef(JNIEnv *, jobject) {
    // Local references end with the native call in the JVM too; nothing here owns anything by reference.
}

jboolean JNICALL FakeJniEnv::exceptionCheck(JNIEnv *env) {
    FakeJniEnv &fake = self(env);
    std::lock_guard<std::mutex> lock(fake.mutex_);
    return fake.exceptionPending_ ? JNI_TRUE : JNI_FALSE;
}

void JNICALL FakeJniEnv::exceptionClear(JNIEnv *env) {
    FakeJniEnv &fake = self(env);
    std::lock_guard<std::mutex> lock(fake.mutex_);
    fake.exceptionPending_ = false;
}

jthrowable JNICALL FakeJniEnv::exceptionOccurred(JNIEnv *env) {
    FakeJniEnv &fake = self(env);
    std::lock_guard<std::mutex> lock(fake.mutex_);
    return fake.exceptionPending_ ? &pendingThrowable : nullptr;
}

}  // namespace winetest

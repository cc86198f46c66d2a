#include "support/fake_jni.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace fakejni {
namespace {

// Field IDs are opaque to native code: the addresses of two tags serve.
char readFieldTag;
char writeFieldTag;

jfieldID readFieldId() { return reinterpret_cast<jfieldID>(&readFieldTag); }
jfieldID writeFieldId() { return reinterpret_cast<jfieldID>(&writeFieldTag); }

// A call through a slot nobody implemented means the library uses JNI in a way no test has looked at: stopping at
// once, with the slot's number, beats any made-up answer.
template <std::size_t Slot>
void JNICALL unimplementedSlot() {
    std::fprintf(stderr, "fake JNI: the library called function table slot %u, which is not implemented\n",
                 static_cast<unsigned>(Slot));
    std::fflush(stderr);
    std::abort();
}

constexpr std::size_t SLOT_COUNT = sizeof(JNINativeInterface_) / sizeof(void *);

template <std::size_t... Slots>
void fillUnimplemented(void **slots, std::index_sequence<Slots...>) {
    ((slots[Slots] = reinterpret_cast<void *>(&unimplementedSlot<Slots>)), ...);
}

size_t continuationCount(unsigned char lead) {
    if ((lead & 0xE0) == 0xC0) return 1;
    if ((lead & 0xF0) == 0xE0) return 2;
    return SIZE_MAX;
}

// Modified UTF-8: one to three byte forms only, no plain NUL byte inside (the terminator ends the text).
bool isModifiedUtf8(const char *text) {
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    while (*p != 0) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        size_t count = continuationCount(*p);
        if (count == SIZE_MAX) return false;
        ++p;
        for (size_t i = 0; i < count; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) return false;
        }
    }
    return true;
}

}  // namespace

FakeJvm::FakeJvm() {
    static_assert(sizeof(JNINativeInterface_) % sizeof(void *) == 0, "the function table is a row of pointers");
    void *slots[SLOT_COUNT];
    fillUnimplemented(slots, std::make_index_sequence<SLOT_COUNT>());
    std::memcpy(static_cast<void *>(&table_), slots, sizeof(slots));

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
}

FakeJvm::~FakeJvm() {
    for (auto &pin : pins_) delete[] pin.first;
}

JNIEnv *FakeJvm::env() {
    std::lock_guard<std::mutex> guard(lock_);
    std::unique_ptr<ThreadEnv> &slot = envs_[std::this_thread::get_id()];
    if (!slot) {
        slot = std::make_unique<ThreadEnv>();
        slot->env.functions = &table_;
        slot->jvm = this;
        slot->owner = std::this_thread::get_id();
    }
    return &slot->env;
}

PortObject *FakeJvm::newPortObject() {
    std::lock_guard<std::mutex> guard(lock_);
    auto port = std::make_unique<PortObject>();
    PortObject *raw = port.get();
    ports_[raw] = std::move(port);
    return raw;
}

jbyteArray FakeJvm::newByteArray(const std::vector<jbyte> &contents) {
    std::lock_guard<std::mutex> guard(lock_);
    auto array = std::make_unique<ByteArray>();
    array->bytes = contents;
    ByteArray *raw = array.get();
    arrays_[raw] = std::move(array);
    return raw;
}

std::vector<jbyte> FakeJvm::arrayContents(jbyteArray array) {
    std::lock_guard<std::mutex> guard(lock_);
    ByteArray *known = knownArray(array, "arrayContents");
    return known == nullptr ? std::vector<jbyte>() : known->bytes;
}

void FakeJvm::freeArray(jbyteArray array) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto &pin : pins_) {
        // The collector cannot take an array whose elements are still out: the library would write freed memory.
        if (pin.second.array == array) {
            problem("an array was collected while the library still held its elements");
            return;
        }
    }
    arrays_.erase(array);
}

std::string FakeJvm::takeString(jstring text) {
    if (text == nullptr) return "<null>";
    std::lock_guard<std::mutex> guard(lock_);
    auto found = strings_.find(text);
    if (found == strings_.end()) {
        problem("a string reference that the library did not make was returned to Java");
        return "<unknown string>";
    }
    std::string result = found->second->text;
    strings_.erase(found);
    return result;
}

void FakeJvm::nativeMethodReturned(const char *method) {
    JNIEnv *own = env();
    if (!threadEnv(own).exceptionPending.exchange(false)) return;
    std::lock_guard<std::mutex> guard(lock_);
    problem(std::string(method) + " returned to Java with an exception pending");
}

int FakeJvm::pinnedCount() {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(pins_.size());
}

std::vector<std::string> FakeJvm::takeProblems() {
    std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(problems_, {});
}

FakeJvm::ThreadEnv &FakeJvm::threadEnv(JNIEnv *env) { return *reinterpret_cast<ThreadEnv *>(env); }

FakeJvm &FakeJvm::jvmOf(JNIEnv *env) { return *threadEnv(env).jvm; }

void FakeJvm::problem(const std::string &what) { problems_.push_back(what); }

void FakeJvm::checkCall(JNIEnv *env, const char *call) {
    ThreadEnv &own = threadEnv(env);
    if (own.owner != std::this_thread::get_id()) problem(std::string(call) + ": JNIEnv of another thread used");
    if (own.exceptionPending) problem(std::string(call) + " called with a Java exception pending");
}

void FakeJvm::raise(JNIEnv *env, const std::string &exception) {
    problem("Java exception raised: " + exception);
    threadEnv(env).exceptionPending = true;
}

FakeJvm::ByteArray *FakeJvm::knownArray(jobject object, const char *call) {
    auto found = arrays_.find(object);
    if (found != arrays_.end()) return found->second.get();
    problem(std::string(call) + " with an object that is not a live byte array");
    return nullptr;
}

PortObject *FakeJvm::knownPort(jobject object, const char *call) {
    auto found = ports_.find(object);
    if (found != ports_.end()) return found->second.get();
    problem(std::string(call) + " with an object that is not a port object");
    return nullptr;
}

jclass JNICALL FakeJvm::getObjectClass(JNIEnv *env, jobject object) {
    FakeJvm &jvm = jvmOf(env);
    std::lock_guard<std::mutex> guard(jvm.lock_);
    jvm.checkCall(env, "GetObjectClass");
    return jvm.knownPort(object, "GetObjectClass") == nullptr ? nullptr : &jvm.portClass_;
}

jfieldID JNICALL FakeJvm::getFieldId(JNIEnv *env, jclass clazz, const char *name, const char *signature) {
    FakeJvm &jvm = jvmOf(env);
    std::lock_guard<std::mutex> guard(jvm.lock_);
    jvm.checkCall(env, "GetFieldID");
    if (clazz != &jvm.portClass_) {
        jvm.problem("GetFieldID on a class that GetObjectClass did not give");
        return nullptr;
    }
    std::string field = name == nullptr ? "" : name;
    std::string type = signature == nullptr ? "" : signature;
    if (type == "I" && field == "hReadPort") return readFieldId();
    if (type == "I" && field == "hWritePort") return writeFieldId();
    jvm.raise(env, "NoSuchFieldError: " + field + " " + type);
    return nullptr;
}

void JNICALL FakeJvm::setIntField(JNIEnv *env, jobject object, jfieldID field, jint value) {
    FakeJvm &jvm = jvmOf(env);
    std::lock_guard<std::mutex> guard(jvm.lock_);
    jvm.checkCall(env, "SetIntField");
    PortObject *port = jvm.knownPort(object, "SetIntField");
    if (port == nullptr) return;
    if (field == readFieldId()) {
        port->hReadPort = value;
    } else if (field == writeFieldId()) {
        port->hWritePort = value;
    } else {
        jvm.problem("SetIntField with a field ID that GetFieldID did not give");
    }
}

jsize JNICALL FakeJvm::getArrayLength(JNIEnv *env, jarray array) {
    FakeJvm &jvm = jvmOf(env);
    std::lock_guard<std::mutex> guard(jvm.lock_);
    jvm.checkCall(env, "GetArrayLength");
    ByteArray *known = jvm.knownArray(array, "GetArrayLength");
    return known == nullptr ? 0 : static_cast<jsize>(known->bytes.size());
}

jbyte *JNICALL FakeJvm::getByteArrayElements(JNIEnv *env, jbyteArray array, jboolean *isCopy) {
    FakeJvm &jvm = jvmOf(env);
    std::lock_guard<std::mutex> guard(jvm.lock_);
    jvm.checkCall(env, "GetByteArrayElements");
    ByteArray *known = jvm.knownArray(array, "GetByteArrayElements");
    if (known == nullptr) return nullptr;
    // Always a copy, as the JVM may give: a library that forgets the release loses its changes here too. The one
    // byte more keeps a zero-length copy distinct from every other.
    jbyte *copy = new jbyte[known->bytes.size() + 1];
    std::copy(known->bytes.begin(), known->bytes.end(), copy);
    jvm.pins_[copy] = Pin{known, static_cast<jsize>(known->bytes.size())};
    if (isCopy != nullptr) *isCopy = JNI_TRUE;
    return copy;
}

void JNICALL FakeJvm::releaseByteArrayElements(JNIEnv *env, jbyteArray array, jbyte *elements, jint mode) {
    FakeJvm &jvm = jvmOf(env);
    std::lock_guard<std::mutex> guard(jvm.lock_);
    if (threadEnv(env).owner != std::this_thread::get_id()) jvm.problem("ReleaseByteArrayElements: foreign JNIEnv");
    auto pin = jvm.pins_.find(elements);
    if (pin == jvm.pins_.end() || pin->second.array != array) {
        jvm.problem("ReleaseByteArrayElements with elements that this array did not hand out");
        return;
    }
    if (mode == 0 || mode == JNI_COMMIT) {
        std::copy(elements, elements + pin->second.length, pin->second.array->bytes.begin());
    }
    if (mode == JNI_COMMIT) return;
    jvm.pins_.erase(pin);
    delete[] elements;
}

void JNICALL FakeJvm::setByteArrayRegion(JNIEnv *env, jbyteArray array, jsize start, jsize length,
                                         const jbyte *source) {
    FakeJvm &jvm = jvmOf(env);
    std::lock_guard<std::mutex> guard(jvm.lock_);
    jvm.checkCall(env, "SetByteArrayRegion");
    ByteArray *known = jvm.knownArray(array, "SetByteArrayRegion");
    if (known == nullptr) return;
    long long size = static_cast<long long>(known->bytes.size());
    if (start < 0 || length < 0 || static_cast<long long>(start) + length > size) {
        jvm.raise(env, "ArrayIndexOutOfBoundsException in SetByteArrayRegion");
        return;
    }
    std::copy(source, source + length, known->bytes.begin() + start);
}

jstring JNICALL FakeJvm::newStringUtf(JNIEnv *env, const char *utf) {
    FakeJvm &jvm = jvmOf(env);
    std::lock_guard<std::mutex> guard(jvm.lock_);
    jvm.checkCall(env, "NewStringUTF");
    if (utf == nullptr) return nullptr;
    if (!isModifiedUtf8(utf)) jvm.problem(std::string("NewStringUTF: input is not valid modified UTF-8: ") + utf);
    auto text = std::make_unique<JavaString>();
    text->text = utf;
    JavaString *raw = text.get();
    jvm.strings_[raw] = std::move(text);
    return raw;
}

void JNICALL FakeJvm::deleteLocalRef(JNIEnv *env, jobject object) {
    FakeJvm &jvm = jvmOf(env);
    std::lock_guard<std::mutex> guard(jvm.lock_);
    if (threadEnv(env).owner != std::this_thread::get_id()) jvm.problem("DeleteLocalRef: foreign JNIEnv");
    // Nothing is owned by reference here; deleting a reference the library never had is still a fault.
    if (object == nullptr || object == &jvm.portClass_) return;
    if (jvm.ports_.count(object) == 0 && jvm.arrays_.count(object) == 0 && jvm.strings_.count(object) == 0) {
        jvm.problem("DeleteLocalRef of an unknown reference");
    }
}

jboolean JNICALL FakeJvm::exceptionCheck(JNIEnv *env) { return threadEnv(env).exceptionPending ? JNI_TRUE : JNI_FALSE; }

void JNICALL FakeJvm::exceptionClear(JNIEnv *env) { threadEnv(env).exceptionPending = false; }

jthrowable JNICALL FakeJvm::exceptionOccurred(JNIEnv *env) {
    FakeJvm &jvm = jvmOf(env);
    return threadEnv(env).exceptionPending ? &jvm.throwable_ : nullptr;
}

}  // namespace fakejni

#include "fake_java.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace fake_java {
namespace {

_jclass g_portClass;

// Field ids name the field: 1 for hReadPort, 2 for hWritePort.
jfieldID fieldId(int which) { return reinterpret_cast<jfieldID>(static_cast<intptr_t>(which)); }

jclass JNICALL getObjectClass(JNIEnv *, jobject) { return &g_portClass; }

jfieldID JNICALL getFieldId(JNIEnv *, jclass, const char *name, const char *signature) {
    if (strcmp(signature, "I") != 0) return nullptr;
    if (strcmp(name, "hReadPort") == 0) return fieldId(1);
    if (strcmp(name, "hWritePort") == 0) return fieldId(2);
    return nullptr;
}

void JNICALL setIntField(JNIEnv *, jobject object, jfieldID field, jint value) {
    auto *port = static_cast<PortObject *>(object);
    if (field == fieldId(1)) port->hReadPort = value;
    if (field == fieldId(2)) port->hWritePort = value;
}

void JNICALL deleteLocalRef(JNIEnv *, jobject) {}

void JNICALL exceptionClear(JNIEnv *) {}

jsize JNICALL getArrayLength(JNIEnv *, jarray array) {
    return static_cast<jsize>(static_cast<ByteArray *>(array)->bytes.size());
}

jbyte *JNICALL getByteArrayElements(JNIEnv *, jbyteArray array, jboolean *isCopy) {
    if (isCopy != nullptr) *isCopy = JNI_FALSE;
    return static_cast<ByteArray *>(array)->bytes.data();
}

void JNICALL releaseByteArrayElements(JNIEnv *, jbyteArray, jbyte *, jint) {}

void JNICALL setByteArrayRegion(JNIEnv *, jbyteArray array, jsize start, jsize length, const jbyte *source) {
    std::vector<jbyte> &bytes = static_cast<ByteArray *>(array)->bytes;
    // The JVM would throw; a test must not go on past a write outside the array.
    if (start < 0 || length < 0 || static_cast<size_t>(start) + static_cast<size_t>(length) > bytes.size()) {
        fprintf(stderr, "SetByteArrayRegion outside the array: start %d, length %d, size %zu\n", start, length,
                bytes.size());
        abort();
    }
    memcpy(bytes.data() + start, source, static_cast<size_t>(length));
}

}  // namespace

Environment::Environment() {
    table_.GetObjectClass = getObjectClass;
    table_.GetFieldID = getFieldId;
    table_.SetIntField = setIntField;
    table_.DeleteLocalRef = deleteLocalRef;
    table_.ExceptionClear = exceptionClear;
    table_.GetArrayLength = getArrayLength;
    table_.GetByteArrayElements = getByteArrayElements;
    table_.ReleaseByteArrayElements = releaseByteArrayElements;
    table_.SetByteArrayRegion = setByteArrayRegion;
    env_.functions = &table_;
}

}  // namespace fake_java

// The native methods of com.qel.usb.sim.SimBus, over the C control API.
#include <jni.h>

#include <vector>

#include "sim/bus.h"
#include "sim/simbus.h"

extern "C" {

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_attach(JNIEnv *, jclass, jint transport, jint vid, jint pid) {
    return simbus_attach(transport, vid, pid);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_attachDefault(JNIEnv *, jclass, jint transport) {
    return simbus_attach_default(transport);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_detach(JNIEnv *, jclass, jint id) {
    return simbus_detach(id);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_replug(JNIEnv *, jclass, jint id) {
    return simbus_replug(id);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_send(JNIEnv *env, jclass, jint id, jbyteArray bytes) {
    if (bytes == nullptr) return -1;
    jsize length = env->GetArrayLength(bytes);
    std::vector<jbyte> copy(static_cast<size_t>(length));
    env->GetByteArrayRegion(bytes, 0, length, copy.data());
    return simbus_send(id, copy.data(), length);
}

JNIEXPORT jbyteArray JNICALL Java_com_qel_usb_sim_SimBus_take(JNIEnv *env, jclass, jint id) {
    std::vector<uint8_t> written;
    if (!sim::takeAll(id, written)) return nullptr;
    auto length = static_cast<jsize>(written.size());
    jbyteArray array = env->NewByteArray(length);
    if (array == nullptr) return nullptr;
    env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte *>(written.data()));
    return array;
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_stallWrites(JNIEnv *, jclass, jint id, jboolean on) {
    return simbus_stall_writes(id, on == JNI_TRUE ? 1 : 0);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_power(JNIEnv *, jclass, jint event) {
    return simbus_power(event);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_fail(JNIEnv *env, jclass, jstring operation, jint times,
                                                        jint error) {
    if (operation == nullptr) return -1;
    const char *name = env->GetStringUTFChars(operation, nullptr);
    if (name == nullptr) return -1;
    int armed = simbus_fail(name, times, static_cast<unsigned>(error));
    env->ReleaseStringUTFChars(operation, name);
    return armed;
}

JNIEXPORT void JNICALL Java_com_qel_usb_sim_SimBus_timeScale(JNIEnv *, jclass, jdouble factor) {
    simbus_time_scale(factor);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_openHandles(JNIEnv *, jclass) {
    return simbus_open_handles();
}

JNIEXPORT void JNICALL Java_com_qel_usb_sim_SimBus_reset(JNIEnv *, jclass) {
    simbus_reset();
}

}  // extern "C"

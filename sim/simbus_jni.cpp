// The native methods of com.qel.usb.sim.SimBus, over the C control API.
// The generated header declares each native as javac sees it: a definition that drifts from it does not compile.
#include "com_qel_usb_sim_SimBus.h"

#include <string>
#include <vector>

#include "kernel/misuse.h"
#include "sim/bus.h"
#include "sim/simbus.h"

extern "C" {

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_attach(JNIEnv *, jclass, jint transport, jint vid, jint pid) {
    return simbus_attach(transport, vid, pid);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_attachDefault(JNIEnv *, jclass, jint transport) {
    return simbus_attach_default(transport);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_detach(JNIEnv *, jclass, jint id) { return simbus_detach(id); }

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_replug(JNIEnv *, jclass, jint id) { return simbus_replug(id); }

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

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_pendingReads(JNIEnv *, jclass, jint id) {
    return simbus_pending_reads(id);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_stallWrites(JNIEnv *, jclass, jint id, jboolean on) {
    return simbus_stall_writes(id, on == JNI_TRUE ? 1 : 0);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_power(JNIEnv *, jclass, jint event) { return simbus_power(event); }

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_pendingWrites(JNIEnv *, jclass, jint id) {
    return simbus_pending_writes(id);
}

JNIEXPORT jboolean JNICALL Java_com_qel_usb_sim_SimBus_suspended(JNIEnv *, jclass) {
    return simbus_suspended() != 0 ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_qel_usb_sim_SimBus_awaitResumed(JNIEnv *, jclass, jint milliseconds) {
    return simbus_await_resumed(milliseconds) == 0 ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jstring JNICALL Java_com_qel_usb_sim_SimBus_faultName(JNIEnv *env, jclass, jint index) {
    const char *name = simbus_fault_name(index);
    return name == nullptr ? nullptr : env->NewStringUTF(name);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_setPrinterState(JNIEnv *, jclass, jint id, jint state) {
    return simbus_set_printer_state(id, static_cast<unsigned>(state));
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_armFault(JNIEnv *env, jclass, jstring operation, jint times,
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

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_openHandles(JNIEnv *, jclass) { return simbus_open_handles(); }

JNIEXPORT void JNICALL Java_com_qel_usb_sim_SimBus_reset(JNIEnv *, jclass) { simbus_reset(); }

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_attachReceiptPrinter(JNIEnv *, jclass, jint transport) {
    return simbus_attach_receipt_printer(transport);
}

JNIEXPORT jstring JNICALL Java_com_qel_usb_sim_SimBus_receiptText(JNIEnv *env, jclass, jint id) {
    int length = simbus_receipt_text(id, nullptr, 0);
    if (length < 0) return nullptr;
    // The receipt may grow between the two calls; the second one copies what fits.
    std::vector<char> text(static_cast<size_t>(length) + 1);
    if (simbus_receipt_text(id, text.data(), length + 1) < 0) return nullptr;
    // The printer renders ASCII only, which is also modified UTF-8.
    return env->NewStringUTF(text.data());
}

// C++ tests read the reports through the platform layer itself; Java has only this.
JNIEXPORT jobjectArray JNICALL Java_com_qel_usb_sim_SimBus_takeMisuseReports(JNIEnv *env, jclass) {
    std::vector<std::string> reports = platform::takeMisuseReports();
    jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr) return nullptr;
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(reports.size()), stringClass, nullptr);
    if (array == nullptr) return nullptr;
    for (size_t i = 0; i < reports.size(); ++i) {
        // Operation names, handle values and the layer's own words: ASCII, which is also modified UTF-8.
        jstring report = env->NewStringUTF(reports[i].c_str());
        if (report == nullptr) return nullptr;
        env->SetObjectArrayElement(array, static_cast<jsize>(i), report);
        env->DeleteLocalRef(report);
    }
    return array;
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_rawOpen(JNIEnv *, jclass, jint id) { return simbus_raw_open(id); }

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_rawWrite(JNIEnv *env, jclass, jint id, jbyteArray bytes) {
    if (bytes == nullptr) return -1;
    jsize length = env->GetArrayLength(bytes);
    jbyte *elements = env->GetByteArrayElements(bytes, nullptr);
    if (elements == nullptr) return -1;
    int written = simbus_raw_write(id, elements, length);
    env->ReleaseByteArrayElements(bytes, elements, JNI_ABORT);
    return written;
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_rawRead(JNIEnv *env, jclass, jint id, jbyteArray buffer) {
    if (buffer == nullptr) return -1;
    jsize length = env->GetArrayLength(buffer);
    std::vector<jbyte> bytes(static_cast<size_t>(length));
    int read = simbus_raw_read(id, bytes.data(), length);
    if (read > 0) env->SetByteArrayRegion(buffer, 0, read, bytes.data());
    return read;
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_rawClose(JNIEnv *, jclass, jint id) { return simbus_raw_close(id); }

JNIEXPORT jlong JNICALL Java_com_qel_usb_sim_SimBus_discardWritten(JNIEnv *, jclass, jint id) {
    return simbus_discard_written(id);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_completeAtOnce(JNIEnv *, jclass, jint id, jboolean on) {
    return simbus_complete_at_once(id, on == JNI_TRUE ? 1 : 0);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_stream(JNIEnv *env, jclass, jint id, jbyteArray pattern,
                                                          jlong total) {
    std::vector<jbyte> copy;
    if (pattern != nullptr) {
        jsize length = env->GetArrayLength(pattern);
        copy.resize(static_cast<size_t>(length));
        env->GetByteArrayRegion(pattern, 0, length, copy.data());
    }
    return simbus_stream(id, copy.data(), static_cast<int>(copy.size()), total);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_stopStream(JNIEnv *, jclass, jint id) {
    return simbus_stop_stream(id);
}

JNIEXPORT jlong JNICALL Java_com_qel_usb_sim_SimBus_streamTaken(JNIEnv *, jclass, jint id) {
    return simbus_stream_taken(id);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_zeroLengthReads(JNIEnv *, jclass, jint id, jint every) {
    return simbus_zero_length_reads(id, every);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_cancelDelay(JNIEnv *, jclass, jint id, jint milliseconds) {
    return simbus_cancel_delay(id, milliseconds);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_ignoreCancel(JNIEnv *, jclass, jint id, jboolean on) {
    return simbus_ignore_cancel(id, on == JNI_TRUE ? 1 : 0);
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_setUnplugCode(JNIEnv *, jclass, jint id, jint code) {
    return simbus_set_unplug_code(id, static_cast<unsigned>(code));
}

JNIEXPORT jint JNICALL Java_com_qel_usb_sim_SimBus_liveThreads(JNIEnv *, jclass) { return simbus_live_threads(); }

}  // extern "C"

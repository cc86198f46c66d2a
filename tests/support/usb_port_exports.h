// The library's eleven JNI exports of com.qel.usb.UsbPort, declared as the JVM finds them.
#pragma once

#include <jni.h>

extern "C" {

JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbInitPipe(JNIEnv *env, jobject thiz, jobject port, jint access);
JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbClosePipe(JNIEnv *env, jobject thiz, jint handle);
JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbReadInputPipe(JNIEnv *env, jobject thiz, jint handle,
                                                                 jbyteArray buffer);
JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbWriteOutputPipe(JNIEnv *env, jobject thiz, jint handle,
                                                                   jbyteArray buffer);
JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbGetCommTimeout(JNIEnv *env, jobject thiz, jint handle);
JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbSetCommTimeout(JNIEnv *env, jobject thiz, jint handle,
                                                                  jint readInterval, jint readTotalMultiplier,
                                                                  jint readTotalConstant, jint writeTotalMultiplier,
                                                                  jint writeTotalConstant);
JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbPurgeRequest(JNIEnv *env, jobject thiz, jint handle);
JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbGetGenericReadValue(JNIEnv *env, jobject thiz);
JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbGetGenericWriteValue(JNIEnv *env, jobject thiz);
JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbGetLastError(JNIEnv *env, jobject thiz);
JNIEXPORT jstring JNICALL Java_com_qel_usb_UsbPort_usbGetErrorString(JNIEnv *env, jobject thiz, jint code);
}

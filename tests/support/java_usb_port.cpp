#include "support/java_usb_port.h"

#include "support/usb_port_exports.h"

JavaUsbPort::JavaUsbPort(fakejni::FakeJvm &jvm) : jvm_(jvm), port_(jvm.newPortObject()) {}

jint JavaUsbPort::initPipe(jint access) {
    jint result = Java_com_qel_usb_UsbPort_usbInitPipe(jvm_.env(), port_, port_, access);
    jvm_.nativeMethodReturned("usbInitPipe");
    return result;
}

jint JavaUsbPort::closePipe(jint handle) {
    jint result = Java_com_qel_usb_UsbPort_usbClosePipe(jvm_.env(), port_, handle);
    jvm_.nativeMethodReturned("usbClosePipe");
    return result;
}

jint JavaUsbPort::readInputPipe(jint handle, std::vector<jbyte> &buffer) {
    jbyteArray array = jvm_.newByteArray(buffer);
    jint result = Java_com_qel_usb_UsbPort_usbReadInputPipe(jvm_.env(), port_, handle, array);
    jvm_.nativeMethodReturned("usbReadInputPipe");
    buffer = jvm_.arrayContents(array);
    jvm_.freeArray(array);
    return result;
}

jint JavaUsbPort::writeOutputPipe(jint handle, const std::vector<jbyte> &bytes) {
    jbyteArray array = jvm_.newByteArray(bytes);
    jint result = Java_com_qel_usb_UsbPort_usbWriteOutputPipe(jvm_.env(), port_, handle, array);
    jvm_.nativeMethodReturned("usbWriteOutputPipe");
    jvm_.freeArray(array);
    return result;
}

jint JavaUsbPort::getCommTimeout(jint handle) {
    jint result = Java_com_qel_usb_UsbPort_usbGetCommTimeout(jvm_.env(), port_, handle);
    jvm_.nativeMethodReturned("usbGetCommTimeout");
    return result;
}

jint JavaUsbPort::setCommTimeout(jint handle, jint readInterval, jint readTotalMultiplier, jint readTotalConstant,
                                 jint writeTotalMultiplier, jint writeTotalConstant) {
    jint result =
        Java_com_qel_usb_UsbPort_usbSetCommTimeout(jvm_.env(), port_, handle, readInterval, readTotalMultiplier,
                                                   readTotalConstant, writeTotalMultiplier, writeTotalConstant);
    jvm_.nativeMethodReturned("usbSetCommTimeout");
    return result;
}

jint JavaUsbPort::purgeRequest(jint handle) {
    jint result = Java_com_qel_usb_UsbPort_usbPurgeRequest(jvm_.env(), port_, handle);
    jvm_.nativeMethodReturned("usbPurgeRequest");
    return result;
}

jint JavaUsbPort::genericReadValue() {
    jint result = Java_com_qel_usb_UsbPort_usbGetGenericReadValue(jvm_.env(), port_);
    jvm_.nativeMethodReturned("usbGetGenericReadValue");
    return result;
}

jint JavaUsbPort::genericWriteValue() {
    jint result = Java_com_qel_usb_UsbPort_usbGetGenericWriteValue(jvm_.env(), port_);
    jvm_.nativeMethodReturned("usbGetGenericWriteValue");
    return result;
}

jint JavaUsbPort::lastError() {
    jint result = Java_com_qel_usb_UsbPort_usbGetLastError(jvm_.env(), port_);
    jvm_.nativeMethodReturned("usbGetLastError");
    return result;
}

std::string JavaUsbPort::errorString(jint code) {
    jstring text = Java_com_qel_usb_UsbPort_usbGetErrorString(jvm_.env(), port_, code);
    jvm_.nativeMethodReturned("usbGetErrorString");
    return jvm_.takeString(text);
}

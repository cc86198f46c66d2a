// usbGetErrorString with a system text outside ASCII: the ANSI bytes FormatMessageA gives must reach Java as the
// same characters, in the modified UTF-8 that NewStringUTF takes.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/fake_jni.h"
#include "support/java_usb_port.h"

namespace {

// The platform layer's Windows-1252 text "Fehler: Gerät nicht bereit – ÄÖÜ" under a customer code.
const jint ANSI_TEXT_CODE = 0x20000001;

TEST(ErrorString, aTextInTheAnsiPageArrivesAsTheSameCharacters) {
    fakejni::FakeJvm jvm;
    JavaUsbPort port(jvm);
    // ä is two bytes, the en dash (0x96 in Windows-1252, not U+0096) three.
    EXPECT_EQ("Fehler: Ger\xC3\xA4t nicht bereit \xE2\x80\x93 \xC3\x84\xC3\x96\xC3\x9C\r\n",
              port.errorString(ANSI_TEXT_CODE));
    EXPECT_EQ("The handle is invalid.\r\n", port.errorString(ERROR_INVALID_HANDLE)) << "ASCII passes unchanged";
    for (const std::string &problem : jvm.takeProblems()) ADD_FAILURE() << "JNI misuse: " << problem;
}

}  // namespace

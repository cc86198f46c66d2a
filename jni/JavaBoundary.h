// Conversions at the Java boundary.
#pragma once

#include <windows.h>

#include <jni.h>

// A handle travels to Java as its low 32 bits; coming back it is widened by sign extension, so that -1 becomes
// INVALID_HANDLE_VALUE.
inline HANDLE HandleFromJava(jint nHandle) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(nHandle)); }
inline jint HandleToJava(HANDLE hHandle) {
    return static_cast<jint>(static_cast<DWORD>(reinterpret_cast<uintptr_t>(hHandle)));
}
inline bool SameJavaHandle(HANDLE hHandle, jint nHandle) { return HandleToJava(hHandle) == nHandle; }

// A Java string of a text in the ANSI code page. NewStringUTF takes modified UTF-8, so the text is converted
// first; ASCII passes unchanged.
jstring NewJavaStringFromAnsi(JNIEnv *env, const char *pszText);

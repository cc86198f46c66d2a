// How a handle travels to and from Java. The port state compares the values Java holds with its own handles, so
// the conversion lives with it rather than in jni/.
#pragma once

#include <windows.h>

#include <jni.h>

#include <stdint.h>

// A handle travels to Java as its low 32 bits; coming back it is widened by sign extension, so that -1 becomes
// INVALID_HANDLE_VALUE.
inline HANDLE HandleFromJava(jint nHandle) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(nHandle)); }
inline jint HandleToJava(HANDLE hHandle) {
    return static_cast<jint>(static_cast<DWORD>(reinterpret_cast<uintptr_t>(hHandle)));
}
inline bool SameJavaHandle(HANDLE hHandle, jint nHandle) { return HandleToJava(hHandle) == nHandle; }

// Conversions at the Java boundary.
#pragma once

#include <windows.h>

#include <jni.h>

#include "port/JavaHandle.h"

// A Java string of a text in the ANSI code page. NewStringUTF takes modified UTF-8, so the text is converted
// first; ASCII passes unchanged.
jstring NewJavaStringFromAnsi(JNIEnv *env, const char *pszText);

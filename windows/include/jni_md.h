// The machine-dependent part of the JNI headers for 64-bit Windows, included by OpenJDK's platform-neutral jni.h.
// Windows is an LLP64 platform: long stays 32 bits wide there, so it carries Java's int, and the 64-bit Java long
// needs __int64. Exported entry points are marked for the DLL's export table, since Windows has no default
// visibility. MSVC and mingw-w64 both understand every keyword used here.
#ifndef VIRI_WINDOWS_JNI_MD_H
#define VIRI_WINDOWS_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
// The calling convention that the JVM uses for native methods; x64 has only one, so the keyword changes nothing
// there but keeps the declarations right for 32-bit builds.
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif

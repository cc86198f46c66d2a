#include <string>
#include <vector>

#include "jni/JavaBoundary.h"

namespace {

void AppendModifiedUtf8(std::string &out, unsigned nUnit) {
    // Modified UTF-8 writes each UTF-16 unit on its own (surrogates included) and the NUL character as two bytes.
    if (nUnit != 0 && nUnit < 0x80) {
        out += static_cast<char>(nUnit);
    } else if (nUnit < 0x800) {
        out += static_cast<char>(0xC0 | (nUnit >> 6));
        out += static_cast<char>(0x80 | (nUnit & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (nUnit >> 12));
        out += static_cast<char>(0x80 | ((nUnit >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (nUnit & 0x3F));
    }
}

}  // namespace

jstring NewJavaStringFromAnsi(JNIEnv *env, const char *pszText) {
    int nUnits = MultiByteToWideChar(CP_ACP, 0, pszText, -1, nullptr, 0);
    if (nUnits <= 0) return env->NewStringUTF("");
    std::vector<WCHAR> wide(static_cast<size_t>(nUnits));
    MultiByteToWideChar(CP_ACP, 0, pszText, -1, wide.data(), nUnits);

    std::string utf8;
    utf8.reserve(static_cast<size_t>(nUnits) * 3);
    // The last unit is the terminator.
    for (int i = 0; i + 1 < nUnits; ++i) {
        // WCHAR is 16 bits on Windows and 32 on Linux; only UTF-16 units come out of a conversion from the ANSI page.
        AppendModifiedUtf8(utf8, static_cast<unsigned>(wide[static_cast<size_t>(i)]) & 0xFFFF);
    }
    return env->NewStringUTF(utf8.c_str());
}

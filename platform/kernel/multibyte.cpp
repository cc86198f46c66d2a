// MultiByteToWideChar for the ANSI code page (Windows-1252) and UTF-8.
//
// WCHAR is wchar_t, 32 bits wide here; each element still receives one UTF-16 code unit, as on Windows, so that
// counts and lengths agree with what the same call returns there.
#include <windows.h>

#include <cstring>
#include <vector>

namespace platform {
namespace {

constexpr UINT ansiCodePage = 1252;
constexpr char16_t replacementCharacter = 0xFFFD;

// Windows-1252 from 0x80 to 0x9F; the five unassigned bytes map to the C1 controls of the same value.
const char16_t windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

using Units = std::vector<char16_t>;

void decodeWindows1252(const unsigned char *bytes, size_t length, Units &out) {
    for (size_t i = 0; i < length; ++i) {
        unsigned char byte = bytes[i];
        out.push_back(byte >= 0x80 && byte <= 0x9F ? windows1252High[byte - 0x80] : char16_t(byte));
    }
}

void appendCodePoint(char32_t codePoint, Units &out) {
    if (codePoint < 0x10000) {
        out.push_back(static_cast<char16_t>(codePoint));
        return;
    }
    codePoint -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
}

// The sequence a lead byte starts: how many continuation bytes follow, the payload bits of the lead byte, and the
// allowed range of the first continuation byte (which excludes overlong forms, surrogates and values past U+10FFFF).
struct LeadByte {
    int continuations;
    char32_t bits;
    unsigned low;
    unsigned high;
};

bool readLeadByte(unsigned char byte, LeadByte &lead) {
    if (byte >= 0xC2 && byte <= 0xDF) {
        lead = {1, char32_t(byte & 0x1F), 0x80u, 0xBFu};
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        lead = {2, char32_t(byte & 0x0F), byte == 0xE0 ? 0xA0u : 0x80u, byte == 0xED ? 0x9Fu : 0xBFu};
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        lead = {3, char32_t(byte & 0x07), byte == 0xF0 ? 0x90u : 0x80u, byte == 0xF4 ? 0x8Fu : 0xBFu};
    } else {
        return false;
    }
    return true;
}

// Each ill-formed part (a maximal subpart of a sequence, or a stray byte) becomes one U+FFFD. Returns false when
// there was any.
bool decodeUtf8(const unsigned char *bytes, size_t length, Units &out) {
    bool wellFormed = true;
    size_t i = 0;
    while (i < length) {
        unsigned char byte = bytes[i];
        if (byte < 0x80) {
            out.push_back(byte);
            ++i;
            continue;
        }
        LeadByte lead{};
        if (!readLeadByte(byte, lead)) {
            out.push_back(replacementCharacter);
            wellFormed = false;
            ++i;
            continue;
        }
        char32_t codePoint = lead.bits;
        size_t next = i + 1;
        int read = 0;
        for (; read < lead.continuations && next < length; ++read, ++next) {
            unsigned low = read == 0 ? lead.low : 0x80u;
            unsigned high = read == 0 ? lead.high : 0xBFu;
            if (bytes[next] < low || bytes[next] > high) break;
            codePoint = (codePoint << 6) | (bytes[next] & 0x3F);
        }
        if (read < lead.continuations) {
            out.push_back(replacementCharacter);
            wellFormed = false;
        } else {
            appendCodePoint(codePoint, out);
        }
        i = next;
    }
    return wellFormed;
}

int fail(DWORD error) {
    SetLastError(error);
    return 0;
}

bool flagsValid(bool utf8, DWORD flags) {
    // UTF-8 takes no flag but MB_ERR_INVALID_CHARS. Composite forms and glyph characters are not provided.
    DWORD allowed = utf8 ? MB_ERR_INVALID_CHARS : (MB_PRECOMPOSED | MB_ERR_INVALID_CHARS);
    return (flags & ~allowed) == 0;
}

int convert(UINT codePage, DWORD flags, const char *source, int sourceLength, LPWSTR target, int targetLength) {
    if (source == nullptr || sourceLength == 0 || sourceLength < -1 || targetLength < 0 ||
        (targetLength > 0 && target == nullptr)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    bool utf8 = codePage == CP_UTF8;
    if (!utf8 && codePage != CP_ACP && codePage != ansiCodePage) return fail(ERROR_INVALID_PARAMETER);
    if (!flagsValid(utf8, flags)) return fail(ERROR_INVALID_FLAGS);

    // -1: the string ends at its terminator, which is converted too.
    size_t length = sourceLength == -1 ? std::strlen(source) + 1 : static_cast<size_t>(sourceLength);
    auto bytes = reinterpret_cast<const unsigned char *>(source);
    Units units;
    units.reserve(length);
    if (utf8) {
        bool wellFormed = decodeUtf8(bytes, length, units);
        if (!wellFormed && (flags & MB_ERR_INVALID_CHARS) != 0) return fail(ERROR_NO_UNICODE_TRANSLATION);
    } else {
        decodeWindows1252(bytes, length, units);
    }
    if (targetLength == 0) return static_cast<int>(units.size());
    if (units.size() > static_cast<size_t>(targetLength)) return fail(ERROR_INSUFFICIENT_BUFFER);
    for (size_t i = 0; i < units.size(); ++i) target[i] = static_cast<WCHAR>(units[i]);
    return static_cast<int>(units.size());
}

}  // namespace
}  // namespace platform

extern "C" int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                          LPWSTR lpWideCharStr, int cchWideChar) {
    return platform::convert(CodePage, dwFlags, lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar);
}

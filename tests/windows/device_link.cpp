#include "device_link.h"

#include <winternl.h>

#include <cstdio>

namespace winetest {

namespace {

// NtCreateSymbolicLinkObject has no import library; ntdll exports it.
using CreateSymbolicLink = LONG(NTAPI *)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PUNICODE_STRING);

const ACCESS_MASK kSymbolicLinkAllAccess = 0xF0001;
const wchar_t kNamedPipeDevice[] = L"\\Device\\NamedPipe";

UNICODE_STRING unicodeString(std::wstring &text) {
    UNICODE_STRING string;
    string.Buffer = &text[0];
    string.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    string.MaximumLength = string.Length;
    return string;
}

}  // namespace

bool DeviceLink::create(const std::string &objectName, std::string &error) {
    auto createLink = reinterpret_cast<CreateSymbolicLink>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateSymbolicLinkObject")));
    if (createLink == nullptr) {
        error = "ntdll has no NtCreateSymbolicLinkObject";
        return false;
    }
    // The names are plain ASCII, so widening character by character is exact.
    std::wstring name(objectName.begin(), objectName.end());
    std::wstring target(kNamedPipeDevice);
    UNICODE_STRING linkName = unicodeString(name);
    UNICODE_STRING linkTarget = unicodeString(target);
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof(attributes);
    attributes.ObjectName = &linkName;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    LONG status = createLink(&link_, kSymbolicLinkAllAccess, &attributes, &linkTarget);
    if (status < 0) {
        char text[16];
        std::snprintf(text, sizeof(text), "0x%08lx", static_cast<unsigned long>(status));
        error = "NtCreateSymbolicLinkObject(" + objectName + ") failed with status " + text;
        link_ = nullptr;
        return false;
    }
    return true;
}

void DeviceLink::remove() {
    if (link_ != nullptr) {
        CloseHandle(link_);
        link_ = nullptr;
    }
}

}  // namespace winetest

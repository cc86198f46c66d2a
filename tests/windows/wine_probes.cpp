#include "wine_probes.h"

#include <setupapi.h>
#include <tlhelp32.h>

#include "power/PowerWindowClass.h"

namespace winetest {

namespace {

const DWORD kPollIntervalMs = 10;

}  // namespace

bool waitUntil(const std::function<bool()> &condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return condition();
        }
        Sleep(kPollIntervalMs);
    }
}

std::string systemErrorText(DWORD code) {
    char *buffer = nullptr;
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                       nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char *>(&buffer), 0,
                       nullptr);
    if (length == 0 || buffer == nullptr) {
        return std::string();
    }
    std::string text(buffer, length);
    LocalFree(buffer);
    return text;
}

HWND findPowerWindow() { return FindWindowA(POWER_WINDOW_CLASS, nullptr); }

std::vector<std::string> listInterfacePaths(const GUID &interfaceClass) {
    std::vector<std::string> paths;
    HDEVINFO set = SetupDiGetClassDevsA(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return paths;
    }
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, index, &data); ++index) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
        std::vector<char> storage(required + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr)) {
            paths.push_back(detail->DevicePath);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

std::set<DWORD> threadIds() {
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return ids;
    }
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
            ids.insert(entry.th32ThreadID);
        }
    }
    CloseHandle(snapshot);
    return ids;
}

int threadsAlive(const std::set<DWORD> &ids) {
    const std::set<DWORD> now = threadIds();
    int alive = 0;
    for (DWORD id : ids) {
        alive += now.count(id) != 0 ? 1 : 0;
    }
    return alive;
}

std::set<DWORD> threadsAdded(const std::set<DWORD> &before, const std::set<DWORD> &now) {
    std::set<DWORD> added;
    for (DWORD id : now) {
        if (before.count(id) == 0) {
            added.insert(id);
        }
    }
    return added;
}

}  // namespace winetest

// Window classes: RegisterClassExA, UnregisterClassA.
//
// Classes are known by name alone (compared without regard to case); the instance handle is not part of a
// class's identity here, since the library registers and unregisters with the same null instance.
#include "kernel/faults.h"
#include "user32/user_state.h"

#include <cstring>

namespace platform::user32 {

namespace {

constexpr size_t maxClassNameLength = 256;
constexpr ATOM lastAtom = 0xFFFF;

bool validClassName(LPCSTR name) {
    if (reinterpret_cast<uintptr_t>(name) <= 0xFFFF) return false;  // null, or an integer atom
    size_t length = strlen(name);
    return length > 0 && length <= maxClassNameLength;
}

// A name keeps its atom across unregistration, as a string in an atom table does; 0 once atoms run out.
ATOM atomFor(UserState &state, const std::string &key) {
    auto known = state.atoms.find(key);
    if (known != state.atoms.end()) return known->second;
    if (state.atoms.size() > static_cast<size_t>(lastAtom - 0xC000)) return 0;
    ATOM atom = state.nextAtom++;
    state.atoms[key] = atom;
    return atom;
}

}  // namespace

}  // namespace platform::user32

using namespace platform::user32;

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA *lpwcx) {
    if (platform::injectedFault("RegisterClassExA")) return 0;
    if (!lpwcx || lpwcx->cbSize != sizeof(WNDCLASSEXA) || !lpwcx->lpfnWndProc ||
        !validClassName(lpwcx->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    UserState &state = userState();
    std::lock_guard<std::mutex> guard(state.lock);
    std::string key = upperCase(lpwcx->lpszClassName);
    if (state.classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    ATOM atom = atomFor(state, key);
    if (!atom) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    auto windowClass = std::make_shared<WindowClass>();
    windowClass->name = lpwcx->lpszClassName;
    windowClass->atom = atom;
    windowClass->procedure = lpwcx->lpfnWndProc;
    state.classes[key] = windowClass;
    return atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance) {
    UserState &state = userState();
    std::lock_guard<std::mutex> guard(state.lock);
    std::shared_ptr<WindowClass> windowClass = findClass(state, lpClassName);
    if (!windowClass) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (windowClass->windowCount > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    state.classes.erase(upperCase(windowClass->name.c_str()));
    return TRUE;
}

// Windows: CreateWindowExA, DestroyWindow, IsWindow, IsWindowVisible, FindWindowA, DefWindowProcA.
//
// A window is top-level (no parent) or message-only (parent HWND_MESSAGE); child and owned windows are not
// supported. Creation sends WM_NCCREATE and WM_CREATE, DestroyWindow sends WM_DESTROY and WM_NCDESTROY, as
// Windows does; a window destroyed because its thread ended gets no message, since no thread is left to run
// its procedure.
#include "kernel/faults.h"
#include "user32/power_events.h"
#include "user32/user_state.h"

namespace platform::user32 {

namespace {

HWND addWindow(UserState &state, std::shared_ptr<WindowClass> windowClass, DWORD owner, DWORD style, bool messageOnly,
               LPCSTR title) {
    Window window;
    window.handle = reinterpret_cast<HWND>(state.nextWindow);
    state.nextWindow += 2;
    window.procedure = windowClass->procedure;
    window.windowClass = std::move(windowClass);
    window.windowClass->windowCount++;
    window.ownerThread = owner;
    window.style = style;
    window.messageOnly = messageOnly;
    window.title = title ? title : "";
    HWND handle = window.handle;
    state.windows.emplace(reinterpret_cast<uintptr_t>(handle), std::move(window));
    return handle;
}

void discardWindow(HWND hwnd) {
    {
        UserState &state = userState();
        std::lock_guard<std::mutex> guard(state.lock);
        removeWindow(state, hwnd);
    }
    platform::syncPowerEventSource();
}

// A procedure refuses its window by answering WM_NCCREATE with FALSE or WM_CREATE with -1.
bool runCreationMessages(HWND hwnd, WNDPROC procedure, CREATESTRUCTA &create) {
    LPARAM lParam = reinterpret_cast<LPARAM>(&create);
    if (!procedure(hwnd, WM_NCCREATE, 0, lParam)) {
        discardWindow(hwnd);
        return false;
    }
    if (procedure(hwnd, WM_CREATE, 0, lParam) == -1) {
        DestroyWindow(hwnd);
        return false;
    }
    return IsWindow(hwnd);  // the procedure may have destroyed it meanwhile
}

}  // namespace

}  // namespace platform::user32

using namespace platform::user32;

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
    if (platform::injectedFault("CreateWindowExA")) return nullptr;
    bool messageOnly = hWndParent == HWND_MESSAGE;
    if (hWndParent && !messageOnly) {
        SetLastError(IsWindow(hWndParent) ? ERROR_NOT_SUPPORTED : ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    UserState &state = userState();
    DWORD self = GetCurrentThreadId();
    HWND hwnd = nullptr;
    WNDPROC procedure = nullptr;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        ensureQueue(state, self);
        std::shared_ptr<WindowClass> windowClass = findClass(state, lpClassName);
        if (!windowClass) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        procedure = windowClass->procedure;
        hwnd = addWindow(state, std::move(windowClass), self, dwStyle, messageOnly, lpWindowName);
    }
    CREATESTRUCTA create{
        lpParam,      hInstance,   hMenu,    hWndParent, nHeight, nWidth, Y, X, static_cast<LONG>(dwStyle),
        lpWindowName, lpClassName, dwExStyle};
    if (!runCreationMessages(hwnd, procedure, create)) return nullptr;
    platform::syncPowerEventSource();
    return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    UserState &state = userState();
    DWORD self = GetCurrentThreadId();
    WNDPROC procedure = nullptr;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        Window *window = findWindow(state, hWnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (window->ownerThread != self) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (window->destroying) return TRUE;
        window->destroying = true;
        procedure = window->procedure;
    }
    procedure(hWnd, WM_DESTROY, 0, 0);
    procedure(hWnd, WM_NCDESTROY, 0, 0);
    discardWindow(hWnd);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
    UserState &state = userState();
    std::lock_guard<std::mutex> guard(state.lock);
    return findWindow(state, hWnd) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
    UserState &state = userState();
    std::lock_guard<std::mutex> guard(state.lock);
    Window *window = findWindow(state, hWnd);
    return window && (window->style & WS_VISIBLE) ? TRUE : FALSE;
}

// Searches top-level windows from the top of the z-order, where each new window goes; both names compare
// without regard to case. An unknown class fails with ERROR_CANNOT_FIND_WND_CLASS; no matching window
// returns null and leaves the last error alone.
HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
    UserState &state = userState();
    std::lock_guard<std::mutex> guard(state.lock);
    std::shared_ptr<WindowClass> windowClass;
    if (lpClassName) {
        windowClass = findClass(state, lpClassName);
        if (!windowClass) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
    }
    std::string title = upperCase(lpWindowName);
    for (auto entry = state.windows.rbegin(); entry != state.windows.rend(); ++entry) {
        const Window &window = entry->second;
        if (window.messageOnly) continue;
        if (windowClass && window.windowClass != windowClass) continue;
        if (lpWindowName && upperCase(window.title.c_str()) != title) continue;
        return window.handle;
    }
    return nullptr;
}

// Only what this layer's windows meet: WM_NCCREATE lets creation go on, WM_CLOSE destroys the window, and
// every other message is answered with 0.
LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    default:
        return 0;
    }
}

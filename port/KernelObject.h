// One owner for every kind of kernel object the library holds: a handle, a SetupAPI list or a GlobalAlloc block is
// released by its owner's destructor, or earlier by a named Reset where the order of the Win32 calls matters.
//
// Each kind states once what its empty value is and how it is released. A release keeps the thread's last error, so
// that an owner going out of scope never changes the code a failed call left for the caller.
#pragma once

#include <windows.h>
#include <setupapi.h>

// Events, threads and other handles that Win32 gives as null on failure.
struct KernelHandleKind {
    using Value = HANDLE;
    static Value Empty() { return nullptr; }
    static void Release(Value hValue) { CloseHandle(hValue); }
};

// Files, pipes and devices: CreateFile gives INVALID_HANDLE_VALUE on failure.
struct FileHandleKind {
    using Value = HANDLE;
    static Value Empty() { return INVALID_HANDLE_VALUE; }
    static void Release(Value hValue) { CloseHandle(hValue); }
};

// A SetupAPI device information list; SetupDiGetClassDevs gives INVALID_HANDLE_VALUE on failure.
struct DeviceInfoListKind {
    using Value = HDEVINFO;
    static Value Empty() { return INVALID_HANDLE_VALUE; }
    static void Release(Value hValue) { SetupDiDestroyDeviceInfoList(hValue); }
};

// A GlobalAlloc block, unlocked by its user before it goes.
struct GlobalBlockKind {
    using Value = HGLOBAL;
    static Value Empty() { return nullptr; }
    static void Release(Value hValue) { GlobalFree(hValue); }
};

template <typename Kind>
class CKernelObject {
public:
    using Value = typename Kind::Value;

    CKernelObject() = default;
    explicit CKernelObject(Value value) : m_value(value) {}
    CKernelObject(CKernelObject &&other) noexcept : m_value(other.Detach()) {}
    CKernelObject &operator=(CKernelObject &&other) noexcept {
        if (this != &other) Reset(other.Detach());
        return *this;
    }
    CKernelObject(const CKernelObject &) = delete;
    CKernelObject &operator=(const CKernelObject &) = delete;
    ~CKernelObject() { Reset(); }

    // Only a failed creation's own value counts as empty: a file handle of null is released like any other.
    explicit operator bool() const { return m_value != Kind::Empty(); }
    Value Get() const { return m_value; }

    // Releases what is held, keeping the thread's last error, and holds the new value.
    void Reset(Value value = Kind::Empty()) {
        if (m_value != Kind::Empty()) {
            DWORD dwError = GetLastError();
            Kind::Release(m_value);
            SetLastError(dwError);
        }
        m_value = value;
    }
    // Gives up ownership without releasing.
    Value Detach() {
        Value value = m_value;
        m_value = Kind::Empty();
        return value;
    }

private:
    Value m_value = Kind::Empty();
};

using CKernelHandle = CKernelObject<KernelHandleKind>;
using CFileHandle = CKernelObject<FileHandleKind>;
using CDeviceInfoList = CKernelObject<DeviceInfoListKind>;
using CGlobalBlock = CKernelObject<GlobalBlockKind>;

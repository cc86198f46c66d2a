// The one way tests reach the port state's private fields: for states that no operation of the port state produces
// (a connected flag without a device, a reader's events without a reader, a loop flag left set after the reader
// ended). Everything else goes through the port state's own operations and accessors.
#pragma once

#include "port/UsbComm.h"

struct UsbCommTestAccess {
    static void setConnected(CUsbComm &comm, bool connected) { comm.m_bConnected = connected; }
    static void setRunning(CUsbComm &comm, int running) { comm.m_bRunning = running; }
    static void setOpened(CUsbComm &comm, int opened) { comm.m_bOpened = opened; }
    // Events for a suspend close to signal and wait on, as a reader's would be; the port state closes them with the
    // link.
    static void setReaderEvents(CUsbComm &comm, HANDLE stop, HANDLE done) {
        comm.m_hStopEvent = stop;
        comm.m_hThreadDoneEvent = done;
    }
    // Holding it keeps a reconnect from changing the handle fields, and gives a consistent view of them.
    static CLock &replaceLock(CUsbComm &comm) { return comm.m_guard.m_replaceLock; }
};

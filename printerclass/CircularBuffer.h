// The receive ring buffer of the printer-class transport: a fixed-capacity byte queue with a mutex of its own.
#pragma once

#include <windows.h>

#include "port/KernelObject.h"

class CCircularBuffer {
public:
    // Capacity 2^nSizeExponent bytes, the exponent clamped to 6..16. Throws a long: 3 when no storage is
    // obtained, 4 when the mutex or the room event cannot be created.
    explicit CCircularBuffer(DWORD nSizeExponent);
    virtual ~CCircularBuffer();

    CCircularBuffer(const CCircularBuffer &) = delete;
    CCircularBuffer &operator=(const CCircularBuffer &) = delete;

    // Locked: stores as many of the bytes as fit and returns that number; the rest are dropped.
    DWORD PutBytes(const BYTE *pSource, DWORD nCount);
    // Locked: takes up to nWanted bytes; writes the count to *pnTaken only when the buffer held bytes. Taking
    // bytes sets the room event.
    DWORD BytesAvailable(BYTE *pDest, DWORD nWanted, DWORD *pnTaken);

    // Locked: how many more bytes fit.
    DWORD FreeSpace();
    DWORD Capacity() const { return m_nMask + 1; }
    // An auto-reset event, set each time a take makes room: the reader waits on it instead of dropping bytes, so
    // that a full buffer holds the printer back.
    HANDLE RoomEvent() const { return m_roomEvent.Get(); }

    // Unlocked single-byte and bulk operations; used under the lock.
    void PutByte(BYTE b);
    BYTE GetByte();
    DWORD GetBytes(BYTE *pDest, DWORD nWanted);

    void Lock();
    void Unlock();

private:
    CKernelHandle m_mutex;
    CKernelHandle m_roomEvent;
    DWORD m_nCount;
    DWORD m_nMask;
    DWORD m_nHead;
    DWORD m_nTail;
    BYTE *m_pData;
};

#include "printerclass/CircularBuffer.h"

#include <string.h>

#include <new>

namespace {

const DWORD MIN_SIZE_EXPONENT = 6;
const DWORD MAX_SIZE_EXPONENT = 16;

// Unsigned on purpose: a negative exponent that reaches us as a huge value clamps to the largest buffer.
DWORD ClampSizeExponent(DWORD nSizeExponent) {
    if (nSizeExponent > MAX_SIZE_EXPONENT) return MAX_SIZE_EXPONENT;
    if (nSizeExponent < MIN_SIZE_EXPONENT) return MIN_SIZE_EXPONENT;
    return nSizeExponent;
}

DWORD Smaller(DWORD a, DWORD b) { return a < b ? a : b; }

}  // namespace

CCircularBuffer::CCircularBuffer(DWORD nSizeExponent)
    : m_hMutex(nullptr), m_hRoomEvent(nullptr), m_nCount(0), m_nMask(0), m_nHead(0), m_nTail(0), m_pData(nullptr) {
    DWORD nCapacity = 1u << ClampSizeExponent(nSizeExponent);
    m_nMask = nCapacity - 1;

    m_pData = new (std::nothrow) BYTE[nCapacity];
    if (m_pData == nullptr) throw 3L;

    m_hMutex = CreateMutexA(nullptr, FALSE, nullptr);
    if (m_hMutex == nullptr) {
        // The destructor does not run for a throwing constructor, so the storage goes here.
        delete[] m_pData;
        m_pData = nullptr;
        throw 4L;
    }
    m_hRoomEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (m_hRoomEvent == nullptr) {
        CloseHandle(m_hMutex);
        m_hMutex = nullptr;
        delete[] m_pData;
        m_pData = nullptr;
        throw 4L;
    }
}

CCircularBuffer::~CCircularBuffer() {
    CloseHandle(m_hRoomEvent);
    m_hRoomEvent = nullptr;
    CloseHandle(m_hMutex);
    m_hMutex = nullptr;
    delete[] m_pData;
    m_pData = nullptr;
}

DWORD CCircularBuffer::PutBytes(const BYTE *pSource, DWORD nCount) {
    Lock();
    DWORD nStored = Smaller(nCount, m_nMask + 1 - m_nCount);
    if (nStored > 0) {
        // At most two spans: up to the end of the storage, then from its start.
        DWORD nFirst = Smaller(nStored, m_nMask + 1 - m_nHead);
        memcpy(m_pData + m_nHead, pSource, nFirst);
        memcpy(m_pData, pSource + nFirst, nStored - nFirst);
        m_nHead = (m_nHead + nStored) & m_nMask;
        m_nCount += nStored;
    }
    Unlock();
    return nStored;
}

DWORD CCircularBuffer::BytesAvailable(BYTE *pDest, DWORD nWanted, DWORD *pnTaken) {
    Lock();
    DWORD nTaken = 0;
    // The out-count is left alone on an empty buffer; the timed read relies on what it put there.
    if (m_nCount != 0) {
        nTaken = GetBytes(pDest, nWanted);
        if (pnTaken != nullptr) *pnTaken = nTaken;
    }
    Unlock();
    if (nTaken > 0) SetEvent(m_hRoomEvent);
    return nTaken;
}

DWORD CCircularBuffer::FreeSpace() {
    Lock();
    DWORD nFree = m_nMask + 1 - m_nCount;
    Unlock();
    return nFree;
}

void CCircularBuffer::PutByte(BYTE b) {
    if (m_nCount >= m_nMask + 1) throw 1L;
    m_pData[m_nHead] = b;
    m_nHead = (m_nHead + 1) & m_nMask;
    ++m_nCount;
}

BYTE CCircularBuffer::GetByte() {
    if (m_nCount == 0) return 0;
    BYTE b = m_pData[m_nTail];
    m_nTail = (m_nTail + 1) & m_nMask;
    --m_nCount;
    return b;
}

DWORD CCircularBuffer::GetBytes(BYTE *pDest, DWORD nWanted) {
    DWORD nTaken = Smaller(m_nCount, nWanted);
    if (nTaken == 0) return 0;
    DWORD nFirst = Smaller(nTaken, m_nMask + 1 - m_nTail);
    memcpy(pDest, m_pData + m_nTail, nFirst);
    memcpy(pDest + nFirst, m_pData, nTaken - nFirst);
    m_nTail = (m_nTail + nTaken) & m_nMask;
    m_nCount -= nTaken;
    return nTaken;
}

void CCircularBuffer::Lock() { WaitForSingleObject(m_hMutex, INFINITE); }

void CCircularBuffer::Unlock() { ReleaseMutex(m_hMutex); }

// The timed buffered read: Java reads on the printer-class transport are served from the ring buffer.
#include "port/UsbComm.h"
#include "printerclass/CircularBuffer.h"

namespace {

bool TakeFromBuffer(CCircularBuffer *pBuffer, BYTE *pDest, DWORD nWanted, DWORD *pnTaken) {
    if (pBuffer == nullptr) return false;
    return pBuffer->BytesAvailable(pDest, nWanted, pnTaken) > 0;
}

}  // namespace

bool CUsbComm::TimedRead(BYTE *pDest, DWORD nWanted, DWORD *pnTaken, DWORD dwTimeout) {
    // Holding the lease keeps the ring buffer and the events alive until this read has left; without one the link
    // is closed, or closing, and there is nothing to wait for.
    CReceiveLease lease(m_guard);
    if (!lease) {
        // Java's handle no longer names an open link.
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }

    HANDLE waitList[2] = {m_hDataEvent.load(), m_hStopEvent.load()};
    bool bWokeForData = false;
    for (;;) {
        // Resetting before the look into the buffer loses no wake-up: the reader stores first and signals after.
        if (!ResetEvent(waitList[0])) return bWokeForData;
        if (TakeFromBuffer(m_pCCBuffer.load(), pDest, nWanted, pnTaken)) return true;

        DWORD dwWait = WaitForMultipleObjects(2, waitList, FALSE, dwTimeout);
        if (dwWait == WAIT_OBJECT_0) {
            bWokeForData = true;
            if (TakeFromBuffer(m_pCCBuffer.load(), pDest, nWanted, pnTaken)) return true;
            continue;
        }
        if (dwWait == WAIT_OBJECT_0 + 1) {
            SetEvent(m_hThreadDoneEvent.load());
            m_bRunning = 0;
            SetLastError(ERROR_OPERATION_ABORTED);
        } else if (dwWait == WAIT_TIMEOUT) {
            // A driver that logs the error of a read that found nothing in time must see a time-out, not whatever
            // an earlier call left.
            SetLastError(ERROR_TIMEOUT);
        }
        return false;
    }
}

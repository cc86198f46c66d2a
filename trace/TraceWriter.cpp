#include "trace/TraceWriter.h"

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <vector>

#include "port/Lock.h"
#include "trace/Trace.h"

namespace {

// How often the writer looks at the queue when nobody wakes it.
const DWORD WRITER_PERIOD = 50;

enum EWriterState { WRITER_STOPPED, WRITER_RUNNING, WRITER_STOPPING };

std::atomic<int> g_nWriterState(WRITER_STOPPED);
// Serialises the writer's start and stop; the lazy start takes it only while the writer is stopped.
CLock g_writerLock;
HANDLE g_hWriterThread GUARDED_BY(g_writerLock) = nullptr;
// Used by the writer thread while it runs, and under the lock while it does not.
std::unique_ptr<CTraceFile> g_pDestination;

// The system's text for a code, without its line end; empty when the system has none.
void AppendSystemText(DWORD dwError, char *pszLine, size_t nSize) {
    char *pszText = nullptr;
    DWORD nLength =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                       nullptr, dwError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&pszText),
                       0, nullptr);
    while (nLength > 0 && pszText != nullptr && (pszText[nLength - 1] == '\n' || pszText[nLength - 1] == '\r')) {
        pszText[--nLength] = '\0';
    }
    size_t nUsed = strlen(pszLine);
    snprintf(pszLine + nUsed, nSize - nUsed, " err=%lu \"%s\"", static_cast<unsigned long>(dwError),
             nLength > 0 && pszText != nullptr ? pszText : "");
    if (pszText != nullptr) LocalFree(pszText);
}

void WriteRecord(CTraceFile &file, const STraceRecord &record) {
    char szLine[TRACE_TEXT_SIZE + 160];
    snprintf(szLine, sizeof(szLine), "%s", record.szText);
    if (record.bFailure) AppendSystemText(record.dwError, szLine, sizeof(szLine));
    size_t nLength = strlen(szLine);
    if (nLength + 1 < sizeof(szLine)) szLine[nLength++] = '\n';
    file.Write(szLine, static_cast<DWORD>(nLength));
}

void WriteDropped(CTraceFile &file, unsigned long long nDropped) {
    char szLine[96];
    int nLength = snprintf(szLine, sizeof(szLine), "# %llu events dropped: the queue was full\n", nDropped);
    file.Write(szLine, static_cast<DWORD>(nLength));
}

DWORD WINAPI TraceWriterProc(LPVOID) {
    CTraceFile &file = *g_pDestination;
    if (!file.IsOpen()) file.OpenForAppend();
    std::vector<STraceRecord> batch;
    batch.reserve(TRACE_QUEUE_CAPACITY);
    for (;;) {
        bool bStop = false;
        unsigned long long nDropped = TraceQueue().Take(&batch, WRITER_PERIOD, &bStop);
        if (nDropped > 0) WriteDropped(file, nDropped);
        for (const STraceRecord &record : batch) WriteRecord(file, record);
        file.Flush();
        if (bStop) break;
    }
    file.Close();
    return 0;
}

}  // namespace

CTraceQueue &TraceQueue() {
    static CTraceQueue queue(TRACE_QUEUE_CAPACITY);
    return queue;
}

void SetTraceDestination(std::unique_ptr<CTraceFile> pFile) {
    StopTraceWriter();
    CLockHolder lock(g_writerLock);
    g_pDestination = std::move(pFile);
}

void EnsureTraceWriter() {
    if (g_nWriterState.load(std::memory_order_acquire) != WRITER_STOPPED) return;
    CLockHolder lock(g_writerLock);
    if (g_nWriterState.load() != WRITER_STOPPED || g_pDestination == nullptr) return;
    TraceQueue().ClearStop();
    HANDLE hThread = CreateThread(nullptr, 0, TraceWriterProc, nullptr, 0, nullptr);
    if (hThread == nullptr) return;
    g_hWriterThread = hThread;
    g_nWriterState = WRITER_RUNNING;
}

bool IsTraceWriterRunning() { return g_nWriterState.load(std::memory_order_acquire) == WRITER_RUNNING; }

void StopTraceWriter() {
    DWORD dwError = GetLastError();
    {
        CLockHolder lock(g_writerLock);
        if (g_nWriterState.load() == WRITER_RUNNING) {
            g_nWriterState = WRITER_STOPPING;
            TraceQueue().RequestStop();
            WaitForSingleObject(g_hWriterThread, INFINITE);
            CloseHandle(g_hWriterThread);
            g_hWriterThread = nullptr;
            g_nWriterState = WRITER_STOPPED;
        }
    }
    SetLastError(dwError);
}

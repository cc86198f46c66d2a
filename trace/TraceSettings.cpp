#include "trace/TraceSettings.h"

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <memory>
#include <string>

#include "trace/Trace.h"
#include "trace/TraceWriter.h"

namespace {

const char TRACE_VARIABLE[] = "VIRIVOREZU_TRACE";
const char TRACE_BYTES_VARIABLE[] = "VIRIVOREZU_TRACE_BYTES";

std::atomic<bool> g_bShowBytes(false);
std::atomic<LONGLONG> g_nLoadCounter(0);
std::atomic<LONGLONG> g_nFrequency(1);

// The variable's value; empty when it is not set or does not fit.
std::string ReadVariable(const char *pszName) {
    char szValue[MAX_PATH];
    DWORD nLength = GetEnvironmentVariableA(pszName, szValue, sizeof(szValue));
    if (nLength == 0 || nLength >= sizeof(szValue)) return std::string();
    return std::string(szValue, nLength);
}

}  // namespace

void ReadTraceSettings() {
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    g_nFrequency = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
    g_nLoadCounter = counter.QuadPart;

    g_bTraceOn = false;
    StopTraceWriter();
    SetTraceDestination(nullptr);
    g_bShowBytes = ReadVariable(TRACE_BYTES_VARIABLE) == "1";
    std::string strDestination = ReadVariable(TRACE_VARIABLE);
    if (strDestination.empty()) return;

    std::unique_ptr<CTraceFile> pFile(new CTraceFile(strDestination, TRACE_FILE_CAP));
    if (!pFile->OpenFresh()) {
        fprintf(stderr, "VIRIVOREzu: trace stays off: %s cannot be written (error %lu)\n", strDestination.c_str(),
                static_cast<unsigned long>(GetLastError()));
        return;
    }
    SetTraceDestination(std::move(pFile));
    EnsureTraceWriter();
    g_bTraceOn = true;
}

bool TraceShowsBytes() { return g_bShowBytes.load(std::memory_order_relaxed); }

LONGLONG TraceLoadCounter() { return g_nLoadCounter.load(std::memory_order_relaxed); }

double TraceCounterFrequency() { return static_cast<double>(g_nFrequency.load(std::memory_order_relaxed)); }

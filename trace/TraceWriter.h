// The trace writer: one background thread that takes the queued lines and writes them to the trace's destination.
#pragma once

#include <windows.h>

#include <memory>

#include "trace/TraceFile.h"
#include "trace/TraceQueue.h"

const size_t TRACE_QUEUE_CAPACITY = 4096;

// The one queue of the process.
CTraceQueue &TraceQueue();
// Hands the writer its destination, opened already (null for none), after stopping a running writer.
void SetTraceDestination(std::unique_ptr<CTraceFile> pFile);
// Starts the writer unless it runs or is being stopped. Never waits for disk I/O; cheap when it runs.
void EnsureTraceWriter();
// Whether the writer's thread is up. It runs for as long as tracing does, so a host that counts the library's
// threads to find a link left open (the simulated bus's test kit) leaves this one out.
bool IsTraceWriterRunning();

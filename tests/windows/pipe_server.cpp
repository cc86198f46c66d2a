#include "pipe_server.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace winetest {

namespace {

// Discovery opens the interface path twice and a pipe once or twice per usbInitPipe, in a burst; the server
// thread refills the listening instances only when it gets to run, which on a loaded machine can be after several
// opens. A client that finds no listening instance fails with ERROR_PIPE_BUSY, where a real device would open.
const int kListeningInstances = 16;
const DWORD kSendLimitMs = 5000;
const DWORD kServerAnswerLimitMs = 10000;

}  // namespace

PipeServer::PipeServer(std::string pipeName, DWORD inBufferSize)
    : fullName_("\\\\.\\pipe\\" + std::move(pipeName)), inBufferSize_(inBufferSize) {}

PipeServer::~PipeServer() { stop(); }

bool PipeServer::start(std::string &error) {
    stopEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (stopEvent_ == nullptr) {
        error = "CreateEvent failed: " + std::to_string(GetLastError());
        return false;
    }
    wakeEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wakeEvent_ == nullptr) {
        error = "CreateEvent failed: " + std::to_string(GetLastError());
        return false;
    }
    keepListening();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (instances_.empty()) {
            error = "CreateNamedPipe(" + fullName_ + ") failed";
            return false;
        }
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void PipeServer::stop() {
    if (thread_.joinable()) {
        SetEvent(stopEvent_);
        thread_.join();
    }
    closeAll();
    if (stopEvent_ != nullptr) {
        CloseHandle(stopEvent_);
        stopEvent_ = nullptr;
    }
    if (wakeEvent_ != nullptr) {
        CloseHandle(wakeEvent_);
        wakeEvent_ = nullptr;
    }
}

Bytes PipeServer::received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

bool PipeServer::waitForReceived(std::size_t count, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return received_.size() >= count; });
}

void PipeServer::clearReceived() {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.clear();
}

bool PipeServer::sendToClient(const Bytes &bytes) {
    // A client's open returns before this server's thread has seen the connection; give it that moment.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendLimitMs);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        std::vector<Instance *> newestFirst;
        for (Instance &instance : instances_) {
            if (instance.connected) {
                newestFirst.push_back(&instance);
            }
        }
        std::sort(newestFirst.begin(), newestFirst.end(),
                  [](const Instance *a, const Instance *b) { return a->sequence > b->sequence; });
        for (Instance *instance : newestFirst) {
            // A client that has gone but whose end this thread has not noticed yet refuses with ERROR_NO_DATA.
            if (writeTo(*instance, bytes)) {
                return true;
            }
        }
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            return false;
        }
    }
}

bool PipeServer::stopReading() { return changeReading(false); }

bool PipeServer::startReading() { return changeReading(true); }

bool PipeServer::changeReading(bool wanted) {
    std::unique_lock<std::mutex> lock(mutex_);
    wantReading_ = wanted;
    if (!thread_.joinable()) {
        return true;
    }
    readingApplied_ = false;
    SetEvent(wakeEvent_);
    return changed_.wait_for(lock, std::chrono::milliseconds(kServerAnswerLimitMs), [&] { return readingApplied_; });
}

bool PipeServer::reading() {
    std::lock_guard<std::mutex> lock(mutex_);
    return wantReading_;
}

int PipeServer::liveConnections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return live_;
}

int PipeServer::totalConnections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return total_;
}

bool PipeServer::waitForLiveConnections(int count, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return live_ == count; });
}

void PipeServer::run() {
    for (;;) {
        keepListening();
        std::vector<HANDLE> waits{stopEvent_, wakeEvent_};
        std::vector<Instance *> owners{nullptr, nullptr};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (Instance &instance : instances_) {
                if (instance.pending) {
                    waits.push_back(instance.overlapped.hEvent);
                    owners.push_back(&instance);
                }
            }
        }
        DWORD result = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, INFINITE);
        if (result == WAIT_OBJECT_0 || result >= WAIT_OBJECT_0 + waits.size()) {
            return;
        }
        if (result == WAIT_OBJECT_0 + 1) {
            applyReading();
            continue;
        }
        complete(*owners[result - WAIT_OBJECT_0]);
    }
}

void PipeServer::applyReading() {
    const bool wanted = reading();
    std::vector<Instance *> connected;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Instance &instance : instances_) {
            if (instance.connected) {
                connected.push_back(&instance);
            }
        }
    }
    // A read that fails closes its instance, which leaves the others where they are.
    for (Instance *instance : connected) {
        if (wanted && !instance->pending) {
            startRead(*instance);
        } else if (!wanted && instance->pending) {
            endRead(*instance);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Changed again meanwhile: the wake event is set again, and the next pass answers.
        readingApplied_ = wantReading_ == wanted;
    }
    changed_.notify_all();
}

void PipeServer::keepListening() {
    int listening = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Instance &instance : instances_) {
            listening += instance.connected ? 0 : 1;
        }
    }
    for (; listening < kListeningInstances; ++listening) {
        HANDLE pipe = CreateNamedPipeA(fullName_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                       kPipeBufferSize, inBufferSize_, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            return;
        }
        Instance *instance = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            instances_.emplace_back();
            instance = &instances_.back();
            instance->pipe = pipe;
            instance->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        }
        listen(*instance);
    }
}

void PipeServer::listen(Instance &instance) {
    if (ConnectNamedPipe(instance.pipe, &instance.overlapped)) {
        onConnected(instance);
        return;
    }
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        instance.pending = true;
        return;
    }
    if (error == ERROR_PIPE_CONNECTED) {
        onConnected(instance);
        return;
    }
    close(instance);
}

void PipeServer::complete(Instance &instance) {
    DWORD count = 0;
    BOOL ok = GetOverlappedResult(instance.pipe, &instance.overlapped, &count, FALSE);
    instance.pending = false;
    if (!ok) {
        close(instance);
        return;
    }
    if (!instance.connected) {
        onConnected(instance);
        return;
    }
    collect(instance, count);
    startRead(instance);
}

void PipeServer::collect(Instance &instance, DWORD count) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), instance.buffer, instance.buffer + count);
    }
    changed_.notify_all();
}

void PipeServer::onConnected(Instance &instance) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        instance.connected = true;
        instance.sequence = nextSequence_++;
        ++live_;
        ++total_;
    }
    changed_.notify_all();
    startRead(instance);
}

void PipeServer::startRead(Instance &instance) {
    if (!reading()) {
        return;
    }
    // Completing at once also sets the event, so the wait loop collects the bytes either way.
    if (ReadFile(instance.pipe, instance.buffer, sizeof(instance.buffer), nullptr, &instance.overlapped) ||
        GetLastError() == ERROR_IO_PENDING) {
        instance.pending = true;
        return;
    }
    close(instance);
}

void PipeServer::endRead(Instance &instance) {
    CancelIoEx(instance.pipe, &instance.overlapped);
    DWORD count = 0;
    const BOOL ok = GetOverlappedResult(instance.pipe, &instance.overlapped, &count, TRUE);
    const DWORD error = GetLastError();
    instance.pending = false;
    if (ok) {
        collect(instance, count);
        return;
    }
    if (error != ERROR_OPERATION_ABORTED) {
        close(instance);
    }
}

void PipeServer::close(Instance &instance) {
    {
        // Under the lock, so that a send never writes to a handle that is being closed.
        std::lock_guard<std::mutex> lock(mutex_);
        if (instance.pending) {
            CancelIoEx(instance.pipe, &instance.overlapped);
            DWORD ignored = 0;
            GetOverlappedResult(instance.pipe, &instance.overlapped, &ignored, TRUE);
        }
        // Closing without DisconnectNamedPipe is what an unplug looks like to the client: ERROR_BROKEN_PIPE.
        CloseHandle(instance.pipe);
        CloseHandle(instance.overlapped.hEvent);
        live_ -= instance.connected ? 1 : 0;
        instances_.remove_if([&](const Instance &candidate) { return &candidate == &instance; });
    }
    changed_.notify_all();
}

void PipeServer::closeAll() {
    for (;;) {
        Instance *first = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (instances_.empty()) {
                return;
            }
            first = &instances_.front();
        }
        close(*first);
    }
}

bool PipeServer::writeTo(Instance &instance, const Bytes &bytes) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    BOOL ok = WriteFile(instance.pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, kSendLimitMs) != WAIT_OBJECT_0) {
            CancelIoEx(instance.pipe, &overlapped);
        }
        ok = TRUE;
    }
    if (ok) {
        ok = GetOverlappedResult(instance.pipe, &overlapped, &written, TRUE);
    }
    CloseHandle(overlapped.hEvent);
    return ok && written == bytes.size();
}

}  // namespace winetest

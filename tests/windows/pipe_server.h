// The printer's end of one simulated USB pipe: a named pipe served on a thread of its own. Every instance is
// duplex, overlapped and in byte mode, and a pool of instances always waits for clients, so that the library's
// opens, which come in bursts and sometimes from two threads, never find the pipe busy.
// With an inbound buffer of 0 a client's write ends only once the server has read it, as a bulk transfer ends only
// once the printer took it; a server that stops reading then holds its clients' writes, as a printer with its cover
// open does.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace winetest {

using Bytes = std::vector<unsigned char>;

const DWORD kPipeBufferSize = 4096;

class PipeServer {
public:
    // `pipeName` without the \\.\pipe\ prefix, for example "ref\PIPE00"; `inBufferSize` is how much clients may
    // write before their writes wait for the server to read.
    explicit PipeServer(std::string pipeName, DWORD inBufferSize = kPipeBufferSize);
    ~PipeServer();
    PipeServer(const PipeServer &) = delete;
    PipeServer &operator=(const PipeServer &) = delete;

    bool start(std::string &error);
    // Closes every instance: clients' pending reads end with ERROR_BROKEN_PIPE.
    void stop();

    // Everything clients wrote, over all connections, in arrival order.
    Bytes received();
    bool waitForReceived(std::size_t count, DWORD timeoutMs);
    void clearReceived();

    // Writes the bytes to the most recently connected client that is still there; false if none took them.
    bool sendToClient(const Bytes &bytes);

    // Stops taking what clients write; returns once no read of the server's is pending. While it does not read, the
    // server does not see a client go either: its connection counts stay as they were until reading starts again.
    // Both false when the server thread did not answer in time.
    bool stopReading();
    bool startReading();

    int liveConnections();
    int totalConnections();
    bool waitForLiveConnections(int count, DWORD timeoutMs);

private:
    struct Instance {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        OVERLAPPED overlapped{};
        bool connected = false;
        bool pending = false;
        std::uint64_t sequence = 0;
        unsigned char buffer[256] = {};
    };

    void run();
    // On the server thread: starts or ends the reads of the connected instances as the tests asked.
    void applyReading();
    bool reading();
    bool changeReading(bool wanted);
    void keepListening();
    void listen(Instance &instance);
    void complete(Instance &instance);
    void onConnected(Instance &instance);
    void startRead(Instance &instance);
    // Cancels a pending read and keeps what it had taken.
    void endRead(Instance &instance);
    void collect(Instance &instance, DWORD count);
    void close(Instance &instance);
    void closeAll();
    bool writeTo(Instance &instance, const Bytes &bytes);

    const std::string fullName_;
    const DWORD inBufferSize_;
    HANDLE stopEvent_ = nullptr;
    // Tells the server thread that the tests changed wantReading_.
    HANDLE wakeEvent_ = nullptr;
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable changed_;
    // Changed only by the server thread (and by stop() once that thread has ended); read under mutex_ elsewhere.
    std::list<Instance> instances_;
    Bytes received_;
    int live_ = 0;
    int total_ = 0;
    std::uint64_t nextSequence_ = 1;
    bool wantReading_ = true;
    // Whether the server thread has applied wantReading_ to every connected instance.
    bool readingApplied_ = true;
};

}  // namespace winetest

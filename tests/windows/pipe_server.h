// The printer's end of one simulated USB pipe: a named pipe served on a thread of its own. Every instance is
// duplex, overlapped and in byte mode, and a pool of instances always waits for clients, so that the library's
// opens, which come in bursts and sometimes from two threads, never find the pipe busy.
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

class PipeServer {
public:
    // `pipeName` without the \\.\pipe\ prefix, for example "ref\PIPE00".
    explicit PipeServer(std::string pipeName);
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
    void keepListening();
    void listen(Instance &instance);
    void complete(Instance &instance);
    void onConnected(Instance &instance);
    void startRead(Instance &instance);
    void close(Instance &instance);
    void closeAll();
    bool writeTo(Instance &instance, const Bytes &bytes);

    const std::string fullName_;
    HANDLE stopEvent_ = nullptr;
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable changed_;
    // Changed only by the server thread (and by stop() once that thread has ended); read under mutex_ elsewhere.
    std::list<Instance> instances_;
    Bytes received_;
    int live_ = 0;
    int total_ = 0;
    std::uint64_t nextSequence_ = 1;
};

}  // namespace winetest

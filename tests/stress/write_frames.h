// What Java writes: frames that carry their writer and number and a body that follows from both, so that the
// printer's input shows whether each write arrived whole, which writes arrived, and in what order.
#pragma once

#include <jni.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// writer: 1..255, sequence: 0..65535, body: 0..255 bytes.
std::vector<jbyte> makeFrame(int writer, int sequence, int bodyLength);

// The writes that the library reported as done, per writer, in the writer's order. Thread-safe.
class WriteLedger {
public:
    void recordWritten(int writer, int sequence);
    // Empty when the printer's input is exactly the recorded writes, each whole and in its writer's order, with
    // nothing between them but the library's own suspend and resume commands; otherwise what is wrong.
    std::string check(const std::vector<uint8_t> &input);
    // The same when the writes may have gone to several printers: each printer's input holds whole frames in their
    // writers' order, and together the printers got exactly the recorded writes.
    std::string checkAcross(const std::vector<std::vector<uint8_t>> &inputs);
    void clear();

private:
    std::string compareWithWritten(std::map<int, std::vector<int>> &arrived);

    std::mutex lock_;
    std::map<int, std::vector<int>> written_;
};

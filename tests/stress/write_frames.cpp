#include "stress/write_frames.h"

#include "stress/text_format.h"

namespace {

const uint8_t FRAME_MARK = 0xA5;
const size_t FRAME_HEADER = 5;
const uint8_t SUSPEND_COMMAND[] = {0x1D, 0xFF};
const uint8_t RESUME_COMMAND[] = {0x1D, 0x04, 0x02, 0x1B, 0x40};

uint8_t bodyByte(int writer, int sequence, int index) {
    return static_cast<uint8_t>(writer * 31 + sequence * 7 + index * 13);
}

bool startsWith(const std::vector<uint8_t> &input, size_t at, const uint8_t *bytes, size_t count) {
    if (input.size() - at < count) return false;
    for (size_t i = 0; i < count; ++i) {
        if (input[at + i] != bytes[i]) return false;
    }
    return true;
}

std::string describeAt(const std::vector<uint8_t> &input, size_t at, const char *what) {
    return formatText("printer input, offset %zu of %zu: %s (byte 0x%02X)", at, input.size(), what,
                      at < input.size() ? input[at] : 0);
}

// The frame at `at`: its length, or 0 when the bytes there are not a whole, intact frame.
size_t frameAt(const std::vector<uint8_t> &input, size_t at, int *writer, int *sequence) {
    if (input.size() - at < FRAME_HEADER) return 0;
    *writer = input[at + 1];
    *sequence = (input[at + 2] << 8) | input[at + 3];
    size_t body = input[at + 4];
    if (input.size() - at - FRAME_HEADER < body) return 0;
    for (size_t i = 0; i < body; ++i) {
        if (input[at + FRAME_HEADER + i] != bodyByte(*writer, *sequence, static_cast<int>(i))) return 0;
    }
    return FRAME_HEADER + body;
}

std::string compareWriter(int writer, const std::vector<int> &expected, const std::vector<int> &arrived) {
    size_t i = 0;
    while (i < expected.size() && i < arrived.size() && expected[i] == arrived[i]) ++i;
    if (i == expected.size() && i == arrived.size()) return "";
    return formatText("writer %d: %zu writes reported done, %zu arrived; first difference at position %zu: done #%d, "
                      "arrived #%d",
                      writer, expected.size(), arrived.size(), i, i < expected.size() ? expected[i] : -1,
                      i < arrived.size() ? arrived[i] : -1);
}

}  // namespace

std::vector<jbyte> makeFrame(int writer, int sequence, int bodyLength) {
    std::vector<jbyte> frame;
    frame.push_back(static_cast<jbyte>(FRAME_MARK));
    frame.push_back(static_cast<jbyte>(writer));
    frame.push_back(static_cast<jbyte>(sequence >> 8));
    frame.push_back(static_cast<jbyte>(sequence));
    frame.push_back(static_cast<jbyte>(bodyLength));
    for (int i = 0; i < bodyLength; ++i) frame.push_back(static_cast<jbyte>(bodyByte(writer, sequence, i)));
    return frame;
}

void WriteLedger::recordWritten(int writer, int sequence) {
    std::lock_guard<std::mutex> guard(lock_);
    written_[writer].push_back(sequence);
}

std::string WriteLedger::check(const std::vector<uint8_t> &input) {
    std::map<int, std::vector<int>> arrived;
    size_t at = 0;
    while (at < input.size()) {
        if (startsWith(input, at, SUSPEND_COMMAND, sizeof(SUSPEND_COMMAND))) {
            at += sizeof(SUSPEND_COMMAND);
            continue;
        }
        if (startsWith(input, at, RESUME_COMMAND, sizeof(RESUME_COMMAND))) {
            at += sizeof(RESUME_COMMAND);
            continue;
        }
        if (input[at] != FRAME_MARK) return describeAt(input, at, "neither a frame nor a printer command");
        int writer = 0;
        int sequence = 0;
        size_t length = frameAt(input, at, &writer, &sequence);
        if (length == 0) return describeAt(input, at, "a frame cut short or corrupted");
        arrived[writer].push_back(sequence);
        at += length;
    }

    std::lock_guard<std::mutex> guard(lock_);
    for (const auto &entry : written_) {
        std::string problem = compareWriter(entry.first, entry.second, arrived[entry.first]);
        if (!problem.empty()) return problem;
    }
    for (const auto &entry : arrived) {
        if (written_.count(entry.first) == 0) return compareWriter(entry.first, {}, entry.second);
    }
    return "";
}

void WriteLedger::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    written_.clear();
}

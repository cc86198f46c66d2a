#include "stress/write_frames.h"

#include <algorithm>

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
    return formatText(
        "writer %d: %zu writes reported done, %zu arrived; first difference at position %zu: done #%d, "
        "arrived #%d",
        writer, expected.size(), arrived.size(), i, i < expected.size() ? expected[i] : -1,
        i < arrived.size() ? arrived[i] : -1);
}

// The frames in a printer's input, per writer in the order they arrived; what is wrong when the input is anything
// but whole frames and the library's own printer commands.
std::string parseFrames(const std::vector<uint8_t> &input, std::map<int, std::vector<int>> &arrived) {
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
    return "";
}

std::string checkIncreasing(const std::map<int, std::vector<int>> &arrived) {
    for (const auto &entry : arrived) {
        for (size_t i = 1; i < entry.second.size(); ++i) {
            if (entry.second[i - 1] < entry.second[i]) continue;
            return formatText("writer %d: write #%d arrived after #%d", entry.first, entry.second[i],
                              entry.second[i - 1]);
        }
    }
    return "";
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
    std::string problem = parseFrames(input, arrived);
    if (!problem.empty()) return problem;
    return compareWithWritten(arrived);
}

std::string WriteLedger::checkAcross(const std::vector<std::vector<uint8_t>> &inputs) {
    std::map<int, std::vector<int>> arrived;
    for (size_t printer = 0; printer < inputs.size(); ++printer) {
        std::map<int, std::vector<int>> onPrinter;
        std::string problem = parseFrames(inputs[printer], onPrinter);
        if (problem.empty()) problem = checkIncreasing(onPrinter);
        if (!problem.empty()) return formatText("printer %zu of %zu: ", printer + 1, inputs.size()) + problem;
        for (const auto &entry : onPrinter) {
            std::vector<int> &all = arrived[entry.first];
            all.insert(all.end(), entry.second.begin(), entry.second.end());
        }
    }
    // Sequence numbers grow in each writer's order, so the merge in that order is the sorted one.
    for (auto &entry : arrived) std::sort(entry.second.begin(), entry.second.end());
    return compareWithWritten(arrived);
}

std::string WriteLedger::compareWithWritten(std::map<int, std::vector<int>> &arrived) {
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

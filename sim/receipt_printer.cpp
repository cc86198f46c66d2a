#include "sim/receipt_printer.h"

#include <cstdio>

namespace sim {
namespace {

const uint8_t LF = 0x0A;
const uint8_t CR = 0x0D;
const uint8_t DLE = 0x10;
const uint8_t EOT = 0x04;
const uint8_t ESC = 0x1B;
const uint8_t GS = 0x1D;

// Bits every status byte carries: bits 1 and 4 set, bits 0 and 7 clear.
const uint8_t STATUS_FIXED = 0x12;

bool isPrintable(uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; }

// Bytes that end a run of unknown bytes, because they start something the printer understands.
bool startsSomething(uint8_t byte) {
    return isPrintable(byte) || byte == LF || byte == CR || byte == ESC || byte == GS || byte == DLE;
}

std::string hexRun(const std::vector<uint8_t> &bytes) {
    std::string run = "[";
    for (size_t i = 0; i < bytes.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof(hex), "%02X", bytes[i]);
        if (i > 0) run += ' ';
        run += hex;
    }
    return run + "]";
}

std::string cutLine() {
    const std::string mark = " cut ";
    int side = (ReceiptPrinter::lineWidth - static_cast<int>(mark.size())) / 2;
    std::string line(static_cast<size_t>(side), '-');
    line += mark;
    line.append(static_cast<size_t>(ReceiptPrinter::lineWidth - static_cast<int>(line.size())), '-');
    return line;
}

}  // namespace

std::vector<uint8_t> ReceiptPrinter::receive(const uint8_t *bytes, size_t count) {
    std::vector<uint8_t> answers;
    std::lock_guard<std::mutex> guard(mutex_);
    for (size_t i = 0; i < count; ++i) interpret(bytes[i], answers);
    return answers;
}

std::string ReceiptPrinter::text() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::string text;
    for (const std::string &line : lines_) text += line + '\n';
    if (state_ == State::Unknown) text += hexRun(unknown_) + '\n';
    if (!line_.empty()) text += aligned(closedLine()) + '\n';
    return text;
}

void ReceiptPrinter::setCondition(const PrinterCondition &condition) {
    std::lock_guard<std::mutex> guard(mutex_);
    condition_ = condition;
}

void ReceiptPrinter::interpret(uint8_t byte, std::vector<uint8_t> &answers) {
    switch (state_) {
    case State::Text:
        onText(byte);
        return;
    case State::Esc:
        onEsc(byte);
        return;
    case State::EscEmphasis:
        emphasis_ = (byte & 1) != 0;
        state_ = State::Text;
        return;
    case State::EscAlign:
        // Both the binary and the ASCII-digit forms select; other values leave the alignment as it is.
        if (byte == 0 || byte == '0') align_ = Align::Left;
        if (byte == 1 || byte == '1') align_ = Align::Center;
        if (byte == 2 || byte == '2') align_ = Align::Right;
        state_ = State::Text;
        return;
    case State::EscFeed:
        if (byte == 0 && !line_.empty()) printLine();
        for (int i = 0; i < byte; ++i) printLine();
        state_ = State::Text;
        return;
    case State::Gs:
        onGs(byte);
        return;
    case State::GsCut:
        if (byte == 0 || byte == 1 || byte == '0' || byte == '1') {
            cut();
            state_ = State::Text;
        } else if (byte == 65 || byte == 66) {
            state_ = State::GsCutFeed;
        } else {
            startUnknown({GS, 'V', byte});
        }
        return;
    case State::GsCutFeed:
        cut();
        state_ = State::Text;
        return;
    case State::Dle:
        onDle(byte);
        return;
    case State::DleEot:
        if (byte >= 1 && byte <= 4) {
            answers.push_back(status(byte));
            state_ = State::Text;
        } else {
            startUnknown({DLE, EOT, byte});
        }
        return;
    case State::Unknown:
        onUnknown(byte, answers);
        return;
    }
}

void ReceiptPrinter::onText(uint8_t byte) {
    if (byte == LF) {
        printLine();
    } else if (byte == CR) {
        // Receipt printers feed on LF alone.
    } else if (byte == ESC) {
        state_ = State::Esc;
    } else if (byte == GS) {
        state_ = State::Gs;
    } else if (byte == DLE) {
        state_ = State::Dle;
    } else if (isPrintable(byte)) {
        appendCharacter(static_cast<char>(byte));
    } else {
        startUnknown({byte});
    }
}

void ReceiptPrinter::onEsc(uint8_t byte) {
    state_ = State::Text;
    if (byte == 'E') {
        state_ = State::EscEmphasis;
    } else if (byte == 'a') {
        state_ = State::EscAlign;
    } else if (byte == 'd') {
        state_ = State::EscFeed;
    } else if (byte == '@') {
        initialise();
    } else {
        startUnknown({ESC, byte});
    }
}

void ReceiptPrinter::onGs(uint8_t byte) {
    if (byte == 'V') {
        state_ = State::GsCut;
        return;
    }
    startUnknown({GS, byte});
}

void ReceiptPrinter::onDle(uint8_t byte) {
    if (byte == EOT) {
        state_ = State::DleEot;
        return;
    }
    startUnknown({DLE, byte});
}

void ReceiptPrinter::onUnknown(uint8_t byte, std::vector<uint8_t> &answers) {
    if (!startsSomething(byte)) {
        unknown_.push_back(byte);
        return;
    }
    endUnknown();
    interpret(byte, answers);
}

void ReceiptPrinter::startUnknown(std::initializer_list<uint8_t> bytes) {
    unknown_.assign(bytes);
    state_ = State::Unknown;
}

void ReceiptPrinter::endUnknown() {
    // Shown above the text line it arrived in, which stays open.
    lines_.push_back(hexRun(unknown_));
    unknown_.clear();
    state_ = State::Text;
}

void ReceiptPrinter::appendCharacter(char character) {
    if (columns_ == lineWidth) printLine();
    if (emphasis_ != markerOpen_) {
        line_ += '*';
        markerOpen_ = emphasis_;
    }
    line_ += character;
    ++columns_;
}

void ReceiptPrinter::printLine() {
    lines_.push_back(aligned(closedLine()));
    line_.clear();
    columns_ = 0;
    markerOpen_ = false;
}

void ReceiptPrinter::cut() {
    if (!line_.empty()) printLine();
    lines_.push_back(cutLine());
}

void ReceiptPrinter::initialise() {
    // As on a real printer: the modes go back to their defaults and text not yet printed is discarded.
    emphasis_ = false;
    align_ = Align::Left;
    line_.clear();
    columns_ = 0;
    markerOpen_ = false;
}

uint8_t ReceiptPrinter::status(uint8_t request) const {
    uint8_t bits = STATUS_FIXED;
    switch (request) {
    case 1:  // printer: bit 2 drawer pin 3 high, bit 3 offline, bit 5 waiting for online recovery, bit 6 feed button
        if (condition_.drawerHigh) bits |= 0x04;
        if (isOffline()) bits |= 0x08;
        if (condition_.autocutterError) bits |= 0x20;
        if (condition_.feedButton) bits |= 0x40;
        break;
    case 2:  // offline cause: bit 2 cover open, bit 3 feed by the button, bit 5 stopped at paper end, bit 6 error
        if (condition_.coverOpen) bits |= 0x04;
        if (condition_.feedButton) bits |= 0x08;
        if (condition_.paperOut) bits |= 0x20;
        if (hasError()) bits |= 0x40;
        break;
    case 3:  // error cause: bit 3 autocutter, bit 5 unrecoverable, bit 6 automatically recoverable
        if (condition_.autocutterError) bits |= 0x08;
        if (condition_.unrecoverableError) bits |= 0x20;
        if (condition_.autoRecoverableError) bits |= 0x40;
        break;
    case 4:  // roll paper sensor: bits 2-3 near end, bits 5-6 paper end
        if (condition_.paperNearEnd || condition_.paperOut) bits |= 0x0C;
        if (condition_.paperOut) bits |= 0x60;
        break;
    }
    return bits;
}

bool ReceiptPrinter::isOffline() const {
    return condition_.offline || condition_.coverOpen || condition_.paperOut || condition_.feedButton || hasError();
}

bool ReceiptPrinter::hasError() const {
    return condition_.autocutterError || condition_.unrecoverableError || condition_.autoRecoverableError;
}

bool ReceiptPrinter::acceptsWrite(const uint8_t *bytes, size_t count) const {
    std::lock_guard<std::mutex> guard(mutex_);
    // An offline printer prints nothing, whatever put it offline (the cover, the paper end, the feed button, an
    // error, or offline alone): its receive buffer fills and the pipe stops taking data, while the real-time status
    // requests go on being answered (Epson ESC/POS Command Reference, DLE EOT: "executed even when the printer is
    // offline, the receive buffer is full, or there is an error status",
    // https://download4.epson.biz/sec_pubs/pos/reference_en/escpos/dle_eot.html).
    if (!isOffline()) return true;
    if (count % 3 != 0) return false;
    for (size_t i = 0; i < count; i += 3) {
        if (bytes[i] != DLE || bytes[i + 1] != EOT || bytes[i + 2] < 1 || bytes[i + 2] > 4) return false;
    }
    return true;
}

std::string ReceiptPrinter::closedLine() const { return markerOpen_ ? line_ + '*' : line_; }

std::string ReceiptPrinter::aligned(const std::string &line) const {
    int room = lineWidth - static_cast<int>(line.size());
    if (line.empty() || room <= 0 || align_ == Align::Left) return line;
    int pad = align_ == Align::Center ? room / 2 : room;
    return std::string(static_cast<size_t>(pad), ' ') + line;
}

}  // namespace sim

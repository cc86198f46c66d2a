// A virtual ESC/POS receipt printer: turns the byte stream a host writes into a receipt rendered as text, and
// answers the real-time status requests DLE EOT n the way a receipt printer does.
//
// Understood: printable ASCII, LF, CR (ignored), ESC E n (emphasis), ESC a n (alignment), ESC d n (print and feed),
// ESC @ (initialise), GS V m [n] (cut) and DLE EOT n (status, n = 1..4). Anything else is shown as hex on a line of
// its own, above the text line it arrived in: an introducer (ESC, GS, DLE) with its command byte, or a stray
// control byte, together with the control bytes that follow it. The library's suspend command 1D FF and resume
// command 1D 04 02 1B 40 thus show as "[1D FF]" and "[1D 04 02]" followed by an initialise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// What the printer's sensors and mechanism report. A fresh printer is online, its cover closed, paper present and
// no error. The printer is offline whenever its cover is open, its paper is out, the feed button is held or an
// error has occurred, and also when `offline` alone is set.
struct PrinterCondition {
    bool coverOpen = false;
    bool paperNearEnd = false;
    bool paperOut = false;
    bool offline = false;
    // Pin 3 of the drawer kick-out connector: high while the drawer is open on most drawers.
    bool drawerHigh = false;
    // The feed button is held, and paper is being fed by it.
    bool feedButton = false;
    // The three error kinds of DLE EOT 3. An autocutter error waits for the host's recovery request.
    bool autocutterError = false;
    bool unrecoverableError = false;
    bool autoRecoverableError = false;
};

class ReceiptPrinter {
public:
    // Characters per line of 80 mm paper in the standard font.
    static constexpr int lineWidth = 42;

    // Interprets the next bytes of the stream; returns the printer's answers (status bytes), in order. A command
    // may be split across calls.
    std::vector<uint8_t> receive(const uint8_t *bytes, size_t count);
    // The receipt so far, one '\n' after every line, including the line not yet ended. Emphasised text is
    // enclosed in '*'; a cut is a line of its own.
    std::string text() const;
    void setCondition(const PrinterCondition &condition);
    // Whether the printer takes this write now. While offline (cover open, paper out, feed button, an error, or
    // offline alone) it takes the real-time status requests (DLE EOT n) only: everything else waits, as the receive
    // buffer of a real printer that prints nothing fills and the USB pipe stops taking data.
    bool acceptsWrite(const uint8_t *bytes, size_t count) const;

private:
    enum class State { Text, Esc, EscEmphasis, EscAlign, EscFeed, Gs, GsCut, GsCutFeed, Dle, DleEot, Unknown };
    enum class Align { Left, Center, Right };

    void interpret(uint8_t byte, std::vector<uint8_t> &answers);
    void onText(uint8_t byte);
    void onEsc(uint8_t byte);
    void onGs(uint8_t byte);
    void onDle(uint8_t byte);
    void onUnknown(uint8_t byte, std::vector<uint8_t> &answers);
    void startUnknown(std::initializer_list<uint8_t> bytes);
    void endUnknown();
    void appendCharacter(char character);
    void printLine();
    void cut();
    void initialise();
    uint8_t status(uint8_t request) const;
    bool isOffline() const;
    bool hasError() const;
    std::string closedLine() const;
    std::string aligned(const std::string &line) const;

    mutable std::mutex mutex_;
    State state_ = State::Text;
    bool emphasis_ = false;
    Align align_ = Align::Left;
    PrinterCondition condition_;
    std::vector<std::string> lines_;
    // The line being filled, with its emphasis markers, and its number of printed characters.
    std::string line_;
    int columns_ = 0;
    bool markerOpen_ = false;
    std::vector<uint8_t> unknown_;
};

}  // namespace sim

// The virtual receipt printer's interpretation of the ESC/POS stream and its status answers.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/receipt_printer.h"

namespace {

using sim::ReceiptPrinter;
using namespace std::string_literals;

std::vector<uint8_t> feed(ReceiptPrinter &printer, const std::string &bytes) {
    return printer.receive(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

std::string rendered(const std::string &bytes) {
    ReceiptPrinter printer;
    feed(printer, bytes);
    return printer.text();
}

std::string padded(int spaces, const std::string &text) { return std::string(static_cast<size_t>(spaces), ' ') + text; }

const std::string cutLine = "------------------ cut -------------------";

TEST(ReceiptRendering, aReceiptWithAlignmentEmphasisFeedAndCut) {
    std::string receipt =
        "\x1b@"
        "\x1b"
        "a\x01"
        "\x1b"
        "E\x01"
        "CAFE\n"
        "\x1b"
        "E\x00"
        "Main St 1\n"s +
        "\x1b"
        "a0"
        "Tea \x1b"
        "E1"
        "1.80\x1b"
        "E0"
        " EUR\r\n" +
        "\x1b"
        "a2"
        "Total 1.80\n" +
        "\x1b"
        "d\x02"
        "\x1d"
        "V\x01";
    EXPECT_EQ(padded(18, "*CAFE*") + "\n" + padded(16, "Main St 1") + "\n" + "Tea *1.80* EUR\n" +
                  padded(32, "Total 1.80") + "\n\n\n" + cutLine + "\n",
              rendered(receipt));
    ASSERT_EQ(ReceiptPrinter::lineWidth, static_cast<int>(cutLine.size()));
}

TEST(ReceiptRendering, commandsSplitAcrossWritesGiveTheSameReceipt) {
    std::string receipt =
        "\x1b"
        "a\x01"
        "\x1b"
        "E\x01"
        "Head\n"
        "\x1b"
        "E\x00"
        "\x1d\xff"
        "\x10\x04\x01"s +
        "body\n" +
        "\x1d"
        "VA\x03";
    ReceiptPrinter whole;
    std::vector<uint8_t> wholeAnswers = feed(whole, receipt);
    ReceiptPrinter bytewise;
    std::vector<uint8_t> bytewiseAnswers;
    for (char byte : receipt) {
        std::vector<uint8_t> answers = feed(bytewise, std::string(1, byte));
        bytewiseAnswers.insert(bytewiseAnswers.end(), answers.begin(), answers.end());
    }
    EXPECT_EQ(whole.text(), bytewise.text());
    EXPECT_EQ(wholeAnswers, bytewiseAnswers);
    EXPECT_EQ(std::vector<uint8_t>{0x12}, wholeAnswers);
    EXPECT_EQ(padded(18, "*Head*") + "\n[1D FF]\n" + padded(19, "body") + "\n" + cutLine + "\n", whole.text());
}

TEST(ReceiptRendering, unknownCommandsShowAsHexAboveTheirLine) {
    // The library's own suspend and resume commands, a font command in mid-line, stray bytes.
    EXPECT_EQ("[1D FF]\n", rendered("\x1d\xff"));
    EXPECT_EQ("[1D 04 02]\n", rendered("\x1d\x04\x02\x1b\x40"));
    EXPECT_EQ("[1B 21 08]\nTotal 12.00\n", rendered("Total \x1b!\x08"
                                                    "12.00\n"));
    EXPECT_EQ("[02 03 80]\nab\n", rendered("a\x02\x03"
                                           "\x80"
                                           "b\n"));
    EXPECT_EQ("[10 04 07]\n[10 41]\n[1D 56 07]\n", rendered("\x10\x04\x07"
                                                            "\x10"
                                                            "A"
                                                            "\x1dV\x07"));
    EXPECT_EQ("[1D FF]\n[1D 04 02]\n", rendered("\x1d\xff\x1d\x04\x02"));
}

TEST(ReceiptRendering, initialiseResetsTheModesAndDropsTheUnprintedLine) {
    EXPECT_EQ(padded(36, "*kept*") + "\nnew\n", rendered("\x1b"
                                                         "a\x02"
                                                         "\x1b"
                                                         "E\x01"
                                                         "kept"
                                                         "\x1b"
                                                         "E\x00"
                                                         "\n"
                                                         "\x1b"
                                                         "a\x02"
                                                         "lost"
                                                         "\x1b@"
                                                         "new\n"s));
    EXPECT_EQ("plain\n", rendered("\x1b"
                                  "E\x01"
                                  "\x1b@"
                                  "plain\n"));
}

TEST(ReceiptRendering, longLinesWrapAtTheLineWidthKeepingEmphasis) {
    std::string text(50, 'x');
    EXPECT_EQ(std::string(42, 'x') + "\n" + std::string(8, 'x') + "\n", rendered(text + "\n"));
    EXPECT_EQ("*" + std::string(42, 'y') + "*\n*yy*\n", rendered("\x1b"
                                                                 "E\x01" +
                                                                 std::string(44, 'y') + "\n"));
    EXPECT_EQ("open *line*\n", rendered("open \x1b"
                                        "E\x01"
                                        "line"))
        << "the line not yet ended is shown closed";
}

TEST(ReceiptRendering, statusAnswersCarryTheFixedBitsAndTheCondition) {
    ReceiptPrinter printer;
    EXPECT_EQ((std::vector<uint8_t>{0x12, 0x12, 0x12, 0x12}), feed(printer, std::string("\x10\x04\x01"
                                                                                        "\x10\x04\x02"
                                                                                        "\x10\x04\x03"
                                                                                        "\x10\x04\x04",
                                                                                        12)))
        << "online, cover closed, no error, paper present";

    sim::PrinterCondition coverOpen;
    coverOpen.coverOpen = true;
    printer.setCondition(coverOpen);
    EXPECT_EQ((std::vector<uint8_t>{0x1A, 0x16, 0x12, 0x12}), feed(printer, std::string("\x10\x04\x01"
                                                                                        "\x10\x04\x02"
                                                                                        "\x10\x04\x03"
                                                                                        "\x10\x04\x04",
                                                                                        12)));

    sim::PrinterCondition paperOut;
    paperOut.paperOut = true;
    printer.setCondition(paperOut);
    EXPECT_EQ((std::vector<uint8_t>{0x1A, 0x32, 0x12, 0x7E}), feed(printer, std::string("\x10\x04\x01"
                                                                                        "\x10\x04\x02"
                                                                                        "\x10\x04\x03"
                                                                                        "\x10\x04\x04",
                                                                                        12)));

    sim::PrinterCondition nearEnd;
    nearEnd.paperNearEnd = true;
    printer.setCondition(nearEnd);
    EXPECT_EQ((std::vector<uint8_t>{0x12, 0x1E}), feed(printer, std::string("\x10\x04\x01"
                                                                            "\x10\x04\x04",
                                                                            6)));

    EXPECT_EQ("", printer.text()) << "status requests print nothing";
    EXPECT_TRUE(feed(printer, std::string("\x10\x04\x00\x10\x04\x05", 6)).empty());
}

TEST(ReceiptRendering, aStatusRequestInsideALineLeavesTheLineWhole) {
    ReceiptPrinter printer;
    EXPECT_EQ(std::vector<uint8_t>{0x12}, feed(printer,
                                               "Half \x10\x04\x01"
                                               "line\n"));
    EXPECT_EQ("Half line\n", printer.text());
}

bool takes(const ReceiptPrinter &printer, const std::string &bytes) {
    return printer.acceptsWrite(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

TEST(ReceiptRendering, anOfflinePrinterTakesStatusRequestsOnly) {
    const std::string print = "Tea  1.80\n";
    const std::string statusRequests = "\x10\x04\x01\x10\x04\x04"s;
    ReceiptPrinter printer;
    EXPECT_TRUE(takes(printer, print));

    sim::PrinterCondition nearEnd;
    nearEnd.paperNearEnd = true;
    sim::PrinterCondition drawer;
    drawer.drawerHigh = true;
    for (const sim::PrinterCondition &online : {nearEnd, drawer}) {
        printer.setCondition(online);
        EXPECT_TRUE(takes(printer, print)) << "still online: prints";
    }

    sim::PrinterCondition cover, paperOut, offline, feedButton, cutter;
    cover.coverOpen = true;
    paperOut.paperOut = true;
    offline.offline = true;
    feedButton.feedButton = true;
    cutter.autocutterError = true;
    for (const sim::PrinterCondition &stopped : {cover, paperOut, offline, feedButton, cutter}) {
        printer.setCondition(stopped);
        EXPECT_FALSE(takes(printer, print));
        EXPECT_FALSE(takes(printer, "\x10\x04\x01Tea"s)) << "a status request does not carry print data along";
        EXPECT_TRUE(takes(printer, statusRequests));
    }
}

}  // namespace

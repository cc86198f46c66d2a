// Virtual receipt printers on the bus, reached through the C control API and its library-free pipes.
#include <string>
#include <vector>

#include "sim_test_support.h"

namespace {

using sim_test::SimTest;

using ReceiptOnBus = SimTest;

std::string receiptText(int id) {
    int length = simbus_receipt_text(id, nullptr, 0);
    if (length < 0) return "<none>";
    std::vector<char> text(static_cast<size_t>(length) + 1);
    simbus_receipt_text(id, text.data(), length + 1);
    return std::string(text.data());
}

int rawWrite(int id, const std::string &bytes) {
    return simbus_raw_write(id, bytes.data(), static_cast<int>(bytes.size()));
}

TEST_F(ReceiptOnBus, printsAndAnswersTheStatusThroughTheReadPipeOnBothTransports) {
    for (int transport : {0, 1}) {
        int id = simbus_attach_receipt_printer(transport);
        ASSERT_GT(id, 0);
        ASSERT_EQ(0, simbus_raw_open(id));
        EXPECT_EQ(10, rawWrite(id, "Tea  1.80\n"));
        EXPECT_EQ(3, rawWrite(id, "\x10\x04\x01"));
        unsigned char status = 0;
        EXPECT_EQ(1, simbus_raw_read(id, &status, 1)) << "transport " << transport;
        EXPECT_EQ(0x12, status);
        EXPECT_EQ("Tea  1.80\n", receiptText(id));
        EXPECT_EQ(13, simbus_discard_written(id)) << "the host's bytes stay available to take as well";
        EXPECT_EQ(0, simbus_raw_close(id));
    }
}

TEST_F(ReceiptOnBus, theTextIsCopiedTruncatedAndTerminated) {
    int id = simbus_attach_receipt_printer(1);
    ASSERT_EQ(0, simbus_raw_open(id));
    rawWrite(id, "abcdef\n");
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(7, simbus_receipt_text(id, small, sizeof(small)));
    EXPECT_EQ(std::string("abc"), std::string(small));
    EXPECT_EQ(-1, simbus_receipt_text(id, nullptr, 4));
    EXPECT_EQ(0, simbus_raw_close(id));
}

TEST_F(ReceiptOnBus, onlyReceiptPrintersHaveAText) {
    int plain = simbus_attach_default(1);
    EXPECT_EQ(-1, simbus_receipt_text(plain, nullptr, 0));
    EXPECT_EQ(-1, simbus_receipt_text(12345, nullptr, 0));
    EXPECT_EQ(-1, simbus_attach_receipt_printer(2));

    int receipt = simbus_attach_receipt_printer(1);
    EXPECT_EQ(0, simbus_receipt_text(receipt, nullptr, 0));
    simbus_reset();
    EXPECT_EQ(-1, simbus_receipt_text(receipt, nullptr, 0)) << "a reset forgets the printer and its receipt";
}

TEST_F(ReceiptOnBus, rawPipesRefuseUnknownPrintersAndASecondOpen) {
    EXPECT_EQ(-1, simbus_raw_open(12345));
    EXPECT_EQ(-1, simbus_raw_write(12345, "x", 1));
    EXPECT_EQ(-1, simbus_raw_close(12345));
    EXPECT_EQ(-1, simbus_discard_written(12345));
    int id = simbus_attach_default(0);
    ASSERT_EQ(0, simbus_raw_open(id));
    EXPECT_EQ(-1, simbus_raw_open(id));
    EXPECT_EQ(0, simbus_raw_close(id));
}

}  // namespace

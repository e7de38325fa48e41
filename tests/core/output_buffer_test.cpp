// The session's output buffer: order kept across partial sends, and where the limit lies.
#include <gtest/gtest.h>

#include "telnet/OutputBuffer.h"

namespace orvane {
namespace {

// Takes up to `count` bytes from the front, as a connection that accepts only that much.
QByteArray TakeFront(OutputBuffer& buffer, long count) {
    count = std::min(count, buffer.Pending());
    const QByteArray taken(buffer.Data(), count);
    buffer.Consume(count);
    return taken;
}

TEST(OutputBuffer, BytesLeaveInTheOrderTheyCameWhateverTheConnectionTakesEachTime) {
    OutputBuffer buffer;
    QByteArray sent;
    QByteArray expected;
    // Appends and partial takes interleaved, so that the front is dropped and the storage
    // compacted many times over.
    for (int round = 0; round < 200; ++round) {
        const QByteArray chunk = QByteArray::number(round).repeated(round % 17 + 1) + ';';
        buffer.Append(chunk.constData(), chunk.size());
        expected += chunk;
        sent += TakeFront(buffer, round % 5 == 0 ? 0 : 7 + round % 13);
    }
    while (!buffer.IsEmpty()) sent += TakeFront(buffer, 5);
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(buffer.Pending(), 0);
}

TEST(OutputBuffer, TakesEverythingButReportsWhenItIsAtOrPastItsLimit) {
    OutputBuffer buffer(10);
    buffer.Append("123456789", 9);
    EXPECT_FALSE(buffer.AboveLimit());
    buffer.Append("0", 1);
    EXPECT_TRUE(buffer.AboveLimit());
    // A sender is never refused: one handler's output may pass the limit.
    buffer.Append("abcdefghij", 10);
    EXPECT_EQ(buffer.Pending(), 20);
    EXPECT_EQ(TakeFront(buffer, 11), "1234567890a");
    EXPECT_FALSE(buffer.AboveLimit());
    // Taking more than is held takes what is held.
    buffer.Consume(1000);
    EXPECT_TRUE(buffer.IsEmpty());
    buffer.SetLimit(OutputBuffer::kDefaultLimit);
    const QByteArray big(OutputBuffer::kDefaultLimit - 1, 'x');
    buffer.Append(big.constData(), big.size());
    EXPECT_FALSE(buffer.AboveLimit());
    buffer.Append("y", 1);
    EXPECT_TRUE(buffer.AboveLimit());
}

}  // namespace
}  // namespace orvane

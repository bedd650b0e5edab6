#include <gtest/gtest.h>

#include <string>

#include "link/chunks.h"
#include "link/protocol.h"

using namespace qor::link;

TEST(DataChunks, PackEightBytesLowOrderFirst) {
  auto chunks = split_into_chunks("ABCDEFGH");
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].first, 0x44434241u);
  EXPECT_EQ(chunks[0].second, 0x48474645u);

  chunks = split_into_chunks("ABCDEFGHI");
  ASSERT_EQ(chunks.size(), 2u) << "a ninth byte takes a second chunk";
  EXPECT_EQ(chunks[1].first, 0x49u) << "one byte and seven zeros";
  EXPECT_EQ(chunks[1].second, 0u);

  EXPECT_TRUE(split_into_chunks("").empty());
}

TEST(DataChunks, ReassembleEveryLength) {
  std::string source = "5|ORD|0123456789abcdefghij\x80\xff";
  for (std::size_t n = 0; n <= source.size(); ++n) {
    std::string text = source.substr(0, n), received;
    for (const auto& chunk : split_into_chunks(text)) append_chunk(received, chunk);
    EXPECT_EQ(received, text) << "length " << n;
  }
}

TEST(DataChunks, ReceiverStopsAtTheFirstZeroByte) {
  std::string received = "x";
  append_chunk(received, {0x00004241u, 0x44434241u});
  EXPECT_EQ(received, "xAB") << "bytes after a zero, even in the second value, are not text";
}

TEST(DeliveredMessage, NumberPrefixUnlessZero) {
  EXPECT_EQ(delivered_message(5, "ORD|HELLO"), "5|ORD|HELLO");
  EXPECT_EQ(delivered_message(0, "ORD|HELLO"), "ORD|HELLO");
  EXPECT_EQ(delivered_message(255, ""), "255|");
}

TEST(Verdicts, BytesMessagesAndTexts) {
  struct Case {
    std::uint8_t byte;
    std::uint32_t message;
    const char* text;
  };
  const Case cases[] = {{6, 0x83FD, "ACK"}, {7, 0x8406, "REJECT"}, {8, 0x8405, "BUSY"},
                        {9, 0x8404, "TIMEOUT"}, {21, 0x83FE, "NACK"}};
  for (const auto& c : cases) {
    Verdict from_byte{}, from_message{};
    ASSERT_TRUE(verdict_of_byte(c.byte, from_byte)) << int(c.byte);
    ASSERT_TRUE(verdict_of_message(c.message, from_message)) << c.message;
    EXPECT_EQ(from_byte, from_message);
    EXPECT_EQ(verdict_message(from_byte), c.message);
    EXPECT_STREQ(verdict_text(from_byte), c.text);
  }
  Verdict v{};
  EXPECT_FALSE(verdict_of_byte(0x16, v));
  EXPECT_FALSE(verdict_of_message(MSG_DATA_CHUNK, v));
}

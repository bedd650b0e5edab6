#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/blocks.h"

using namespace qor::link;

TEST(RequestBlock, LaysOutNameAndTextWithZeroFill) {
  RequestBytes bytes;
  bytes.fill(0xAA);
  ASSERT_TRUE(encode_request_block({"QORLNK01_ORDERS", "OpenPipe"}, bytes));
  EXPECT_EQ(bytes.size(), 0x440u);
  EXPECT_EQ(std::memcmp(bytes.data(), "QORLNK01_ORDERS", 15), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + 64, "OpenPipe", 8), 0);
  for (std::size_t i = 15; i < 64; ++i) ASSERT_EQ(bytes[i], 0) << "name byte " << i;
  for (std::size_t i = 64 + 8; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << "text byte " << i;

  RequestBlock back;
  ASSERT_TRUE(decode_request_block(bytes.data(), bytes.size(), back));
  EXPECT_EQ(back.name, "QORLNK01_ORDERS");
  EXPECT_EQ(back.text, "OpenPipe");
}

TEST(RequestBlock, RefusesTextsThatDoNotFitWithTheirNul) {
  RequestBytes bytes{};
  EXPECT_TRUE(encode_request_block({std::string(63, 'n'), std::string(1023, 't')}, bytes));
  EXPECT_FALSE(encode_request_block({std::string(64, 'n'), ""}, bytes));
  EXPECT_FALSE(encode_request_block({"", std::string(1024, 't')}, bytes));
  EXPECT_FALSE(encode_request_block({std::string("a\0b", 3), ""}, bytes));
}

TEST(RequestBlock, DecodingIsBoundedBySizeAndField) {
  RequestBytes bytes;
  bytes.fill('x');  // a malformed block without any NUL
  RequestBlock out;
  ASSERT_TRUE(decode_request_block(bytes.data(), bytes.size(), out));
  EXPECT_EQ(out.name.size(), 64u);
  EXPECT_EQ(out.text.size(), 1024u);
  EXPECT_FALSE(decode_request_block(bytes.data(), bytes.size() - 1, out));
  EXPECT_FALSE(decode_request_block(bytes.data(), 1092, out));
  EXPECT_FALSE(decode_request_block(nullptr, bytes.size(), out));
}

TEST(DataBlock, CarriesTerminalLittleEndianTypeAndData) {
  DataBytes bytes;
  ASSERT_TRUE(encode_data_block({0x01020304, "ORD", "HELLO"}, bytes));
  EXPECT_EQ(bytes.size(), 1092u);
  EXPECT_EQ(bytes[0], 0x04);
  EXPECT_EQ(bytes[3], 0x01);
  EXPECT_EQ(std::memcmp(bytes.data() + 4, "ORD\0", 4), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + 68, "HELLO\0", 6), 0);

  DataBlock back;
  ASSERT_TRUE(decode_data_block(bytes.data(), bytes.size(), back));
  EXPECT_EQ(back.terminal, 0x01020304);
  EXPECT_EQ(back.type, "ORD");
  EXPECT_EQ(back.data, "HELLO");

  ASSERT_TRUE(encode_data_block({-1, "", ""}, bytes));
  ASSERT_TRUE(decode_data_block(bytes.data(), bytes.size(), back));
  EXPECT_EQ(back.terminal, -1);
  EXPECT_FALSE(encode_data_block({5, std::string(64, 't'), ""}, bytes));
  EXPECT_FALSE(decode_data_block(bytes.data(), 1088, back));
}

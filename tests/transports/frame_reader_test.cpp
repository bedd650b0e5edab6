// The stream driver's frame reader on its own: bytes fed in arbitrary pieces
// give the frames a whole-stream reading gives.
#include "transports/tcp/frame_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace qor::transports::tcp;

namespace {

std::string frame(const std::string& payload, std::uint32_t flags = 0) {
  unsigned char word[4];
  put_length_word(static_cast<std::uint32_t>(payload.size()), word);
  word[3] |= static_cast<unsigned char>(flags >> 24);
  return std::string(reinterpret_cast<char*>(word), 4) + payload;
}

// Feeds `stream` in pieces of at most `piece` bytes (the reader may take
// fewer) and collects the kept payload of every completed frame.
std::vector<std::string> read_all(FrameReader& reader, const std::string& stream, std::size_t piece) {
  std::vector<std::string> frames;
  std::size_t at = 0;
  while (at < stream.size()) {
    FrameReader::Space space = reader.space();
    EXPECT_GE(space.size, 1u);
    std::size_t n = std::min({space.size, piece, stream.size() - at});
    std::copy_n(stream.data() + at, n, space.data);
    at += n;
    if (reader.received(n)) frames.emplace_back(reinterpret_cast<const char*>(reader.payload()), reader.kept());
  }
  return frames;
}

TEST(FrameReader, LengthWordIsLittleEndianWithBit31Ignored) {
  unsigned char word[4];
  put_length_word(0x81020304u, word);
  EXPECT_EQ(word[0], 0x04);
  EXPECT_EQ(word[1], 0x03);
  EXPECT_EQ(word[2], 0x02);
  EXPECT_EQ(word[3], 0x01);  // bit 31 always sent as 0
  word[3] = 0x81;
  EXPECT_EQ(length_of_word(word), 0x01020304u);
}

TEST(FrameReader, FramesComeOutWholeWhateverThePieces) {
  std::string long_one(300, '\0');
  for (std::size_t i = 0; i < long_one.size(); ++i) long_one[i] = static_cast<char>(i);
  std::string stream = frame("hello") + frame("") + frame(long_one) + frame("flag", 0x80000000u) + frame("end");
  for (std::size_t piece : {1u, 2u, 3u, 5u, 7u, 128u, 100000u}) {
    SCOPED_TRACE(piece);
    FrameReader reader;
    reader.set_capacity(100);
    std::vector<std::string> frames = read_all(reader, stream, piece);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0], "hello");
    EXPECT_EQ(frames[1], "");
    EXPECT_EQ(frames[2], long_one.substr(0, 100));  // cut to the capacity
    EXPECT_EQ(frames[3], "flag");
    EXPECT_EQ(frames[4], "end");
    EXPECT_FALSE(reader.in_frame());
  }
}

TEST(FrameReader, DropsTheRestOfALongFrameIn128BytePieces) {
  FrameReader reader;
  reader.set_capacity(100);
  std::string stream = frame(std::string(300, 'x'));
  std::vector<std::size_t> drops;
  std::size_t at = 0;
  bool done = false;
  while (!done) {
    FrameReader::Space space = reader.space();
    std::size_t n = std::min(space.size, stream.size() - at);
    if (at >= 104) drops.push_back(n);
    std::copy_n(stream.data() + at, n, space.data);
    at += n;
    done = reader.received(n);
  }
  EXPECT_EQ(drops, (std::vector<std::size_t>{128, 72}));
  EXPECT_EQ(reader.kept(), 100u);
  EXPECT_EQ(reader.length(), 300u);
}

TEST(FrameReader, ACapacityChangeMidFrameKeepsAPrefix) {
  struct Case {
    std::int32_t first, second;  // capacity before and after the first 10 bytes
    std::size_t kept;
  } cases[] = {{100, 100, 50}, {5, 100, 5}, {100, 20, 20}, {100, 5, 5}, {0, 100, 0}, {100, -1, 0}, {30, 40, 40}};
  std::string payload(50, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 26);
  std::string stream = frame(payload);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + " then " + std::to_string(c.second));
    FrameReader reader;
    reader.set_capacity(c.first);
    EXPECT_TRUE(read_all(reader, stream.substr(0, 14), 3).empty());
    EXPECT_TRUE(reader.in_payload());
    reader.set_capacity(c.second);
    std::vector<std::string> frames = read_all(reader, stream.substr(14), 1000);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], payload.substr(0, c.kept));
  }
}

TEST(FrameReader, AHugeLengthWordCostsOnlyTheBytesThatArrive) {
  FrameReader reader;
  reader.set_capacity(0x7FFFFFFF);
  std::string stream = frame("");
  stream[0] = stream[1] = stream[2] = '\xFF';
  stream[3] = '\x7F';
  read_all(reader, stream + "abc", 100);
  EXPECT_TRUE(reader.in_payload());
  EXPECT_LE(reader.space().size, 64u * 1024);
}

TEST(FrameReader, RandomStreamsMatchAWholeStreamReading) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::string stream;
    std::vector<std::string> expected;
    std::int32_t capacity = static_cast<std::int32_t>(random() % 40);
    for (int i = 0; i < 20; ++i) {
      std::string payload(random() % 60, '\0');
      for (char& c : payload) c = static_cast<char>(random());
      stream += frame(payload, random() % 2 ? 0x80000000u : 0);
      expected.push_back(payload.substr(0, static_cast<std::size_t>(capacity)));
    }
    FrameReader reader;
    reader.set_capacity(capacity);
    EXPECT_EQ(read_all(reader, stream, 1 + random() % 50), expected);
  }
}

}  // namespace

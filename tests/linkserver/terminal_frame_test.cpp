// The terminal protocol's frames: the layout, what encoding refuses, what
// decoding refuses, and finding frames in a stream with noise around them.
#include "linkserver/terminal_frame.h"

#include <gtest/gtest.h>

#include <string>

using namespace qor::linkserver;

namespace {

std::string encoded(const TerminalFrame& frame) {
  std::optional<std::string> bytes = encode_frame(frame);
  EXPECT_TRUE(bytes.has_value());
  return bytes.value_or("");
}

TEST(TerminalFrame, LayoutOfAFrame) {
  std::string bytes = encoded({5, 42, "DA", "ORD", "12|x"});
  // STX, "005", "00042", "DA" at offsets 9 and 10, "ORD|12|x", ETX, checksum.
  std::string body = "00500042DAORD|12|x";
  unsigned sum = 0;
  for (char c : body) sum += static_cast<unsigned char>(c);
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "%04X", sum);
  EXPECT_EQ(bytes, "\x02" + body + "\x03" + checksum);
  EXPECT_EQ(bytes.substr(9, 2), "DA");
  EXPECT_EQ(bytes[bytes.size() - 5], frame_etx);

  EXPECT_EQ(encoded({999, 99999, "KA", "", ""}), "\x02" "99999999KA|\x03" + [] {
    unsigned s = 0;
    for (char c : std::string("99999999KA|")) s += static_cast<unsigned char>(c);
    char text[8];
    std::snprintf(text, sizeof text, "%04X", s);
    return std::string(text);
  }());
}

TEST(TerminalFrame, RoundTripsEveryByteThatMayAppear) {
  std::string data;
  for (int b = 0; b < 256; ++b)
    if (b != frame_stx && b != frame_etx) data += static_cast<char>(b);
  for (const TerminalFrame& frame : {TerminalFrame{0, 0, "AN", "T", data}, TerminalFrame{255, 7, "AK", "", ""},
                                     TerminalFrame{1, 1, "DA", std::string(16, 't'), std::string(max_data_size, 'd')}}) {
    std::optional<TerminalFrame> back = decode_frame(encoded(frame));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, frame);
  }
}

TEST(TerminalFrame, EncodeRefusesFieldsOutOfRange) {
  const TerminalFrame bad[] = {
      {-1, 0, "DA", "", ""},         {1000, 0, "DA", "", ""},
      {0, -1, "DA", "", ""},         {0, 100000, "DA", "", ""},
      {0, 0, "D", "", ""},           {0, 0, "Da", "", ""},
      {0, 0, "DA1", "", ""},         {0, 0, "DA", "A|B", ""},
      {0, 0, "DA", "\x02", ""},      {0, 0, "DA", "", "x\x03y"},
      {0, 0, "DA", std::string(17, 't'), ""}, {0, 0, "DA", "", std::string(max_data_size + 1, 'd')},
  };
  for (const TerminalFrame& frame : bad)
    EXPECT_FALSE(encode_frame(frame).has_value()) << frame.terminal << " " << frame.sequence << " " << frame.code;
}

TEST(TerminalFrame, DecodeRefusesWhatIsNotOneFrame) {
  std::string good = encoded({12, 345, "DA", "ORD", "data"});
  ASSERT_TRUE(decode_frame(good).has_value());
  auto changed = [&](std::size_t at, char c) {
    std::string b = good;
    b[at] = c;
    return b;
  };
  std::string lower = good;
  for (std::size_t i = lower.size() - 4; i < lower.size(); ++i) lower[i] = static_cast<char>(std::tolower(lower[i]));
  EXPECT_TRUE(decode_frame(lower).has_value());  // either case of hex digits

  struct Case {
    const char* why;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"no STX", good.substr(1)},
      {"bytes after it", good + "x"},
      {"bytes before it", "x" + good},
      {"a letter in the terminal", changed(2, 'A')},
      {"a letter in the sequence", changed(6, 'x')},
      {"a small letter in the code", changed(10, 'a')},
      {"a wrong checksum", changed(good.size() - 1, good.back() == '0' ? '1' : '0')},
      {"a changed data byte", changed(16, 'X')},
      {"not hex", changed(good.size() - 2, 'G')},
      {"no bar", encoded({1, 1, "DA", "", "x"}).erase(11, 1)},
      {"STX inside", changed(15, frame_stx)},
  };
  for (const Case& c : cases) EXPECT_FALSE(decode_frame(c.bytes).has_value()) << c.why;
}

TEST(TerminalFrame, FindFrameInAStream) {
  std::string a = encoded({1, 1, "DA", "T", "one"}), b = encoded({2, 2, "AK", "", ""});
  std::string broken = a;
  broken[12] = 'Z';  // the checksum no longer fits
  struct Case {
    const char* what;
    std::string stream;
    FrameSpan expected;
  } cases[] = {
      {"nothing", "", {0, 0}},
      {"noise only", "abc", {3, 0}},
      {"a frame", a, {0, a.size()}},
      {"noise first", "xy" + a + b, {2, a.size()}},
      {"a stray STX first", "\x02zz" + a, {3, a.size()}},
      {"a stray ETX first", "\x03" + a, {1, a.size()}},
      {"a broken frame first", broken + b, {broken.size(), b.size()}},
      {"half a frame", "n" + a.substr(0, 7), {1, 0}},
      {"all but the checksum", a.substr(0, a.size() - 2), {0, 0}},
  };
  for (const Case& c : cases) {
    FrameSpan span = find_frame(c.stream);
    EXPECT_EQ(span.discard, c.expected.discard) << c.what;
    EXPECT_EQ(span.size, c.expected.size) << c.what;
  }
  // A start that never ends within the longest frame is noise.
  std::string endless = "\x02" + std::string(max_frame_size, 'x');
  EXPECT_EQ(find_frame(endless).discard, endless.size());
  EXPECT_EQ(find_frame(endless + a).size, a.size());
}

}  // namespace

// ANSI text and wide text. The native code page is 1252; the win32 build uses
// the system's, which is 1252 under Wine's default locale and on a Western
// Windows. Elsewhere the checks of non-ASCII text are skipped.
#include <gtest/gtest.h>

#include "platform/text.h"

using namespace qor::platform;

TEST(Text, EveryAnsiByteConvertsToWideAndBack) {
  if (ansi_code_page() != 1252) GTEST_SKIP() << "ANSI code page " << ansi_code_page();
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::u16string wide = to_wide(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(to_ansi(wide), all);

  struct Pair {
    unsigned char byte;
    char16_t wide;
  };
  const Pair pairs[] = {{'A', u'A'}, {0x00, 0x0000}, {0x80, 0x20AC}, {0x81, 0x0081}, {0x8A, 0x0160},
                        {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF}};
  for (const auto& p : pairs) {
    SCOPED_TRACE(static_cast<int>(p.byte));
    EXPECT_EQ(wide[p.byte], p.wide);
  }
}

TEST(Text, WideTextOutsideTheCodePageConvertsAsWindowsDoes) {
  if (ansi_code_page() != 1252) GTEST_SKIP() << "ANSI code page " << ansi_code_page();
  struct Case {
    const char* what;
    std::u16string wide;
    std::string ansi;
  };
  const Case cases[] = {
      {"plain text", u"Host 12", "Host 12"},
      {"embedded NUL kept", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
      {"best fit: A with macron", u"\u0100", "A"},
      {"best fit: infinity", u"\u221e", "8"},
      {"best fit: fullwidth A", u"\uff21", "A"},
      {"best fit: ideographic space", u"\u3000", " "},
      {"no look-alike", u"x\u4e2dy", "x?y"},
      {"C1 control without a byte", u"\u0080", "?"},
      {"a character outside the BMP", u"\U0001F600", "??"},
      {"a lone surrogate", std::u16string(1, static_cast<char16_t>(0xD800)), "?"},
      {"empty", u"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(to_ansi(c.wide), c.ansi);
  }
}

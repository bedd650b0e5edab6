#include <gtest/gtest.h>

#include <climits>

#include "pipehost/text_number.h"

using namespace qor::pipehost;

TEST(TextNumber, LeadingInt) {
  struct Case {
    const char* text;
    int value;
  };
  const Case cases[] = {{"99", 99},        {"abc", 0},       {"", 0},
                        {"12ab", 12},      {" 7", 7},        {"-3", -3},
                        {"+4", 4},         {"007", 7},       {"99999999999", INT_MAX},
                        {"-99999999999", INT_MIN}, {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}};
  for (const auto& c : cases) EXPECT_EQ(leading_int(c.text), c.value) << '"' << c.text << '"';
}

TEST(TextNumber, GlobalParameterFlags) {
  for (const char* on : {"Yes", "TRUE", "on", "ON", "y", "t", "yikes"}) EXPECT_TRUE(parse_flag(on)) << on;
  for (const char* off : {"", "1", "off", "no", "On1", "false"}) EXPECT_FALSE(parse_flag(off)) << off;
}

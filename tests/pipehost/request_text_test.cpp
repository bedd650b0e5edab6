#include <gtest/gtest.h>

#include "pipehost/request_text.h"

using namespace qor::pipehost;

TEST(RequestText, SplitsNumberCommandAndText) {
  struct Case {
    const char* text;
    const char* instance;
    int number;
    const char* command;
    const char* rest;
  };
  const Case cases[] = {
      {"5|QORLNK01_ORDERS|HELLO", "QORLNK01", 5, "5", "ORDERS|HELLO"},
      {"5|ORD|abc", "QORLNK01", 5, "5", "ORD|abc"},
      {"5|Rivo63_ORD|abc", "Rivo63", 5, "5", "ORD|abc"},
      {"99|QORLNK01_CT|5", "QORLNK01", 99, "QORLNK01_CT", "CT|5"},
      {"99|CheckTerminal|12", "QORLNK01", 99, "CheckTerminal", "CheckTerminal|12"},
      {"CheckTerminal|12", "QORLNK01", 0, "CheckTerminal", "12"},
      {"OpenPipe|QORLNK01_ORDERS", "QORLNK01", 0, "OpenPipe", "QORLNK01_ORDERS"},
      {"99|OpenPipe|X", "QORLNK01", 99, "OpenPipe", "OpenPipe|X"},
      {"CreatePipe|QORLNK01_NEW", "QORLNK01", 0, "CreatePipe", "QORLNK01_NEW"},
      {"7|QORLNK01_", "QORLNK01", 7, "7", ""},
      {"7|qorlnk01_X", "QORLNK01", 7, "7", "qorlnk01_X"},  // the prefix compares exactly
      {"255|A|B|C", "Q", 255, "255", "A|B|C"},
  };
  for (const auto& c : cases) {
    ParsedRequest r = parse_request_text(c.text, 99, c.instance);
    EXPECT_FALSE(r.dropped) << c.text;
    EXPECT_EQ(r.number, c.number) << c.text;
    EXPECT_EQ(r.command, c.command) << c.text;
    EXPECT_EQ(r.text, c.rest) << c.text;
  }
}

TEST(RequestText, WithoutAUsableSeparatorIsDropped) {
  for (const char* text : {"", "NOSEPARATOR", "|5|x", "99|x", "99||x", "99|"})
    EXPECT_TRUE(parse_request_text(text, 99, "QORLNK01").dropped) << '"' << text << '"';
}

TEST(RequestText, HostIdDecidesWhatIsHostLevel) {
  ParsedRequest r = parse_request_text("42|CT|5", 42, "Q");
  EXPECT_EQ(r.number, 42);
  EXPECT_EQ(r.command, "CT");
  r = parse_request_text("99|CT|5", 42, "Q");
  EXPECT_EQ(r.number, 99) << "99 is a terminal number when the host id is 42";
  EXPECT_EQ(r.command, "99");
}

TEST(RequestText, CommandArguments) {
  EXPECT_EQ(check_terminal_text("12"), "CT|12");
  EXPECT_EQ(check_terminal_text("CheckTerminal|12"), "CT|12");
  EXPECT_EQ(check_terminal_text(""), "CT|");

  struct Case {
    const char* text;
    const char* argument;
  };
  const Case cases[] = {{"QORLNK01_ORDERS", "QORLNK01_ORDERS"}, {"5", "005"},   {"7", "007"},
                        {"1234", "1234"},                       {"0", "0"},     {"OpenPipe|X", "OpenPipe"},
                        {"|X", "|X"},                           {"12ab", "012"}};
  for (const auto& c : cases) EXPECT_EQ(pipe_argument(c.text), c.argument) << c.text;
}

// QorLink's own rules that need no server: how delivered messages are taken
// apart, which windows belong to an instance, how a link server is started.
#include <gtest/gtest.h>

#include "client/host_api.h"
#include "client/server_window.h"

using namespace qor::client;

namespace {

TEST(SplitMessage, TerminalTypeAndData) {
  struct Case {
    const char* text;
    bool has_terminal;
    int terminal;
    bool has_type;
    const char* type;
    const char* data;
  } cases[] = {
      {"5|ORDERS|HELLO", true, 5, true, "ORDERS", "HELLO"},
      {"HELLO", false, 0, false, "", "HELLO"},
      {"|HELLO", false, 0, false, "", "|HELLO"},           // a separator first splits nothing
      {"5|HELLO", true, 5, false, "", "HELLO"},
      {"5||HELLO", true, 5, false, "", "|HELLO"},          // the type field may not be empty either
      {"5|ORD|a|b", true, 5, true, "ORD", "a|b"},          // the data keeps its own separators
      {"12x|ORD|z", true, 12, true, "ORD", "z"},           // leading digits make the number
      {"abc|ORD|z", true, 0, true, "ORD", "z"},            // none: 0
      {"5|ORD|", true, 5, true, "ORD", ""},
      {"99999999999|T|d", true, 2147483647, true, "T", "d"},  // kept in range
  };
  for (const Case& c : cases) {
    SplitMessage m = split_message(c.text);
    EXPECT_EQ(m.has_terminal, c.has_terminal) << c.text;
    if (c.has_terminal) {
      EXPECT_EQ(m.terminal, c.terminal) << c.text;
    }
    EXPECT_EQ(m.has_type, c.has_type) << c.text;
    EXPECT_EQ(m.type, c.type) << c.text;
    EXPECT_EQ(m.data, c.data) << c.text;
  }
}

TEST(ServerWindow, TitlesOfAnInstance) {
  struct Case {
    const char* instance;
    std::vector<std::string> titles;
  } cases[] = {
      {"QORLNK3", {"QOR-Link (03)", "QOR-Link for IT (03)"}},
      {"QORLNK07", {"QOR-Link (07)", "QOR-Link for IT (07)"}},
      {"QORLNK123", {"QOR-Link (123)", "QOR-Link for IT (123)"}},
      {"QORLNK", {"QOR-Link (00)", "QOR-Link for IT (00)"}},        // no digits: 0
      {"QORLNK5X", {"QOR-Link (05)", "QOR-Link for IT (05)"}},      // leading digits only
      {"qorlnk07", {"QOR-Link", "QOR-Link for IT"}},                // the prefix is case-sensitive
      {"QORLINK", {"QOR-Link", "QOR-Link for IT"}},
      {"SHOP", {"QOR-Link", "QOR-Link for IT"}},
      {"Rivo63", {}},                                               // legacy: the selected title
      {"qornet", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(main_window_titles(c.instance), c.titles) << c.instance;
}

TEST(ServerWindow, ProgramAndSwitchesByInstanceAndMode) {
  struct Case {
    const char* instance;
    int mode;
    const char* program;
    const char* switches;
  } cases[] = {
      {"QORLNK07", 2, "qorlink.exe", " mini -7"},
      {"QORLNK07", 1, "qorlink.exe", " -7"},
      {"QORLNK07", 0, "qorlink.exe", " -7"},
      {"QORLNK07", 9, "qorlink.exe", " -7"},  // other modes count as normal
      {"QORLINK", 2, "qorlink.exe", " mini"},
      {"QORLINK", 1, "qorlink.exe", ""},
      {"SHOP", 0, "qorlink.exe", ""},
      {"RIVO63", 1, "Rivo63.exe", " -splash -max"},
      {"Rivo63", 2, "Rivo63.exe", " -splash -min"},
      {"QORNet", 0, "Rivo63.exe", " -splash"},
      {"qornet", 7, "Rivo63.exe", " -splash"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(server_program(c.instance), c.program) << c.instance;
    EXPECT_EQ(server_switches(c.instance, c.mode), c.switches) << c.instance << " mode " << c.mode;
  }
}

}  // namespace

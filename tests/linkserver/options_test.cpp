#include <gtest/gtest.h>

#include "linkserver/options.h"

using namespace qor::linkserver;

TEST(LinkServerOptions, InstanceAndTitleFollowTheStartSwitches) {
  struct Case {
    const char* program;
    std::vector<std::string> args;
    const char* instance;
    const char* title;
  };
  const Case cases[] = {
      {"C:\\QOR\\qorlink.exe", {}, "qorlink", "QOR-Link"},
      {"qorlink", {"-7"}, "QORLNK07", "QOR-Link (07)"},
      {"qorlink", {"mini", "-7"}, "QORLNK07", "QOR-Link (07)"},
      {"qorlink", {"-123"}, "QORLNK123", "QOR-Link (123)"},
      {"qorlink", {"-3", "--for-it"}, "QORLNK03", "QOR-Link for IT (03)"},
      {"/opt/qor/Rivo63", {"-splash", "-max"}, "Rivo63", "Rivo63"},
      {"RIVO63.EXE", {"-splash"}, "Rivo63", "Rivo63"},
      {"qorlink", {"--instance", "SHOP", "-2"}, "SHOP", "QOR-Link (02)"},
  };
  for (const auto& c : cases) {
    Options options = parse_options(c.program, c.args);
    EXPECT_TRUE(options.error.empty()) << c.program << ": " << options.error;
    EXPECT_EQ(options.instance, c.instance) << c.program;
    EXPECT_EQ(main_window_title(options), c.title) << c.program;
  }
}

TEST(LinkServerOptions, PolicyTerminalsAndErrors) {
  Options options = parse_options("qorlink", {"--policy", "busy", "--terminals", "1,5,255", "--trace"});
  EXPECT_EQ(options.policy, Policy::busy);
  EXPECT_EQ(options.terminals, (std::set<int>{1, 5, 255}));
  EXPECT_TRUE(options.trace);
  EXPECT_EQ(options.udp_port, 0) << "no driver unless asked";
  options = parse_options("qorlink", {"--udp", "20001", "--tcp", "20002"});
  EXPECT_EQ(options.udp_port, 20001);
  EXPECT_EQ(options.tcp_port, 20002);

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--policy", "maybe"}, {"--policy"}, {"--terminals", "1,,2"}, {"--terminals", "256"}, {"-x"}, {"extra"},
           {"--udp", "0"}, {"--udp", "65536"}, {"--tcp", "x"}, {"--tcp"}})
    EXPECT_FALSE(parse_options("qorlink", bad).error.empty()) << bad[0];
  EXPECT_TRUE(parse_options("qorlink", {"--help"}).help);
}

// QorLink loaded by name, as a host loads it, against the stand-in link
// server with PipeHost: every export over both transports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/names.h"
#include "platform/clock.h"
#include "platform/profile.h"
#include "platform/window.h"
#include "tests/support/qorlink_module.h"
#include "tests/support/stand_in.h"
#include "tests/support/test_support.h"

using namespace qor;

namespace {

std::uint32_t elapsed_since(std::uint32_t start) { return platform::tick_ms() - start; }

class QorLinkLoaded : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(q.load()); }
  test::QorLinkModule q;
};

TEST_F(QorLinkLoaded, BadArgumentsAreRefusedBeforeAnythingHappens) {
  std::int32_t terminal = 0;
  char type[64] = "ORDERS";
  char buffer[16] = {};
  struct Case {
    const char* what;
    std::int32_t result;
  } cases[] = {
      {"Check null machine", q.check(nullptr, "I")},
      {"Check null instance", q.check(".", nullptr)},
      {"Start null", q.start(".", nullptr, 0)},
      {"Start remote", q.start("server1", "QORLNK01", 0)},
      {"Start machine not exactly .", q.start("./", "QORLNK01", 0)},
      {"Stop null", q.stop(nullptr, "I")},
      {"Stop remote", q.stop("server1", "QORLNK01")},
      {"OpenPipe null pipe", q.open_pipe(".", "I", nullptr)},
      {"ClosePipe null instance", q.close_pipe(".", nullptr, "P")},
      {"WaitData negative wait", q.wait_data(".", "I", &terminal, -1, type, buffer, 15)},
      {"WaitData negative size", q.wait_data(".", "I", &terminal, 0, type, buffer, -1)},
      {"WaitData null terminal", q.wait_data(".", "I", nullptr, 0, type, buffer, 15)},
      {"WaitData null type", q.wait_data(".", "I", &terminal, 0, nullptr, buffer, 15)},
      {"WaitData null buffer", q.wait_data(".", "I", &terminal, 0, type, nullptr, 15)},
      {"SendData terminal 256", q.send_data(".", "I", 256, 0, "P", "x", 1)},
      {"SendData terminal -1", q.send_data(".", "I", -1, 0, "P", "x", 1)},
      {"SendData length 0", q.send_data(".", "I", 5, 0, "P", "x", 0)},
      {"SendData negative wait", q.send_data(".", "I", 5, -1, "P", "x", 1)},
      {"SendData null data", q.send_data(".", "I", 5, 0, "P", nullptr, 1)},
      {"SendData null type", q.send_data(".", "I", 5, 0, nullptr, "x", 1)},
      {"CheckTerminal2 terminal 256", q.check_terminal2(".", "I", 256, 100)},
      {"CheckTerminal2 terminal -1", q.check_terminal2(".", "I", -1, 100)},
      {"CheckTerminal null", q.check_terminal(".", nullptr, 5, 0)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, QorLink_BAD_PARAMETER) << c.what;
}

TEST_F(QorLinkLoaded, AnInstanceThatDoesNotRunIsNotReachable) {
  std::string instance = test::unique_name("QN");
  std::int32_t terminal = -1;
  char type[64] = "ORDERS";
  char buffer[16] = {};
  EXPECT_EQ(q.check(".", instance.c_str()), QorLink_NOT_STARTED);
  EXPECT_EQ(q.stop(".", "QORLNK99999"), QorLink_NOT_STARTED) << "no window to close";
  EXPECT_EQ(q.wait_data(".", instance.c_str(), &terminal, 100, type, buffer, 15), QorLink_NOT_STARTED);
  EXPECT_EQ(q.send_data(".", instance.c_str(), 5, 100, "ORDERS", "x", 1), QorLink_NOT_STARTED);
  EXPECT_EQ(q.check_terminal2(".", instance.c_str(), 5, 100), QorLink_NOT_STARTED) << "the check fails first";
  EXPECT_EQ(q.open_pipe(".", instance.c_str(), "ORDERS"), QorLink_NOT_STARTED);
  EXPECT_EQ(q.close_pipe(".", instance.c_str(), "ORDERS"), QorLink_NOT_STARTED) << "always 0";
  EXPECT_EQ(terminal, -1);
}

enum class Transport { pipe, window };

class QorLinkWithServer : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override {
    test::choose_transport(GetParam() == Transport::pipe ? "pipe" : "window");
    ASSERT_TRUE(q.load());
  }
  void TearDown() override { test::choose_transport(""); }

  // The stand-in for a fresh instance, with the data pipe ORDERS (ORD packets
  // of every terminal) and terminals 5 and 12 known.
  void serve(const std::string& arguments = "--policy ack") {
    instance_ = test::unique_name("QL");
    server_ = std::make_unique<test::StandIn>(instance_, "--terminals 5,12 " + arguments,
                                              std::vector<std::string>{"pipe|ORDERS|ORD|000"});
    ASSERT_TRUE(server_->up());
    // The answer pipe listens a moment after the window shows.
    for (int i = 0; i < 100 && q.check(".", i_()) != 1; ++i) platform::sleep_ms(20);
  }
  const char* i_() const { return instance_.c_str(); }

  // One QORLink_WaitData; the message fields as "terminal|type|data|result".
  std::string wait(std::int32_t wait_ms, std::int32_t size = 100, const char* pipe = "ORDERS") {
    std::int32_t terminal = -1;
    char type[64];
    std::snprintf(type, sizeof type, "%s", pipe);
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '#');
    std::int32_t r = q.wait_data(".", i_(), &terminal, wait_ms, type, buffer.data(), size);
    if (r < 0 || (r == 0 && buffer[0] == '#')) return std::to_string(r);
    return std::to_string(terminal) + "|" + type + "|" + buffer.data() + "|" + std::to_string(r);
  }

  test::QorLinkModule q;
  std::string instance_;
  std::unique_ptr<test::StandIn> server_;
};

TEST_P(QorLinkWithServer, OpensWaitsAndSplitsMessages) {
  serve();
  ASSERT_EQ(q.open_pipe(".", i_(), "ORDERS"), QorLink_OK);
  // Nothing yet; this also clears the reopened flag, which would otherwise
  // make a result below 1 read a second time.
  EXPECT_EQ(wait(200), "-1");
  ASSERT_TRUE(server_->terminal_data(5, "ORD", "HELLO"));
  EXPECT_EQ(wait(5000), "5|ORD|HELLO|5");
  ASSERT_TRUE(server_->terminal_data(12, "ORD", "HELLO"));
  EXPECT_EQ(wait(5000, 3), "12|ORD|HEL|3") << "cut to the buffer size";
  ASSERT_TRUE(server_->terminal_data(7, "ORD", "a|b"));
  EXPECT_EQ(wait(5000), "7|ORD|a|b|3") << "the data keeps its separators";
  ASSERT_TRUE(server_->terminal_data(8, "ORD", "HELLO"));
  EXPECT_EQ(wait(5000, 0), "8|ORD||0") << "a buffer of size 0 gets an empty text";
  EXPECT_EQ(q.close_pipe(".", i_(), "ORDERS"), QorLink_NOT_STARTED) << "always 0";
  EXPECT_FALSE(server_->terminal_data(5, "ORD", "HELLO")) << "no open pipe takes it any more";
}

TEST_P(QorLinkWithServer, ARefusedOpenClosesThePipesOpenedBefore) {
  serve();
  ASSERT_EQ(q.open_pipe(".", i_(), "ORDERS"), QorLink_OK);
  ASSERT_TRUE(server_->terminal_data(5, "ORD", "kept"));
  EXPECT_EQ(q.open_pipe(".", i_(), "NOSUCH"), QorLink_NOT_STARTED);
  EXPECT_FALSE(server_->terminal_data(5, "ORD", "dropped")) << "ORDERS was closed with it";
}

TEST_P(QorLinkWithServer, RightAfterOpeningAnEmptyWaitTriesOnceMore) {
  serve();
  ASSERT_EQ(q.open_pipe(".", i_(), "ORDERS"), QorLink_OK);
  std::uint32_t start = platform::tick_ms();
  EXPECT_EQ(wait(400), "-1");
  EXPECT_GE(elapsed_since(start), 790u) << "two reads";
  start = platform::tick_ms();
  EXPECT_EQ(wait(400), "-1");
  EXPECT_LT(elapsed_since(start), 790u) << "one read once the flag is cleared";
}

TEST_P(QorLinkWithServer, SendDataGivesTheLengthOnlyForAnAcknowledgement) {
  serve("--policy reject");
  EXPECT_EQ(q.send_data(".", i_(), 5, 5000, "ORDERS", "HELLO", 99), -11) << "reached, but rejected";
  // A terminal it knows is still a known terminal: the table is not the policy.
  EXPECT_EQ(q.check_terminal2(".", i_(), 5, 5000), QorLink_OK);
  EXPECT_EQ(q.check_terminal2(".", i_(), 6, 5000), QorLink_NOT_FOUND);
  EXPECT_EQ(q.check_terminal2(".", i_(), 5, -1), QorLink_NOT_FOUND) << "a negative wait fails";
}

TEST_P(QorLinkWithServer, SendDataAcknowledged) {
  serve();
  EXPECT_EQ(q.send_data(".", i_(), 5, 5000, "ORDERS", "HELLO", 1), 5) << "the data's own length";
  EXPECT_EQ(q.check_terminal(".", i_(), 12, 0), QorLink_OK);
}

TEST_P(QorLinkWithServer, TheHostIdOfTheTerminalQueryComesFromTheHostsIni) {
  // The link server runs with host id 12 (its .\<instance>.ini); the host's
  // own .\<instance>.ini says which host id the query addresses (99 without
  // a value). Only a match reaches the terminal table; any other id makes the
  // query data for a terminal, which the policy refuses.
  struct Case {
    const char* host;  // [QORLINK] Host of the host's file
    std::int32_t result;
  } cases[] = {{"", QorLink_NOT_FOUND}, {"12", QorLink_OK}, {"99", QorLink_NOT_FOUND}, {"300", QorLink_NOT_FOUND}};
  instance_ = test::unique_name("QH");
  test::TempFolder folder;  // the current folder of both: they read the same file name
  std::string ini = ".\\" + instance_ + ".ini";
  ASSERT_TRUE(platform::write_profile_string(ini, "Global Parameters", "Host ID", "12"));
  std::string program = test::bin_dir() + (test::on_win32 ? "\\qorlink.exe" : "/qorlink");
  platform::Process server = platform::start_process(
      platform::quote_argument(program) + " --instance " + instance_ + " --terminals 5 --policy nak",
      folder.path().string());
  ASSERT_TRUE(server.started());
  for (int i = 0; i < 500 && q.check(".", i_()) != 1; ++i) platform::sleep_ms(20);
  for (const Case& c : cases) {
    ASSERT_TRUE(platform::write_profile_string(ini, "QORLINK", "Host", c.host));
    EXPECT_EQ(q.check_terminal2(".", i_(), 5, 5000), c.result) << "Host=" << c.host;
  }
  platform::ask_to_quit(server.main_thread());
  if (!server.wait(5000)) server.kill();
}

TEST_P(QorLinkWithServer, ALinkServerThatGoesAwayAndComesBack) {
  serve();
  ASSERT_EQ(q.open_pipe(".", i_(), "ORDERS"), QorLink_OK);
  EXPECT_EQ(wait(100), "-1");
  std::string instance = instance_;
  server_.reset();
  EXPECT_EQ(wait(100), "0") << "not reachable";
  EXPECT_EQ(q.send_data(".", i_(), 5, 1000, "ORDERS", "x", 1), 0);
  EXPECT_EQ(q.check(".", i_()), QorLink_NOT_STARTED);

  server_ = std::make_unique<test::StandIn>(instance, "--terminals 5", std::vector<std::string>{"pipe|ORDERS|ORD|000"});
  ASSERT_TRUE(server_->up());
  bool back = false;
  for (int i = 0; i < 100 && !back; ++i) back = q.check(".", i_()) == 1 || (platform::sleep_ms(20), false);
  ASSERT_TRUE(back);
  ASSERT_EQ(q.open_pipe(".", i_(), "ORDERS"), QorLink_OK);
  ASSERT_TRUE(server_->terminal_data(5, "ORD", "again"));
  EXPECT_EQ(wait(5000), "5|ORD|again|5");
}

TEST_P(QorLinkWithServer, ReplacingTheConnectionCostsASecond) {
  serve();
  std::uint32_t start = platform::tick_ms();
  EXPECT_EQ(q.check(".", i_()), QorLink_OK);
  EXPECT_LT(elapsed_since(start), 900u) << "same machine and instance: the same object";
  std::string other = test::unique_name("QO");
  start = platform::tick_ms();
  EXPECT_EQ(q.check(".", other.c_str()), QorLink_NOT_STARTED);
  EXPECT_GE(elapsed_since(start), 1000u) << "another instance replaces the object";
}

std::string transport_name(const ::testing::TestParamInfo<Transport>& param) {
  return param.param == Transport::pipe ? "Pipe" : "Window";
}

INSTANTIATE_TEST_SUITE_P(BothTransports, QorLinkWithServer, ::testing::Values(Transport::pipe, Transport::window),
                         transport_name);

// Starting and stopping with the stand-in found beside QorLink.
TEST_F(QorLinkLoaded, StartsANumberedInstanceAndStopsIt) {
  int number = 100 + static_cast<int>(platform::current_process_id() % 800);
  std::string instance = "QORLNK" + std::to_string(number);
  std::string title = "QOR-Link (" + std::to_string(number) + ")";
  test::TempFolder folder;  // the stand-in runs in QorLink's folder; this keeps the test's own files apart
  ASSERT_EQ(q.start(".", instance.c_str(), QorLink_Minimized), QorLink_OK);
  EXPECT_NE(platform::find_window(instance), platform::no_window) << "PipeHost's window";
  // The link server shows its main window just after PipeHost's.
  bool main_window = false;
  for (int i = 0; i < 500 && !main_window; ++i)
    main_window = platform::find_window(title) != platform::no_window || (platform::sleep_ms(10), false);
  EXPECT_TRUE(main_window) << "main window of the numbered instance";
  std::uint32_t start = platform::tick_ms();
  EXPECT_EQ(q.start(".", instance.c_str(), QorLink_Normal), QorLink_OK);
  // Starting sleeps 750 ms at the least before its first look.
  EXPECT_LT(elapsed_since(start), 750u) << "already running: nothing started";
  bool answers = false;
  for (int i = 0; i < 100 && !answers; ++i) answers = q.check(".", instance.c_str()) == 1 || (platform::sleep_ms(20), false);
  EXPECT_TRUE(answers);

  EXPECT_EQ(q.stop(".", instance.c_str()), QorLink_OK);
  bool gone = false;
  for (int i = 0; i < 500 && !gone; ++i) gone = platform::find_window(instance) == platform::no_window || (platform::sleep_ms(20), false);
  EXPECT_TRUE(gone) << "the link server ended";
  EXPECT_EQ(q.stop(".", instance.c_str()), QorLink_NOT_STARTED);
}

}  // namespace

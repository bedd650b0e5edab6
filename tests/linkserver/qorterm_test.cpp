// qorterm's command line, and its simulated terminals against the real
// transport drivers, with the test playing the link server: it answers every
// data frame with AK and an AN, and every keep-alive with a keep-alive.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "linkserver/term_options.h"
#include "linkserver/terminal_frame.h"
#include "qor/qortcp.h"
#include "qor/qorudp.h"
#include "tests/transports/transport_test_support.h"

using namespace qor;
using namespace qor::linkserver;

namespace {

TEST(QortermOptions, CommandLines) {
  TermOptions o = parse_term_options({"--tcp", "--host", "10.1.2.3", "--port", "900", "--terminal", "7", "--terminals",
                                      "3", "--repeat", "2", "--keepalive", "250", "--wait", "50", "--linger", "10",
                                      "ORD|1;2", "plain", "--type", "INV", "-q"});
  ASSERT_EQ(o.error, "");
  EXPECT_EQ(o.config.transport, Transport::tcp);
  EXPECT_EQ(o.config.server.address, 0x0A010203u);
  EXPECT_EQ(o.config.server.port, 900);
  EXPECT_EQ(o.config.first_terminal, 7);
  EXPECT_EQ(o.config.terminals, 3);
  EXPECT_EQ(o.config.repeat, 2);
  EXPECT_EQ(o.config.keepalive_ms, 250u);
  EXPECT_EQ(o.config.wait_ms, 50u);
  EXPECT_EQ(o.config.linger_ms, 10u);
  EXPECT_TRUE(o.quiet);
  ASSERT_EQ(o.config.packets.size(), 2u);
  EXPECT_EQ(o.config.packets[0].type, "ORD");
  EXPECT_EQ(o.config.packets[0].data, "1;2");
  EXPECT_EQ(o.config.packets[1].type, "INV");  // the type given on the line wins wherever it stands
  EXPECT_EQ(o.config.packets[1].data, "plain");

  EXPECT_TRUE(parse_term_options({"--help"}).help);
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {},                                         // no port
           {"--port"},                                 // no value
           {"--port", "0"},                            // out of range
           {"--port", "9", "--terminal", "1000"},      // out of range
           {"--port", "9", "--host", "name.example"},  // no host names
           {"--port", "9", "--bogus"},                 // unknown
           {"--port", "9", std::string(17, 'T') + "|x"},  // type too long for a frame
       })
    EXPECT_NE(parse_term_options(bad).error, "") << (bad.empty() ? "(empty)" : bad.back());
}

// The test as link server: polls the driver and answers.
template <typename DriverT>
class FakeLinkServer {
 public:
  explicit FakeLinkServer(DriverT& driver, bool udp) : driver_(driver), udp_(udp) {}
  void serve(const std::atomic<bool>& done) {
    char address[32], buffer[20000];
    while (!done) {
      int n = driver_.wait_packet(10, 0, address, sizeof buffer, buffer);
      if (n <= 0) {
        if (udp_) platform::sleep_ms(1);
        continue;
      }
      std::optional<TerminalFrame> frame = decode_frame(std::string(buffer, static_cast<std::size_t>(n)));
      if (!frame) continue;
      terminals.insert(frame->terminal);
      if (frame->code == code_keep_alive) {
        ++keepalives;
        answer({frame->terminal, frame->sequence, code_keep_alive, "", ""});
      } else if (frame->code == code_data) {
        ++data_frames;
        answer({frame->terminal, frame->sequence, code_ack, "", ""});
        answer({frame->terminal, frame->sequence, code_answer, "RE", frame->type + ":" + frame->data});
      }
    }
  }
  std::set<int> terminals;
  int data_frames = 0, keepalives = 0;

 private:
  void answer(const TerminalFrame& frame) {
    std::string bytes = encode_frame(frame).value();
    driver_.reply(0, 0, nullptr, static_cast<int>(bytes.size()), bytes.data());
  }
  DriverT& driver_;
  bool udp_;
};

template <typename DriverT>
void run_against(DriverT& driver, Transport transport, const std::string& dll, const std::string& prefix,
                 platform::SocketKind kind) {
  ASSERT_EQ(platform::start_sockets(), 0);
  ASSERT_TRUE(driver.load(dll, prefix));
  std::uint16_t port = 0;
  for (int attempt = 0; attempt < 20 && port == 0; ++attempt) {
    std::uint16_t candidate = test::free_port(kind);
    if (driver.init(candidate) == 1) port = candidate;
  }
  ASSERT_NE(port, 0);

  FakeLinkServer<DriverT> server(driver, transport == Transport::udp);
  std::atomic<bool> done{false};
  std::thread serving([&] { server.serve(done); });

  TermConfig config;
  config.transport = transport;
  config.server = {platform::loopback_address, port};
  config.first_terminal = 41;
  config.packets = {{"ORD", "1;2;3"}, {"INV", "x|y"}};
  config.repeat = 3;
  config.wait_ms = test::generous_ms;
  std::vector<std::string> lines;
  TermReport one = run_terminals(config, [&](const std::string& line) { lines.push_back(line); });
  EXPECT_EQ(one.sent, 6);
  EXPECT_EQ(one.acknowledged, 6);
  EXPECT_EQ(one.round_trip_us.size(), 6u);
  ASSERT_GE(lines.size(), 2u);
  // Over UDP the terminal first tells its port in a keep-alive; the data
  // frames' sequence numbers follow it.
  bool udp = transport == Transport::udp;
  if (udp) {
    EXPECT_EQ(lines[0].rfind("-> 041 00001 KA |", 0), 0u) << lines[0];
    EXPECT_NE(lines[0], "-> 041 00001 KA |") << "the keep-alive carries the port";
  }
  EXPECT_EQ(lines[udp ? 1 : 0], udp ? "-> 041 00002 DA ORD|1;2;3" : "-> 041 00001 DA ORD|1;2;3");
  bool answered = false;
  for (const std::string& line : lines) answered |= line == (udp ? "<- 041 00003 AN RE|INV:x|y" : "<- 041 00002 AN RE|INV:x|y");
  EXPECT_TRUE(answered);

  // UDP: many terminals at once, each its own socket. (TCP keeps one
  // terminal connection at a time, so there a newer terminal replaces the
  // older one: one terminal with keep-alives instead.)
  if (transport == Transport::udp) {
    config.terminals = 8;
    config.first_terminal = 100;
    TermReport many = run_terminals(config, nullptr);
    EXPECT_EQ(many.terminals, 8);
    EXPECT_EQ(many.sent, 48);
    EXPECT_EQ(many.acknowledged, 48);
  } else {
    config.packets.clear();
    config.keepalive_ms = 20;
    config.linger_ms = 300;
    TermReport kept = run_terminals(config, nullptr);
    EXPECT_GE(kept.keepalives, 2);
    EXPECT_GE(kept.received, 2);
  }
  done = true;
  serving.join();
  if (transport == Transport::udp) {
    for (int t = 100; t < 108; ++t) EXPECT_EQ(server.terminals.count(t), 1u) << t;
  }
  driver.tini();
  driver.unload();
  platform::stop_sockets();
}

TEST(QortermTerminals, OverUdp) {
  test::Driver<QorUdpVersionFn, QorUdpInitFn, QorUdpTiniFn, QorUdpPacketFn> driver;
  run_against(driver, Transport::udp, "QorUdp.dll", "QorUdp", platform::SocketKind::datagram);
}

TEST(QortermTerminals, OverTcp) {
  test::Driver<QorTcpVersionFn, QorTcpInitFn, QorTcpTiniFn, QorTcpPacketFn> driver;
  run_against(driver, Transport::tcp, "QorTcp.dll", "QorTcp", platform::SocketKind::stream);
}

TEST(QortermTerminals, UnansweredPacketsAreCountedNotAcknowledged) {
  ASSERT_EQ(platform::start_sockets(), 0);
  test::Socket silent(platform::SocketKind::datagram);
  ASSERT_TRUE(silent.bind_loopback());
  TermConfig config;
  config.server = {platform::loopback_address, silent.port()};
  config.packets = {{"T", "a"}, {"T", "b"}};
  config.wait_ms = 30;
  TermReport report = run_terminals(config, nullptr);
  EXPECT_EQ(report.sent, 2);
  EXPECT_EQ(report.acknowledged, 0);
  EXPECT_TRUE(report.round_trip_us.empty());
  platform::stop_sockets();
}

}  // namespace

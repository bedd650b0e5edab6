// qorterm's command line, and its simulated terminals against the real
// transport drivers, with the test playing the link server: it answers every
// data frame with AK and an AN, and every keep-alive with a keep-alive.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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

// A link server over a plain UDP socket that acknowledges every data frame
// and answers it later with its own sequence numbers, as the real one does.
// `hold_answers`: no answer until `frames` data frames are in, then one more
// answer than frames; otherwise each is answered `answer_delay_ms` after it
// came.
struct SlowAnswerer {
  int frames = 3;
  bool hold_answers = false;
  int answer_delay_ms = 0;
  int ack_delay_ms = 0;
  bool drop_first_copies = false;      // every frame is ignored the first time its sequence number comes
  bool data_while_answer_due = false;  // a data frame came before the previous one's answer
  int copies = 0;                      // frames of any code that came

  void serve(const std::atomic<bool>& done) {
    using Clock = std::chrono::steady_clock;
    int port = 0, seen = 0, answer_sequence = 900;
    std::vector<std::pair<int, Clock::time_point>> due;  // terminal, when to answer
    char buffer[2048];
    while (!done) {
      auto now = Clock::now();
      while (!due.empty() && due.front().second <= now) {
        send({due.front().first, ++answer_sequence, code_answer, "RE", "ok"}, port);
        due.erase(due.begin());
      }
      if (platform::wait_readable(socket.get(), 2) != 1) continue;
      int n = platform::receive_from(socket.get(), buffer, sizeof buffer);
      if (n <= 0) continue;
      std::optional<TerminalFrame> frame = decode_frame(std::string(buffer, static_cast<std::size_t>(n)));
      if (!frame) continue;
      ++copies;
      if (drop_first_copies && heard.insert(frame->sequence).second) continue;
      if (frame->code == code_keep_alive) {
        port = std::atoi(frame->data.c_str());
        send({frame->terminal, frame->sequence, code_ack, "", "1"}, port);
        continue;
      }
      if (frame->code != code_data) continue;
      if (!due.empty()) data_while_answer_due = true;
      if (ack_delay_ms) platform::sleep_ms(static_cast<std::uint32_t>(ack_delay_ms));
      send({frame->terminal, frame->sequence, code_ack, "", "2"}, port);
      if (!hold_answers) {
        due.push_back({frame->terminal, Clock::now() + std::chrono::milliseconds(answer_delay_ms)});
      } else if (++seen == frames) {
        for (int i = 0; i <= frames; ++i) send({frame->terminal, ++answer_sequence, code_answer, "RE", "ok"}, port);
      }
    }
  }
  void send(const TerminalFrame& frame, int port) {
    std::string bytes = encode_frame(frame).value();
    platform::send_to(socket.get(), bytes.data(), static_cast<int>(bytes.size()),
                      {platform::loopback_address, static_cast<std::uint16_t>(port)});
  }
  test::Socket socket{platform::SocketKind::datagram};
  std::set<int> heard;
};

TermReport run_against(SlowAnswerer& server, TermConfig config) {
  EXPECT_TRUE(server.socket.bind_loopback());
  std::atomic<bool> done{false};
  std::thread serving([&] { server.serve(done); });
  config.server = {platform::loopback_address, server.socket.port()};
  config.packets = {{"ORD", "a"}};
  config.repeat = server.frames;
  if (config.wait_ms == TermConfig().wait_ms) config.wait_ms = test::generous_ms;
  TermReport report = run_terminals(config, nullptr);
  done = true;
  serving.join();
  return report;
}

// Answers carry the link server's sequence numbers, so each belongs to the
// oldest data frame not answered yet: held answers that come together are
// timed against frames sent further and further back.
TEST(QortermTerminals, HostAnswersAreTimedAgainstTheirDataFramesInOrder) {
  ASSERT_EQ(platform::start_sockets(), 0);
  SlowAnswerer server;
  server.hold_answers = true;
  server.ack_delay_ms = 20;  // the frames go out at least this far apart
  TermConfig config;
  config.answers = server.frames + 1;
  config.linger_ms = test::generous_ms;
  TermReport report = run_against(server, config);
  EXPECT_EQ(report.acknowledged, 3);
  EXPECT_EQ(report.answers, 4);
  ASSERT_EQ(report.answer_us.size(), 3u) << "the answer beyond the frames sent is not timed";
  EXPECT_GT(report.answer_us[0], report.answer_us[1]);
  EXPECT_GT(report.answer_us[1], report.answer_us[2]);
  EXPECT_EQ(report.short_of_answers, 0);
  platform::stop_sockets();
}

// With answer_each a terminal keeps one order outstanding: its next data
// frame waits for the answer to the last, not only for its acknowledgement.
TEST(QortermTerminals, AnswerEachWaitsForTheAnswerBeforeTheNextFrame) {
  ASSERT_EQ(platform::start_sockets(), 0);
  for (bool answer_each : {false, true}) {
    SlowAnswerer server;
    server.answer_delay_ms = 100;
    TermConfig config;
    config.answer_each = answer_each;
    config.answers = server.frames;
    config.linger_ms = test::generous_ms;
    TermReport report = run_against(server, config);
    EXPECT_EQ(report.acknowledged, 3) << answer_each;
    ASSERT_EQ(report.answer_us.size(), 3u) << answer_each;
    EXPECT_EQ(server.data_while_answer_due, !answer_each);
    if (answer_each) {
      for (double us : report.answer_us) EXPECT_GE(us, 95000.0) << "the answer came after its delay";
    }
  }
  platform::stop_sockets();
}

// With resends a frame that is not acknowledged goes again under its own
// sequence number: the opening keep-alive (the link server has to know the
// port before it can answer) and every data frame.
TEST(QortermTerminals, UnacknowledgedFramesAreSentAgain) {
  ASSERT_EQ(platform::start_sockets(), 0);
  SlowAnswerer server;
  server.drop_first_copies = true;
  TermConfig config;
  config.resends = 1;
  config.wait_ms = 200;  // each lost first copy costs one wait
  config.answers = server.frames;
  config.linger_ms = test::generous_ms;
  TermReport report = run_against(server, config);
  EXPECT_EQ(report.keepalives, 1);
  EXPECT_EQ(report.sent, 3) << "a frame sent again is still one order";
  EXPECT_EQ(report.resent, 4);
  EXPECT_EQ(server.copies, 8);
  EXPECT_EQ(report.acknowledged, 3);
  EXPECT_EQ(report.answer_us.size(), 3u) << "the keep-alive was taken: the answers found the terminal";
  platform::stop_sockets();
}

}  // namespace

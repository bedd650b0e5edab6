// QorUdp as the link server uses it: loaded by name, its exports bound by
// name, real datagrams on 127.0.0.1 from sockets that play the terminals.
//
// Datagrams sent on the loopback interface are queued at the receiver when
// the send returns, so a test that has sent two of them may count on both
// waiting for the driver.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "qor/qorudp.h"
#include "tests/support/test_support.h"
#include "tests/transports/transport_test_support.h"
#include "transports/udp/udp_driver.h"

using namespace qor;
using platform::Endpoint;
using platform::SocketKind;
using test::Socket;

namespace {

class UdpDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform::start_sockets(), 0);
    ASSERT_TRUE(driver_.load("QorUdp.dll", "QorUdp"));
    // Another run may take the free port first: try a few.
    for (int attempt = 0; attempt < 20 && port_ == 0; ++attempt) {
      std::uint16_t candidate = test::free_port(SocketKind::datagram);
      if (driver_.init(candidate) == 1) port_ = candidate;
    }
    ASSERT_NE(port_, 0);
  }
  void TearDown() override {
    if (driver_.tini) {
      EXPECT_EQ(driver_.tini(), 1);
    }
    driver_.unload();
    platform::stop_sockets();
  }

  // A terminal: a datagram socket on a port of its own.
  std::unique_ptr<Socket> terminal() {
    auto s = std::make_unique<Socket>(SocketKind::datagram);
    EXPECT_TRUE(s->bind_loopback());
    return s;
  }
  void send_to_driver(const Socket& from, const std::string& data) {
    ASSERT_EQ(platform::send_to(from.get(), data.data(), static_cast<int>(data.size()), {platform::loopback_address, port_}),
              static_cast<int>(data.size()));
  }

  // Polls QorUdp_WaitPacket (which never blocks) until it gives something
  // other than -1; the result, the packet in `data`.
  int wait(std::string* data, int capacity = 2048, char* address = nullptr) {
    std::vector<char> buffer(static_cast<std::size_t>(capacity > 0 ? capacity : 1));
    char local_address[32] = "";
    std::uint32_t start = platform::tick_ms();
    int n;
    do {
      n = driver_.wait_packet(0, 0, address ? address : local_address, capacity, buffer.data());
      if (n != -1) break;
      platform::sleep_ms(1);
    } while (platform::tick_ms() - start < test::generous_ms);
    if (data) data->assign(buffer.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    return n;
  }
  int wait_once(std::string* data, int capacity = 2048, char* address = nullptr) {
    std::vector<char> buffer(static_cast<std::size_t>(capacity > 0 ? capacity : 1));
    char local_address[32] = "";
    int n = driver_.wait_packet(0, 0, address ? address : local_address, capacity, buffer.data());
    if (data) data->assign(buffer.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    return n;
  }
  int send(const std::string& destination, int port, const std::string& data, std::string* left = nullptr) {
    std::vector<char> text(destination.begin(), destination.end());
    text.push_back('\0');
    std::string copy = data;
    int result = driver_.send_packet(0, port, text.data(), static_cast<int>(copy.size()), copy.data());
    if (left) *left = text.data();
    return result;
  }
  int reply(const std::string& data) {
    std::string copy = data;
    return driver_.reply(0, 0, nullptr, static_cast<int>(copy.size()), copy.data());
  }

  // The next datagram that reaches `at`, or "(nothing)" within the generous
  // bound; its sender in `from`.
  static std::string received(const Socket& at, Endpoint* from = nullptr) {
    if (platform::wait_readable(at.get(), test::generous_ms) != 1) return "(nothing)";
    char buffer[70000];
    int n = platform::receive_from(at.get(), buffer, sizeof buffer, from);
    return n < 0 ? "(failed)" : std::string(buffer, static_cast<std::size_t>(n));
  }
  static bool nothing_waits(const Socket& at) { return platform::wait_readable(at.get(), 0) == 0; }

  test::Driver<QorUdpVersionFn, QorUdpInitFn, QorUdpTiniFn, QorUdpPacketFn> driver_;
  std::uint16_t port_ = 0;
};

TEST_F(UdpDriverTest, VersionWritesExactlyItsTextAndNul) {
  char buffer[32];
  std::memset(buffer, 0x7F, sizeof buffer);
  EXPECT_EQ(driver_.version(buffer), 0);
  EXPECT_EQ(std::memcmp(buffer, "2.00.00-002", 12), 0);
  EXPECT_EQ(buffer[12], 0x7F);
}

TEST_F(UdpDriverTest, InitFailsWithTheBindErrorOnAPortInUseAndStartsAgainAfterwards) {
  Socket holder(SocketKind::datagram);
  ASSERT_TRUE(platform::bind_socket(holder.get(), {platform::any_address, 0}));
  EXPECT_EQ(driver_.init(holder.port()), static_cast<int>(platform::SocketError::address_in_use));
  EXPECT_EQ(driver_.tini(), 1);
  // A start that follows a start (without a stop) starts afresh on the port.
  EXPECT_EQ(driver_.init(port_), 1);
  EXPECT_EQ(driver_.init(port_), 1);
  auto t = terminal();
  send_to_driver(*t, "after restart");
  std::string data;
  EXPECT_EQ(wait(&data), 13);
  EXPECT_EQ(data, "after restart");
}

TEST_F(UdpDriverTest, NothingWorksBeforeInitOrAfterTini) {
  EXPECT_EQ(driver_.tini(), 1);
  EXPECT_EQ(driver_.tini(), 1);
  auto t = terminal();
  EXPECT_EQ(wait_once(nullptr), -1);
  EXPECT_EQ(send("127.0.0.1", t->port(), "x"), -1);
  EXPECT_NE(reply("x"), 0);
  EXPECT_TRUE(nothing_waits(*t));
}

TEST_F(UdpDriverTest, ReplyAnswersTheLatestSenderOnTheBoundPortIncludingItsPort) {
  auto first = terminal(), second = terminal();
  char address[32];
  std::memset(address, 'x', sizeof address);
  send_to_driver(*first, "from first");
  std::string data;
  ASSERT_EQ(wait(&data, 2048, address), 10);
  EXPECT_EQ(data, "from first");
  EXPECT_STREQ(address, "127.0.0.1");
  EXPECT_EQ(reply("to first"), 0);
  Endpoint from;
  EXPECT_EQ(received(*first, &from), "to first");
  EXPECT_EQ(from.port, port_);  // replies leave from the bound socket

  send_to_driver(*second, "from second");
  ASSERT_EQ(wait(&data), 11);
  EXPECT_EQ(reply("to second"), 0);
  EXPECT_EQ(received(*second), "to second");
  EXPECT_TRUE(nothing_waits(*first));
}

TEST_F(UdpDriverTest, AnswersToTheOutboundPortComeFirstAndLeaveTheReplyAddressAlone) {
  auto terminal_a = terminal(), peer_b = terminal();
  send_to_driver(*terminal_a, "a1");
  std::string data;
  ASSERT_EQ(wait(&data), 2);

  ASSERT_EQ(send("127.0.0.1:" + std::to_string(peer_b->port()), 0, "to b"), 0);
  Endpoint outbound;
  ASSERT_EQ(received(*peer_b, &outbound), "to b");
  EXPECT_NE(outbound.port, port_);  // sent packets leave from the other socket

  // One datagram waits on each socket: the outbound one's answer comes first.
  send_to_driver(*terminal_a, "a2");
  ASSERT_EQ(platform::send_to(peer_b->get(), "b1", 2, {platform::loopback_address, outbound.port}), 2);
  ASSERT_EQ(wait(&data), 2);
  EXPECT_EQ(data, "b1");
  ASSERT_EQ(wait(&data), 2);
  EXPECT_EQ(data, "a2");

  // Answers to the outbound port in between do not move the reply address.
  ASSERT_EQ(platform::send_to(peer_b->get(), "b2", 2, {platform::loopback_address, outbound.port}), 2);
  ASSERT_EQ(wait(&data), 2);
  EXPECT_EQ(data, "b2");
  EXPECT_EQ(reply("to a"), 0);
  EXPECT_EQ(received(*terminal_a), "to a");
  EXPECT_TRUE(nothing_waits(*peer_b));
}

TEST_F(UdpDriverTest, EmptyDatagrams) {
  auto t = terminal(), peer = terminal();
  char address[32];

  // On the bound socket: a packet of 0 bytes, whose sender becomes the reply address.
  std::strcpy(address, "untouched");
  send_to_driver(*t, "");
  EXPECT_EQ(wait(nullptr, 2048, address), 0);
  EXPECT_STREQ(address, "127.0.0.1");
  EXPECT_EQ(reply("answer"), 0);
  EXPECT_EQ(received(*t), "answer");

  // On the outbound socket: its sender is written, then the bound socket
  // (empty) gives -1.
  ASSERT_EQ(send("127.0.0.1:" + std::to_string(peer->port()), 0, "hello"), 0);
  Endpoint outbound;
  ASSERT_EQ(received(*peer, &outbound), "hello");
  ASSERT_EQ(platform::send_to(peer->get(), "", 0, {platform::loopback_address, outbound.port}), 0);
  std::strcpy(address, "untouched");
  EXPECT_EQ(wait_once(nullptr, 2048, address), -1);
  EXPECT_STREQ(address, "127.0.0.1");
}

TEST_F(UdpDriverTest, DatagramsLongerThanTheBufferAreDropped) {
  auto t = terminal(), peer = terminal();
  std::string data;
  send_to_driver(*t, std::string(100, 'L'));
  send_to_driver(*t, "fits");
  EXPECT_EQ(wait_once(&data, 10), -1);
  EXPECT_EQ(wait(&data, 10), 4);
  EXPECT_EQ(data, "fits");

  // One too long for the outbound socket: the bound socket's packet follows
  // in the same call.
  ASSERT_EQ(send("127.0.0.1:" + std::to_string(peer->port()), 0, "x"), 0);
  Endpoint outbound;
  ASSERT_EQ(received(*peer, &outbound), "x");
  std::string big(50, 'B');
  ASSERT_EQ(platform::send_to(peer->get(), big.data(), 50, {platform::loopback_address, outbound.port}), 50);
  send_to_driver(*t, "bound");
  EXPECT_EQ(wait(&data, 10), 5);
  EXPECT_EQ(data, "bound");
}

TEST_F(UdpDriverTest, SendPacketDestinations) {
  auto t = terminal();
  std::string p = std::to_string(t->port());
  struct Case {
    std::string destination;
    int port;
    const char* left;  // the caller's text afterwards
  } cases[] = {
      {"127.0.0.1:" + p, 1, "127.0.0.1"},                              // the text's port wins
      {"127.0.0.1", t->port(), "127.0.0.1"},                           // no colon: the argument
      {"127.0.0.1:" + p + "x", 1, "127.0.0.1"},                        // digits up to a letter
      {"127.0.0.1:" + std::to_string(t->port() + 65536), 1, "127.0.0.1"},  // low 16 bits
      {"127.0.0.1", t->port() + 3 * 65536, "127.0.0.1"},               // the argument's low 16 bits too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.destination);
    std::string left;
    EXPECT_EQ(send(c.destination, c.port, "via " + c.destination, &left), 0);
    EXPECT_EQ(left, c.left);
    EXPECT_EQ(received(*t), "via " + c.destination);
  }
  for (const char* bad : {"", "localhost", "127.0.0.256", "127.0.0", "127.0.0.1.5", " 127.0.0.1", "x:5"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(send(bad, t->port(), "never"), -1);
  }
  EXPECT_TRUE(nothing_waits(*t));
}

TEST_F(UdpDriverTest, ReplyBeforeAnyDatagramFailsWithAnErrorNumber) {
  int result = reply("to nobody");
  EXPECT_NE(result, 0);
  EXPECT_NE(result, -1);
}

TEST(UdpDestinationPort, ReadsLikeAtoiModulo65536) {
  struct Case {
    const char* text;
    std::uint16_t port;
  } cases[] = {{"900", 900},     {"900a", 900},    {"", 0},         {"x9", 0},         {" 12", 12},
               {"+7", 7},        {"65536", 0},     {"65537", 1},    {"-1", 65535},     {"00080", 80},
               // 10^20 is a multiple of 2^16, so 10^20 - 1 leaves 65535.
               {"4294967297", 1}, {"99999999999999999999", 65535}};
  for (const Case& c : cases) EXPECT_EQ(transports::udp::port_of(c.text), c.port) << '"' << c.text << '"';
}

// Random datagrams of every size, to both sockets, leave the driver running.
TEST_F(UdpDriverTest, TenThousandRandomDatagramsLeaveItWorking) {
  auto peer = terminal();
  ASSERT_EQ(send("127.0.0.1:" + std::to_string(peer->port()), 0, "open"), 0);
  Endpoint outbound;
  ASSERT_EQ(received(*peer, &outbound), "open");
  std::vector<std::unique_ptr<Socket>> senders;
  for (int i = 0; i < 4; ++i) senders.push_back(terminal());

  std::mt19937 random(12345);
  std::vector<char> bytes(4000);
  std::vector<char> buffer(1024);
  char address[32];
  int delivered = 0;
  for (int i = 0; i < 10000; ++i) {
    std::size_t size = random() % 8 == 0 ? random() % bytes.size() : random() % 64;
    for (std::size_t j = 0; j < size; ++j) bytes[j] = static_cast<char>(random());
    Endpoint to{platform::loopback_address, random() % 3 == 0 ? outbound.port : port_};
    platform::send_to(senders[random() % senders.size()]->get(), bytes.data(), static_cast<int>(size), to);
    // Read as the link server would, now and then.
    if (i % 16 == 15)
      while (driver_.wait_packet(0, 0, address, static_cast<int>(buffer.size()), buffer.data()) != -1) ++delivered;
  }
  // What is left, with room for every size sent: -1 now means none waits.
  buffer.resize(bytes.size());
  while (driver_.wait_packet(0, 0, address, static_cast<int>(buffer.size()), buffer.data()) != -1) ++delivered;
  EXPECT_GT(delivered, 0);

  auto good = terminal();
  send_to_driver(*good, "still here");
  std::string data;
  EXPECT_EQ(wait(&data), 10);
  EXPECT_EQ(data, "still here");
  EXPECT_EQ(reply("and answering"), 0);
  EXPECT_EQ(received(*good), "and answering");
}

}  // namespace

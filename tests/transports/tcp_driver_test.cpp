// QorTcp as the link server uses it: loaded by name, its exports bound by
// name, real connections on 127.0.0.1 from sockets that play the terminals.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "qor/qortcp.h"
#include "tests/support/test_support.h"
#include "tests/transports/transport_test_support.h"
#include "transports/tcp/frame_reader.h"

using namespace qor;
using platform::SocketKind;
using test::Socket;
using transports::tcp::put_length_word;

namespace {

std::string frame(const std::string& payload, std::uint32_t flags = 0) {
  unsigned char word[4];
  put_length_word(static_cast<std::uint32_t>(payload.size()), word);
  word[3] |= static_cast<unsigned char>(flags >> 24);
  return std::string(reinterpret_cast<char*>(word), 4) + payload;
}

class TcpDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform::start_sockets(), 0);
    ASSERT_TRUE(driver_.load("QorTcp.dll", "QorTcp"));
    start();
  }
  void TearDown() override {
    if (driver_.tini) {
      EXPECT_EQ(driver_.tini(), 0);
    }
    driver_.unload();
    platform::stop_sockets();
  }
  // Another run may take the free port first: try a few.
  void start() {
    port_ = 0;
    for (int attempt = 0; attempt < 20 && port_ == 0; ++attempt) {
      std::uint16_t candidate = test::free_port(SocketKind::stream);
      if (driver_.init(candidate) == 1) port_ = candidate;
    }
    ASSERT_NE(port_, 0);
  }

  // A terminal connected to the driver (not yet taken by its accept thread).
  std::unique_ptr<Socket> connect() {
    auto s = std::make_unique<Socket>(SocketKind::stream);
    EXPECT_TRUE(platform::connect_socket(s->get(), {platform::loopback_address, port_}));
    return s;
  }
  static void send_raw(const Socket& s, const std::string& bytes) {
    ASSERT_EQ(platform::send_bytes(s.get(), bytes.data(), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
  }
  // A terminal that the driver has taken as its connection: it sends a
  // frame, and the driver is polled until that frame comes out.
  std::unique_ptr<Socket> connected(const std::string& hello = "hello") {
    auto s = connect();
    send_raw(*s, frame(hello));
    std::string data;
    std::uint32_t start = platform::tick_ms();
    while (platform::tick_ms() - start < test::generous_ms) {
      if (wait(&data, 100, 1024) > 0 && data == hello) return s;
    }
    ADD_FAILURE() << "the driver never delivered " << hello;
    return s;
  }

  int wait(std::string* data, int timeout_ms, int capacity, char* address = nullptr) {
    std::vector<char> buffer(static_cast<std::size_t>(capacity > 0 ? capacity : 1));
    int n = driver_.wait_packet(timeout_ms, 12345, address, capacity, buffer.data());
    if (data) data->assign(buffer.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    return n;
  }
  int send(const std::string& data, bool as_reply = false) {
    std::string copy = data;
    char address[] = "10.9.9.9:1";  // ignored
    auto fn = as_reply ? driver_.reply : driver_.send_packet;
    return fn(0, 1, address, static_cast<int>(copy.size()), copy.data());
  }
  // Reads `count` bytes from a terminal; fewer when the connection ends.
  static std::string read_bytes(const Socket& s, std::size_t count) {
    std::string out;
    char buffer[4096];
    while (out.size() < count && platform::wait_readable(s.get(), test::generous_ms) == 1) {
      int n = platform::receive_bytes(s.get(), buffer, static_cast<int>(std::min(sizeof buffer, count - out.size())));
      if (n <= 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
  }
  // True when the terminal's connection has been shut down by the driver.
  static bool ended(const Socket& s) {
    char byte;
    return platform::wait_readable(s.get(), test::generous_ms) == 1 && platform::receive_bytes(s.get(), &byte, 1) <= 0;
  }

  test::Driver<QorTcpVersionFn, QorTcpInitFn, QorTcpTiniFn, QorTcpPacketFn> driver_;
  std::uint16_t port_ = 0;
};

TEST_F(TcpDriverTest, VersionLeavesTheBufferAlone) {
  char buffer[16];
  std::memset(buffer, 0x5A, sizeof buffer);
  EXPECT_EQ(driver_.version(buffer), 0);
  for (char c : buffer) EXPECT_EQ(c, 0x5A);
}

TEST_F(TcpDriverTest, InitFailsOnAPortSomeoneListensOn) {
  Socket holder(SocketKind::stream);
  ASSERT_TRUE(platform::bind_socket(holder.get(), {platform::any_address, 0}));
  ASSERT_TRUE(platform::listen_socket(holder.get()));
  EXPECT_EQ(driver_.init(holder.port()), 0);
  // The failed start stopped the earlier one; a new start works.
  start();
  auto t = connected();
}

TEST_F(TcpDriverTest, WithoutAConnectionNothingWaitsAndNothingIsSent) {
  std::uint32_t start = platform::tick_ms();
  EXPECT_EQ(wait(nullptr, 60000, 100), 0);
  EXPECT_LT(platform::tick_ms() - start, test::generous_ms);  // returned at once, not after a minute
  EXPECT_EQ(send("x"), -1);
  EXPECT_EQ(send("x", true), -1);
}

TEST_F(TcpDriverTest, IncomingFrames) {
  std::string long_one(300, '\0');
  for (std::size_t i = 0; i < long_one.size(); ++i) long_one[i] = static_cast<char>(i);
  struct Expect {
    int result;
    std::string data;
  };
  struct Case {
    const char* name;
    std::string bytes;
    int capacity;
    std::vector<Expect> results;
  } cases[] = {
      {"whole frame", frame("abc"), 100, {{3, "abc"}}},
      {"longer than the buffer: cut, the rest dropped", frame(long_one) + frame("next"), 100,
       {{100, long_one.substr(0, 100)}, {4, "next"}}},
      {"bit 31 ignored", frame("flagged", 0x80000000u), 100, {{7, "flagged"}}},
      {"empty frame", frame("") + frame("after"), 100, {{0, ""}, {5, "after"}}},
      {"no room at all: the frame is dropped", frame("gone") + frame("kept"), 0, {{0, ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto t = connected();
    send_raw(*t, c.bytes);
    for (const Expect& e : c.results) {
      std::string data;
      EXPECT_EQ(wait(&data, test::generous_ms, c.capacity), e.result);
      EXPECT_EQ(data, e.data);
    }
  }
}

TEST_F(TcpDriverTest, PeerAddressIsWrittenForAPacketAndMayBeLeftOut) {
  auto t = connected();
  char address[32];
  std::strcpy(address, "untouched");
  send_raw(*t, frame(""));
  EXPECT_EQ(wait(nullptr, test::generous_ms, 100, address), 0);
  EXPECT_STREQ(address, "untouched");  // an empty frame is no packet
  send_raw(*t, frame("p1") + frame("p2"));
  EXPECT_EQ(wait(nullptr, test::generous_ms, 100, address), 2);
  EXPECT_STREQ(address, "127.0.0.1");
  std::string data;
  EXPECT_EQ(wait(&data, test::generous_ms, 100, nullptr), 2);
  EXPECT_EQ(data, "p2");
}

// A frame that arrives in parts comes out whole, once, after its last part.
TEST_F(TcpDriverTest, AFrameInPartsIsDeliveredWhole) {
  auto t = connected();
  std::string bytes = frame("in two parts");
  send_raw(*t, bytes.substr(0, 2));
  EXPECT_EQ(wait(nullptr, 100, 100), 0);
  send_raw(*t, bytes.substr(2, 6));
  EXPECT_EQ(wait(nullptr, 100, 100), 0);
  send_raw(*t, bytes.substr(8) + frame("then this"));
  std::string data;
  EXPECT_EQ(wait(&data, test::generous_ms, 100), 12);
  EXPECT_EQ(data, "in two parts");
  EXPECT_EQ(wait(&data, test::generous_ms, 100), 9);
  EXPECT_EQ(data, "then this");
}

TEST_F(TcpDriverTest, SentPacketsAreFramedOnTheConnection) {
  auto t = connected();
  std::string big(10000, 'B');
  EXPECT_EQ(send("to terminal"), 0);
  EXPECT_EQ(send("", true), 0);
  EXPECT_EQ(send(big, true), 0);
  EXPECT_EQ(read_bytes(*t, 15), frame("to terminal"));
  EXPECT_EQ(read_bytes(*t, 4), std::string("\0\0\0\0", 4));
  EXPECT_EQ(read_bytes(*t, 10004), frame(big));

  // A negative length is refused before anything is sent.
  char payload[] = "abc";
  EXPECT_EQ(driver_.send_packet(0, 0, nullptr, -1, payload), -1);
  EXPECT_EQ(send("last"), 0);
  EXPECT_EQ(read_bytes(*t, 8), frame("last"));
}

TEST_F(TcpDriverTest, ASecondTerminalReplacesTheFirst) {
  auto first = connected("one");
  auto second = connected("two");
  EXPECT_TRUE(ended(*first));
  EXPECT_EQ(send("for two"), 0);
  EXPECT_EQ(read_bytes(*second, 11), frame("for two"));
  platform::send_bytes(first->get(), "xxxx", 4);  // fails or goes nowhere
  send_raw(*second, frame("from two"));
  std::string data;
  char address[32] = "";
  EXPECT_EQ(wait(&data, test::generous_ms, 100, address), 8);
  EXPECT_EQ(data, "from two");
  EXPECT_STREQ(address, "127.0.0.1");
}

// A packet operation in progress on a connection that is being replaced
// fails as on a closed connection, at once, and the next call serves the
// newer terminal. (When the call begins only after the replacement, it
// serves the newer terminal itself.)
TEST_F(TcpDriverTest, ReplacementEndsAWaitOnTheOlderConnection) {
  auto first = connected("one");
  send_raw(*first, frame(std::string(10, 'x')).substr(0, 8));  // a frame cut short
  std::string data;
  int result = 99;
  std::uint32_t start = platform::tick_ms();
  std::thread waiting([&] { result = wait(&data, 60000, 100); });
  auto second = connect();
  send_raw(*second, frame("two"));
  waiting.join();
  EXPECT_LT(platform::tick_ms() - start, test::generous_ms);
  if (result == 0) result = wait(&data, test::generous_ms, 100);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(data, "two");
  EXPECT_TRUE(ended(*first));
}

TEST_F(TcpDriverTest, APeerThatClosesGivesZeroAtOnce) {
  auto t = connected();
  send_raw(*t, frame(std::string(50, 'y')).substr(0, 20));
  t->close();
  std::uint32_t start = platform::tick_ms();
  char address[32] = "untouched";
  // The frame's payload had begun: its receive result (0) with the address.
  EXPECT_EQ(wait(nullptr, 60000, 100, address), 0);
  EXPECT_STREQ(address, "127.0.0.1");
  EXPECT_EQ(wait(nullptr, 60000, 100), 0);
  EXPECT_LT(platform::tick_ms() - start, test::generous_ms);
}

TEST_F(TcpDriverTest, TiniEndsTheAcceptThreadAndTheConnection) {
  auto t = connected();
  EXPECT_EQ(driver_.tini(), 0);
  EXPECT_TRUE(ended(*t));
  Socket late(SocketKind::stream);
  EXPECT_FALSE(platform::connect_socket(late.get(), {platform::loopback_address, port_}));
  EXPECT_EQ(send("x"), -1);
  EXPECT_EQ(wait(nullptr, 10, 100), 0);
  EXPECT_EQ(driver_.tini(), 0);
  // The port is free again.
  EXPECT_EQ(driver_.init(port_), 1);
  auto again = connected();
}

TEST_F(TcpDriverTest, AResetPeerIsDroppedWhenSendingToIt) {
  auto t = connected();
  // Unread data at close makes the terminal's side reset the connection.
  EXPECT_EQ(send("unread"), 0);
  ASSERT_EQ(platform::wait_readable(t->get(), test::generous_ms), 1);
  t->close();
  int result = 0;
  std::uint32_t start = platform::tick_ms();
  while (platform::tick_ms() - start < test::generous_ms && result == 0) {
    result = send("into the void");
    if (result == 0) platform::sleep_ms(5);
  }
  EXPECT_EQ(result, -1);
  // Once the reset was seen the connection is gone.
  EXPECT_EQ(send("again"), -1);
}

// Random streams (huge length words, frames cut short, peers that vanish
// mid-frame, resets) from many terminals in turn leave the driver working.
TEST_F(TcpDriverTest, HostileStreamsLeaveItWorking) {
  std::mt19937 random(2024);
  for (int round = 0; round < 40; ++round) {
    auto t = connect();
    std::string bytes;
    int kind = static_cast<int>(random() % 4);
    if (kind == 0) {  // noise
      bytes.resize(random() % 3000);
      for (char& c : bytes) c = static_cast<char>(random());
    } else if (kind == 1) {  // a huge length word and a little of its payload
      bytes = std::string("\xFF\xFF\xFF\xFF", 4) + std::string(random() % 500, 'h');
    } else if (kind == 2) {  // good frames, the last one cut short
      for (int i = 0; i < 5; ++i) bytes += frame(std::string(random() % 200, 'g'));
      bytes.resize(bytes.size() - 1 - random() % 10);
    } else {  // a length word cut short
      bytes = std::string("\x10\x00", 2);
    }
    if (!bytes.empty()) platform::send_bytes(t->get(), bytes.data(), static_cast<int>(bytes.size()));
    if (random() % 2) send("unread");  // makes a later close a reset
    for (int i = 0; i < 3; ++i) wait(nullptr, static_cast<int>(random() % 20), 1024);
    t->close();
    wait(nullptr, 0, 1024);
  }
  auto good = connected("good one");
  EXPECT_EQ(send("answer"), 0);
  EXPECT_EQ(read_bytes(*good, 10), frame("answer"));
}

}  // namespace

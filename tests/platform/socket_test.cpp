#include "platform/socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/event.h"

using namespace qor::platform;

namespace {

constexpr std::uint32_t generous_ms = 10000;

// The socket layer is up for every test; sockets are closed at the end.
class Sockets : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(start_sockets(), 0); }
  void TearDown() override {
    for (SocketHandle s : opened_)
      if (s != invalid_socket) close_socket(s);
    stop_sockets();
  }

  SocketHandle open(SocketKind kind) {
    SocketHandle s = open_socket(kind);
    EXPECT_NE(s, invalid_socket);
    opened_.push_back(s);
    return s;
  }
  SocketHandle keep(SocketHandle s) {
    opened_.push_back(s);
    return s;
  }
  // Forgets a socket the test closes itself.
  void closed(SocketHandle s) {
    for (auto& kept : opened_)
      if (kept == s) kept = invalid_socket;
  }

  // A socket bound to an unused loopback port, and that endpoint.
  SocketHandle bound(SocketKind kind, Endpoint* where) {
    SocketHandle s = open(kind);
    EXPECT_TRUE(bind_socket(s, Endpoint{loopback_address, 0}));
    EXPECT_TRUE(local_endpoint(s, where));
    EXPECT_EQ(where->address, loopback_address);
    EXPECT_NE(where->port, 0);
    return s;
  }

  // A connected pair: the client end and the accepted server end.
  void connected(SocketHandle* client, SocketHandle* server, Endpoint* listener_at = nullptr) {
    Endpoint at;
    SocketHandle listener = bound(SocketKind::stream, &at);
    ASSERT_TRUE(listen_socket(listener));
    *client = open(SocketKind::stream);
    ASSERT_TRUE(connect_socket(*client, at));
    Endpoint peer;
    *server = keep(accept_socket(listener, &peer));
    ASSERT_NE(*server, invalid_socket);
    Endpoint client_at;
    ASSERT_TRUE(local_endpoint(*client, &client_at));
    EXPECT_EQ(peer, client_at) << "accept names the client's endpoint";
    if (listener_at) *listener_at = at;
  }

  std::vector<SocketHandle> opened_;
};

std::string received(SocketHandle s, int capacity = 256, Endpoint* from = nullptr) {
  std::string buffer(static_cast<std::size_t>(capacity), '\0');
  int n = from ? receive_from(s, &buffer[0], capacity, from) : receive_bytes(s, &buffer[0], capacity);
  return n < 0 ? std::string("<failed>") : buffer.substr(0, static_cast<std::size_t>(n));
}

}  // namespace

TEST_F(Sockets, DatagramRoundTripAnswersTheSender) {
  Endpoint server_at;
  SocketHandle server = bound(SocketKind::datagram, &server_at);
  SocketHandle client = open(SocketKind::datagram);  // never bound: the system picks its port

  EXPECT_EQ(send_to(client, "hello", 5, server_at), 5);
  ASSERT_EQ(wait_readable(server, generous_ms), 1);
  Endpoint from;
  EXPECT_EQ(received(server, 256, &from), "hello");
  Endpoint client_at;
  ASSERT_TRUE(local_endpoint(client, &client_at));
  EXPECT_EQ(from.address, loopback_address);
  EXPECT_EQ(from.port, client_at.port);

  EXPECT_EQ(send_to(server, "world", 5, from), 5);
  ASSERT_EQ(wait_readable(client, generous_ms), 1);
  EXPECT_EQ(received(client, 256, &from), "world");
  EXPECT_EQ(from, server_at);
}

TEST_F(Sockets, EmptyDatagramArrivesAsZeroBytes) {
  Endpoint server_at;
  SocketHandle server = bound(SocketKind::datagram, &server_at);
  SocketHandle client = open(SocketKind::datagram);
  EXPECT_EQ(send_to(client, "", 0, server_at), 0);
  ASSERT_EQ(wait_readable(server, generous_ms), 1);
  char byte;
  Endpoint from;
  EXPECT_EQ(receive_from(server, &byte, 1, &from), 0);
  EXPECT_EQ(from.address, loopback_address);
}

// Winsock's rule, which the UDP driver states as its own: the receive fails
// and the datagram is gone.
TEST_F(Sockets, OverlongDatagramFailsAndIsDropped) {
  Endpoint server_at;
  SocketHandle server = bound(SocketKind::datagram, &server_at);
  SocketHandle client = open(SocketKind::datagram);
  const std::string big(100, 'x');
  EXPECT_EQ(send_to(client, big.data(), 100, server_at), 100);
  EXPECT_EQ(send_to(client, "next", 4, server_at), 4);
  ASSERT_EQ(wait_readable(server, generous_ms), 1);
  char small[10];
  EXPECT_EQ(receive_from(server, small, sizeof small, nullptr), -1);
  EXPECT_EQ(last_socket_error(), SocketError::message_too_long);
  EXPECT_EQ(received(server, 10, nullptr), "next");
}

TEST_F(Sockets, NonBlockingReceiveReportsWouldBlock) {
  Endpoint at;
  SocketHandle datagram = bound(SocketKind::datagram, &at);
  SocketHandle client, server;
  connected(&client, &server);
  for (SocketHandle s : {datagram, server}) {
    ASSERT_TRUE(set_non_blocking(s, true));
    char byte;
    std::uint32_t start = tick_ms();
    EXPECT_EQ(receive_from(s, &byte, 1, nullptr), -1);
    EXPECT_EQ(last_socket_error(), SocketError::would_block);
    EXPECT_LT(tick_ms() - start, generous_ms);
  }
  // Still a working connection afterwards.
  ASSERT_EQ(send_bytes(client, "ok", 2), 2);
  ASSERT_EQ(wait_readable(server, generous_ms), 1);
  EXPECT_EQ(received(server), "ok");
}

TEST_F(Sockets, StreamRoundTripAndPeerClose) {
  SocketHandle client, server;
  Endpoint listener_at;
  connected(&client, &server, &listener_at);
  Endpoint peer;
  ASSERT_TRUE(peer_endpoint(client, &peer));
  EXPECT_EQ(peer, listener_at);

  EXPECT_EQ(wait_readable(server, 30), 0) << "nothing sent yet";
  EXPECT_EQ(send_bytes(client, "ping", 4), 4);
  ASSERT_EQ(wait_readable(server, generous_ms), 1);
  EXPECT_EQ(received(server), "ping");
  EXPECT_EQ(send_bytes(server, "pong!", 5), 5);
  ASSERT_EQ(wait_readable(client, generous_ms), 1);
  EXPECT_EQ(received(client), "pong!");

  ASSERT_TRUE(close_socket(client));
  closed(client);
  ASSERT_EQ(wait_readable(server, generous_ms), 1) << "a closed connection reads as ready";
  EXPECT_EQ(received(server), "");
}

TEST_F(Sockets, APortInUseFailsTheBind) {
  for (SocketKind kind : {SocketKind::datagram, SocketKind::stream}) {
    Endpoint at;
    SocketHandle first = bound(kind, &at);
    if (kind == SocketKind::stream) {
      ASSERT_TRUE(listen_socket(first));
    }
    SocketHandle second = open(kind);
    EXPECT_FALSE(bind_socket(second, Endpoint{any_address, at.port}));
    EXPECT_EQ(last_socket_error(), SocketError::address_in_use);
  }
}

// A driver stopped and started again binds its port again at once, while
// the connections it closed still linger in TIME_WAIT.
TEST_F(Sockets, AStreamPortCanBeBoundAgainAfterItsConnectionsClose) {
  SocketHandle client, server;
  Endpoint listener_at;
  connected(&client, &server, &listener_at);
  // The server closes first, so the lingering end is on its port.
  for (SocketHandle s : {server, client}) {
    close_socket(s);
    closed(s);
  }
  for (SocketHandle s : opened_)
    if (s != invalid_socket) close_socket(s);
  opened_.clear();

  SocketHandle again = open(SocketKind::stream);
  EXPECT_TRUE(bind_socket(again, listener_at)) << static_cast<int>(last_socket_error());
  EXPECT_TRUE(listen_socket(again));
}

// How the TCP driver stops its accept thread.
TEST_F(Sockets, ClosingAListeningSocketWakesABlockedAccept) {
  Endpoint at;
  SocketHandle listener = bound(SocketKind::stream, &at);
  ASSERT_TRUE(listen_socket(listener));
  Event entering, returned;
  std::atomic<SocketHandle> result{0};
  std::thread acceptor([&] {
    entering.set();
    result = accept_socket(listener);
    returned.set();
  });
  ASSERT_TRUE(entering.wait(generous_ms));
  sleep_ms(50);  // let it block in accept; had it not yet, accept fails all the same
  close_socket(listener);
  closed(listener);
  bool woke = returned.wait(generous_ms);
  EXPECT_TRUE(woke) << "accept still blocked after the close";
  if (!woke) {
    acceptor.detach();
    return;
  }
  acceptor.join();
  EXPECT_EQ(result.load(), invalid_socket);
}

// The TCP driver drops its connection on this error. Sending on a reset
// connection must not raise a signal either (SIGPIPE would end the process).
TEST_F(Sockets, SendAfterThePeerResetReportsConnectionReset) {
  SocketHandle client, server;
  connected(&client, &server);
  ASSERT_EQ(send_bytes(server, "unread", 6), 6);
  ASSERT_EQ(wait_readable(client, generous_ms), 1);
  // Closing with data unread resets the connection.
  close_socket(client);
  closed(client);
  SocketError error = SocketError::none;
  std::uint32_t start = tick_ms();
  while (tick_ms() - start < generous_ms) {
    if (send_bytes(server, "x", 1) < 0) {
      error = last_socket_error();
      break;
    }
    sleep_ms(10);
  }
  EXPECT_EQ(error, SocketError::connection_reset);
}

TEST(Ipv4Text, ParsesOnlyDottedDecimal) {
  struct Case {
    const char* text;
    bool ok;
    std::uint32_t address;
  };
  const Case cases[] = {
      {"10.0.0.5", true, 0x0A000005},
      {"127.0.0.1", true, loopback_address},
      {"0.0.0.0", true, 0},
      {"255.255.255.255", true, 0xFFFFFFFF},  // broadcast, not a failure value
      {"192.168.100.254", true, 0xC0A864FE},
      {"", false, 0},
      {"1.2.3", false, 0},
      {"1.2.3.4.5", false, 0},
      {"256.0.0.1", false, 0},
      {"1.2.3.1000", false, 0},
      {"1..2.3", false, 0},
      {"1.2.3.", false, 0},
      {".1.2.3", false, 0},
      {" 1.2.3.4", false, 0},
      {"1.2.3.4 ", false, 0},
      {"1.2.3.4:80", false, 0},
      {"010.0.0.1", false, 0},
      {"0x7f.0.0.1", false, 0},
      {"a.b.c.d", false, 0},
      {"-1.2.3.4", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::uint32_t address = 0x12345678;
    EXPECT_EQ(parse_ipv4(c.text, &address), c.ok);
    EXPECT_EQ(address, c.ok ? c.address : 0x12345678u) << "left alone on failure";
    if (c.ok) {
      EXPECT_EQ(ipv4_text(c.address), c.text);
    }
  }
}

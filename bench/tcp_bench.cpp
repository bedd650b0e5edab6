// Frames through QorTcp, loaded by name as a link server loads it: a
// terminal connects, sends a length-prefixed frame, the serving thread takes
// it with QorTcp_WaitPacket and answers with QorTcp_Reply, and the terminal
// reads the answering frame. Baseline: the same round trip on a raw accepted
// socket that reads the length word and payload and sends one frame back, in
// the same run.
//
//   tcp_bench [ROUNDS] [SIZE]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/latency.h"
#include "platform/module.h"
#include "platform/socket.h"
#include "qor/qortcp.h"

using namespace qor::platform;
using qor::bench::Clock;
using qor::bench::figures;
using qor::bench::since;

namespace {

bool read_exactly(SocketHandle s, char* into, int count) {
  while (count > 0) {
    int n = receive_bytes(s, into, count);
    if (n <= 0) return false;
    into += n;
    count -= n;
  }
  return true;
}

bool send_frame(SocketHandle s, const char* payload, int size) {
  std::vector<char> frame(static_cast<std::size_t>(size) + 4);
  std::uint32_t length = static_cast<std::uint32_t>(size);
  for (int i = 0; i < 4; ++i) frame[static_cast<std::size_t>(i)] = static_cast<char>(length >> (8 * i));
  std::memcpy(frame.data() + 4, payload, static_cast<std::size_t>(size));
  return send_bytes(s, frame.data(), size + 4) == size + 4;
}

// Round trips of frames from a terminal connected to `port`.
std::vector<double> rounds_to(std::uint16_t port, int rounds, int size) {
  std::vector<double> us;
  SocketHandle terminal = open_socket(SocketKind::stream);
  if (!connect_socket(terminal, {loopback_address, port})) return us;
  std::vector<char> packet(static_cast<std::size_t>(size), 'p'), back(static_cast<std::size_t>(size) + 4);
  for (int i = 0; i < rounds; ++i) {
    auto start = Clock::now();
    if (!send_frame(terminal, packet.data(), size) || !read_exactly(terminal, back.data(), size + 4)) break;
    us.push_back(since(start));
  }
  close_socket(terminal);
  return us;
}

std::uint16_t free_port() {
  SocketHandle probe = open_socket(SocketKind::stream);
  Endpoint at;
  bind_socket(probe, {any_address, 0});
  local_endpoint(probe, &at);
  close_socket(probe);
  return at.port;
}

std::vector<double> driver_rounds(int rounds, int size) {
  ModuleHandle module = load_module("QorTcp.dll");
  auto init = reinterpret_cast<QorTcpInitFn>(find_symbol(module, "QorTcp_Init"));
  auto tini = reinterpret_cast<QorTcpTiniFn>(find_symbol(module, "QorTcp_Tini"));
  auto wait_packet = reinterpret_cast<QorTcpPacketFn>(find_symbol(module, "QorTcp_WaitPacket"));
  auto reply = reinterpret_cast<QorTcpPacketFn>(find_symbol(module, "QorTcp_Reply"));
  if (!init || !tini || !wait_packet || !reply) {
    std::fprintf(stderr, "tcp_bench: cannot load QorTcp\n");
    return {};
  }
  std::uint16_t port = 0;
  for (int attempt = 0; attempt < 20 && port == 0; ++attempt) {
    std::uint16_t candidate = free_port();
    if (init(candidate) == 1) port = candidate;
  }
  std::atomic<bool> done{false};
  std::thread server([&] {
    char address[32];
    std::vector<char> buffer(65536);
    while (!done) {
      int n = wait_packet(50, 0, address, 65536, buffer.data());
      if (n > 0) reply(0, 0, nullptr, n, buffer.data());
    }
  });
  std::vector<double> us = rounds_to(port, rounds, size);
  done = true;
  server.join();
  tini();
  unload_module(module);
  return us;
}

std::vector<double> raw_rounds(int rounds, int size) {
  SocketHandle listener = open_socket(SocketKind::stream);
  bind_socket(listener, {any_address, 0});
  listen_socket(listener);
  Endpoint at;
  local_endpoint(listener, &at);
  std::thread server([&] {
    SocketHandle s = accept_socket(listener);
    std::vector<char> buffer(65536);
    char word[4];
    while (read_exactly(s, word, 4)) {
      int n = static_cast<int>((static_cast<unsigned char>(word[0]) | static_cast<unsigned char>(word[1]) << 8 |
                                static_cast<unsigned char>(word[2]) << 16 | static_cast<unsigned char>(word[3]) << 24) &
                               0x7FFFFFFF);
      if (n > 65536 || !read_exactly(s, buffer.data(), n) || !send_frame(s, buffer.data(), n)) break;
    }
    close_socket(s);
  });
  std::vector<double> us = rounds_to(at.port, rounds, size);
  server.join();
  close_socket(listener);
  return us;
}

void report(const char* what, const std::vector<double>& us, const qor::bench::Figures& base, double seconds) {
  qor::bench::row(what, us, base);
  std::printf("%-34s %8.0f frames per second each way\n", "", seconds > 0 ? static_cast<double>(us.size()) / seconds : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
  int size = argc > 2 ? std::atoi(argv[2]) : 64;
  start_sockets();
  auto start = Clock::now();
  std::vector<double> raw = raw_rounds(rounds, size);
  double raw_seconds = since(start) / 1e6;
  start = Clock::now();
  std::vector<double> driver = driver_rounds(rounds, size);
  double driver_seconds = since(start) / 1e6;
  qor::bench::Figures base = figures(raw);
  std::printf("TCP frame round trips of %d-byte packets on 127.0.0.1 (microseconds)\n", size);
  std::printf("%-34s %8s %10s %10s %10s %9s\n", "", "rounds", "p50", "p99", "mean", "p50 ratio");
  report("raw framed socket", raw, base, raw_seconds);
  report("QorTcp WaitPacket + Reply", driver, base, driver_seconds);
  stop_sockets();
  return 0;
}

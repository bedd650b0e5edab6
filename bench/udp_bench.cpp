// Round trips through QorUdp, loaded by name as a link server loads it: a
// terminal sends a datagram to the driver's port, the serving thread takes
// it with QorUdp_WaitPacket (polled, as a link server's loop does) and
// answers with QorUdp_Reply. Baseline: the same round trip with a raw
// non-blocking socket polled with recvfrom and answered with sendto, in the
// same run.
//
//   udp_bench [ROUNDS] [SIZE]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/latency.h"
#include "platform/module.h"
#include "platform/socket.h"
#include "qor/qorudp.h"

using namespace qor::platform;
using qor::bench::Clock;
using qor::bench::figures;
using qor::bench::since;

namespace {

// Round trips from a terminal socket to `port`; microseconds each.
std::vector<double> rounds_to(std::uint16_t port, int rounds, int size) {
  std::vector<double> us;
  SocketHandle terminal = open_socket(SocketKind::datagram);
  bind_socket(terminal, {loopback_address, 0});
  std::vector<char> packet(static_cast<std::size_t>(size), 'p'), back(65536);
  for (int i = 0; i < rounds; ++i) {
    auto start = Clock::now();
    if (send_to(terminal, packet.data(), size, {loopback_address, port}) != size) break;
    if (wait_readable(terminal, 2000) != 1 || receive_from(terminal, back.data(), 65536) != size) break;
    us.push_back(since(start));
  }
  close_socket(terminal);
  return us;
}

std::vector<double> driver_rounds(int rounds, int size) {
  ModuleHandle module = load_module("QorUdp.dll");
  auto init = reinterpret_cast<QorUdpInitFn>(find_symbol(module, "QorUdp_Init"));
  auto tini = reinterpret_cast<QorUdpTiniFn>(find_symbol(module, "QorUdp_Tini"));
  auto wait_packet = reinterpret_cast<QorUdpPacketFn>(find_symbol(module, "QorUdp_WaitPacket"));
  auto reply = reinterpret_cast<QorUdpPacketFn>(find_symbol(module, "QorUdp_Reply"));
  if (!init || !tini || !wait_packet || !reply) {
    std::fprintf(stderr, "udp_bench: cannot load QorUdp\n");
    return {};
  }
  std::uint16_t port = 0;
  for (int attempt = 0; attempt < 20 && port == 0; ++attempt) {
    SocketHandle probe = open_socket(SocketKind::datagram);
    Endpoint at;
    bind_socket(probe, {any_address, 0});
    local_endpoint(probe, &at);
    close_socket(probe);
    if (init(at.port) == 1) port = at.port;
  }
  std::atomic<bool> done{false};
  std::thread server([&] {
    char address[32];
    std::vector<char> buffer(65536);
    while (!done) {
      int n = wait_packet(0, 0, address, 65536, buffer.data());
      if (n >= 0) reply(0, 0, nullptr, n, buffer.data());
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
  SocketHandle s = open_socket(SocketKind::datagram);
  bind_socket(s, {any_address, 0});
  Endpoint at;
  local_endpoint(s, &at);
  set_non_blocking(s, true);
  std::atomic<bool> done{false};
  std::thread server([&] {
    std::vector<char> buffer(65536);
    Endpoint from;
    while (!done) {
      int n = receive_from(s, buffer.data(), 65536, &from);
      if (n >= 0) send_to(s, buffer.data(), n, from);
    }
  });
  std::vector<double> us = rounds_to(at.port, rounds, size);
  done = true;
  server.join();
  close_socket(s);
  return us;
}

void report(const char* what, const std::vector<double>& us, const qor::bench::Figures& base, double seconds) {
  qor::bench::row(what, us, base);
  std::printf("%-34s %8.0f round trips per second\n", "", seconds > 0 ? static_cast<double>(us.size()) / seconds : 0.0);
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
  std::printf("UDP round trips of %d-byte packets on 127.0.0.1 (microseconds)\n", size);
  std::printf("%-34s %8s %10s %10s %10s %9s\n", "", "rounds", "p50", "p99", "mean", "p50 ratio");
  report("raw socket, recvfrom + sendto", raw, base, raw_seconds);
  report("QorUdp WaitPacket + Reply", driver, base, driver_seconds);
  stop_sockets();
  return 0;
}

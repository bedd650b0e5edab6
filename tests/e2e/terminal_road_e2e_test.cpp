// The whole road of a terminal packet and its answer, with real processes
// and real sockets: a simulated terminal (qorterm) over UDP or TCP, the
// stand-in link server with QorUdp, QorTcp and PipeHost, and a host
// (qorhost) using QorLink.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "tests/support/stand_in.h"
#include "tests/support/test_support.h"
#include "tests/transports/transport_test_support.h"

using namespace qor;

namespace {

std::string program(const std::string& name) { return test::bin_dir() + "/" + name + (test::on_win32 ? ".exe" : ""); }

platform::Process start(const std::string& name, const std::string& arguments) {
  return platform::start_process(platform::quote_argument(program(name)) + " " + arguments, "");
}

// The exit code of a started program, or -1 when it did not end in time.
int finish(platform::Process& process, std::uint32_t limit_ms = 40000) {
  std::uint32_t code = 0;
  if (!process.wait(limit_ms, &code)) {
    process.kill();
    return -1;
  }
  return static_cast<int>(code);
}

// A stand-in link server with both drivers on free ports, a persistent data
// pipe ORDERS for ORD packets (so terminal data waits for the host), and the
// policy NAK for data to terminals it has never heard from.
struct RoadServer {
  RoadServer() {
    EXPECT_EQ(platform::start_sockets(), 0);
    for (int attempt = 0; attempt < 5 && !(server && server->up()); ++attempt) {
      server.reset();
      udp = test::free_port(platform::SocketKind::datagram);
      tcp = test::free_port(platform::SocketKind::stream);
      instance = test::unique_name("QT");
      server = std::make_unique<test::StandIn>(
          instance, "--policy nak --udp " + std::to_string(udp) + " --tcp " + std::to_string(tcp),
          std::vector<std::string>{"pipe|ORDERS|ORD|000|Y"});
    }
  }
  ~RoadServer() {
    server.reset();
    platform::stop_sockets();
  }
  bool up() const { return server && server->up(); }
  std::string port_of(const std::string& transport) const { return std::to_string(transport == "udp" ? udp : tcp); }

  std::uint16_t udp = 0, tcp = 0;
  std::string instance;
  std::unique_ptr<test::StandIn> server;
};

class TerminalRoad : public ::testing::TestWithParam<const char*> {};

TEST_P(TerminalRoad, AnOrderReachesTheHostAndItsAnswerTheTerminal) {
  RoadServer road;
  ASSERT_TRUE(road.up());
  std::string transport = GetParam();

  // The host waits for terminal data and answers the terminal it came from.
  platform::Process host = start("qorhost", "-i " + road.instance + " wait ORDERS 30000 send ORDERS 5 ACCEPTED");
  ASSERT_TRUE(host.started());
  // The terminal sends its order and listens for the host's answer.
  platform::Process terminal = start("qorterm", "--" + transport + " --port " + road.port_of(transport) +
                                                    " --terminal 5 --answers 1 --linger 30000 ORD|2-BOXES");
  ASSERT_TRUE(terminal.started());
  EXPECT_EQ(finish(host), 0) << "the host got the order and its answer was acknowledged";
  EXPECT_EQ(finish(terminal), 0) << "the terminal's order was acknowledged and the answer came back";

  // The link server knows the terminal now; another it has never heard from.
  platform::Process known = start("qorhost", "-i " + road.instance + " terminal 5");
  EXPECT_EQ(finish(known), 0);
  platform::Process unknown = start("qorhost", "-i " + road.instance + " terminal 6 ");
  EXPECT_EQ(finish(unknown), 1);
  platform::Process nowhere = start("qorhost", "-i " + road.instance + " send ORDERS 6 HELLO");
  EXPECT_EQ(finish(nowhere), 1) << "no way to terminal 6: NAK";
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, TerminalRoad, ::testing::Values("udp", "tcp"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                           return std::string(param.param[0] == 'u' ? "Udp" : "Tcp");
                         });

// Resident memory of a process in KiB (native only; 0 where unknown).
long resident_kib(std::uint32_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

TEST(TerminalRoad, HostileTrafficLeavesTheLinkServerServing) {
  RoadServer road;
  ASSERT_TRUE(road.up());
  platform::Endpoint udp{platform::loopback_address, road.udp};
  platform::Endpoint tcp{platform::loopback_address, road.tcp};
  std::mt19937 random(12345);
  auto noise = [&](std::size_t most) {
    std::string bytes(random() % (most + 1), '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    // Now and then something close to a frame.
    if (!bytes.empty() && random() % 4 == 0) bytes[0] = 0x02;
    return bytes;
  };

  test::Socket datagrams(platform::SocketKind::datagram);
  auto flood = [&](int count) {
    for (int i = 0; i < count; ++i) {
      std::string bytes = noise(i % 100 == 0 ? 2000 : 64);
      platform::send_to(datagrams.get(), bytes.data(), static_cast<int>(bytes.size()), udp);
      if (i % 500 == 0) platform::sleep_ms(1);  // a loopback queue overflows, not the test
    }
  };
  // The first thousand bring every code path in; memory is measured after
  // them, so that what follows shows growth, not start-up.
  flood(1000);
  platform::sleep_ms(200);
  long before = resident_kib(road.server->process().id());
  flood(9000);
  for (int peer = 0; peer < 20; ++peer) {
    test::Socket stream(platform::SocketKind::stream);
    if (!platform::connect_socket(stream.get(), tcp)) continue;
    std::string bytes = noise(5000);
    if (peer % 3 == 0) bytes = std::string("\xFF\xFF\xFF\x7F", 4) + bytes;  // a huge length word
    if (peer % 3 == 1) bytes = std::string("\x10\x00\x00\x00", 4) + "\x02" "00";   // a frame cut short
    platform::send_bytes(stream.get(), bytes.data(), static_cast<int>(bytes.size()));
    // ... and the peer vanishes.
  }

  // Still serving: a real terminal over each transport gets its frame taken.
  // The flood may still fill the link server's UDP receive buffer and drop
  // the terminal's datagrams: like a real terminal it sends again when no
  // acknowledgement comes.
  for (const char* transport : {"udp", "tcp"}) {
    int code = -1;
    for (int attempt = 0; attempt < 3 && code != 0; ++attempt) {
      platform::Process terminal = start("qorterm", std::string("--") + transport + " --port " +
                                                        road.port_of(transport) + " --terminal 7 ORD|STILL-THERE");
      code = finish(terminal);
    }
    EXPECT_EQ(code, 0) << transport;
  }
  EXPECT_TRUE(road.server->process().running());
#if defined(__SANITIZE_ADDRESS__)
  before = 0;  // the sanitizer's own quarantine holds freed memory back: no figure to compare
#endif
  if (before > 0) {
    long after = resident_kib(road.server->process().id());
    EXPECT_LT(after - before, 4096) << "resident memory grew from " << before << " to " << after << " KiB";
  }
}

}  // namespace

// The whole road of a terminal order and its answer, with real processes and
// sockets: simulated terminals (linkserver/term_session.h) send DA frames to
// the stand-in link server (qorlink with QorUdp, QorTcp and PipeHost), which
// hands each to PipeHost; a host process waits in QORLink_WaitData and
// answers with QORLink_SendData; the link server sends the answer to the
// terminal as an AN frame.
//
// Latency: from the terminal sending its DA to the AN arriving at it. Each
// terminal keeps one order outstanding (it sends the next DA once the answer
// to the last one is in). Throughput: answers received over the time from
// starting the terminals to the last one ending.
//
// Runs: 1, 16 and 256 terminals over UDP, 1 terminal over TCP (QorTcp keeps
// one terminal connection at a time). Every run gets a fresh link server with
// persistent data pipes H000.. for the packet types T000.. and its own host
// processes; the terminals are split into blocks of consecutive numbers, one
// block per host, each block sending its host's packet type: each terminal
// has one host, and its answers come in the order of its orders. A host is this
// program started again as
//
//   road_bench --host K --instance I --folder F
//
// which loads QorLink by name, waits on the data pipe H<KKK>, says it is
// ready once the pipe is reached (a file in F) and answers every order with "ACCEPTED" until F holds a file
// "stop"; it writes its counts to F.
//
//   road_bench [udp|tcp] [1|16|256]
//
// runs only the runs that match every word given (all without words).
//
// No assertions; the whole run takes about 30 s on a 2-core machine.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/host_fleet.h"
#include "bench/latency.h"
#include "linkserver/term_session.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "qor/qorlink.h"

using namespace qor;
using bench::Clock;
using bench::host_pipe;
using bench::host_type;
using bench::three_digits;
using bench::touch;
using bench::within;
using linkserver::Transport;

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- shared --

// ------------------------------------------------------------------ host --

struct HostArgs {
  int host = 0;
  std::string instance;
  fs::path folder;
};

int run_host(const HostArgs& a) {
  platform::ModuleHandle module = platform::load_module("qorlink.dll");
  decltype(&QORLink_WaitData) wait_data = nullptr;
  decltype(&QORLink_SendData) send_data = nullptr;
  if (module) {
    wait_data = reinterpret_cast<decltype(wait_data)>(platform::find_symbol(module, "QORLink_WaitData"));
    send_data = reinterpret_cast<decltype(send_data)>(platform::find_symbol(module, "QORLink_SendData"));
  }
  if (!wait_data || !send_data) {
    std::fprintf(stderr, "road_bench host %d: qorlink.dll could not be loaded\n", a.host);
    return 1;
  }
  const char* i = a.instance.c_str();
  std::string pipe = host_pipe(a.host);
  // The data pipe is persistent (PipeHost refuses to open or close such a
  // pipe): the host is ready once its first wait reaches the pipe.
  bool ready = false;
  long orders = 0, acknowledged = 0;
  const char answer[] = "ACCEPTED";
  const auto answer_size = static_cast<std::int32_t>(sizeof answer - 1);
  std::uint32_t start = platform::tick_ms();
  while (!fs::exists(a.folder / "stop") && platform::tick_ms() - start < 300000) {
    char type[64];
    std::snprintf(type, sizeof type, "%s", pipe.c_str());  // the call overwrites it with the order's type
    char data[1025];
    std::int32_t terminal = -1;
    std::int32_t n = wait_data(".", i, &terminal, ready ? 500 : 20, type, data, sizeof data - 1);
    if (n == 0) platform::sleep_ms(10);  // not reachable (yet, or any more)
    if (n != 0 && !ready) {
      ready = true;
      if (!touch(a.folder / ("ready_" + three_digits(a.host)))) return 1;
    }
    if (n <= 0) continue;
    ++orders;
    if (send_data(".", i, terminal, 5000, pipe.c_str(), answer, answer_size) == answer_size) ++acknowledged;
  }
  std::ofstream out(a.folder / ("result_" + three_digits(a.host) + ".txt"));
  out << orders << ' ' << acknowledged << '\n';
  return 0;
}

// ---------------------------------------------------------------- parent --

struct Run {
  Transport transport;
  int terminals;
  int orders_each;  // per terminal
  int hosts;
};

struct Outcome {
  bool up = false;
  int hosts_ready = 0;
  long orders = 0;        // DA frames sent
  long acknowledged = 0;  // ... acknowledged (AK)
  long resent = 0;        // frames sent again for want of an acknowledgement
  long host_orders = 0;   // orders the hosts took
  long host_acked = 0;    // answers whose SendData was acknowledged
  std::vector<double> answer_us;
  double seconds = 0;  // the terminals' run
};


// A port the system just handed out for a socket of this kind (another
// program may take it before the link server does: the start is retried).
std::uint16_t free_port(platform::SocketKind kind) {
  platform::SocketHandle s = platform::open_socket(kind);
  if (s == platform::invalid_socket) return 0;
  platform::Endpoint local;
  std::uint16_t port = 0;
  if (platform::bind_socket(s, {platform::any_address, 0}) && platform::local_endpoint(s, &local)) port = local.port;
  platform::close_socket(s);
  return port;
}

// The stand-in link server for one instance with both drivers and the
// persistent data pipes H000.. of `hosts` hosts, in a folder of its own.
// The Host ID is set above the terminal numbers (its default, 99, is also
// terminal 99's number: data for that terminal would be taken for a request
// to the link server itself).
class LinkServer {
 public:
  LinkServer(const fs::path& folder, const std::string& instance, int hosts)
      : server_(folder, instance, hosts, {true, "999", 5}, [this] {
          // Fresh ports for every attempt: another run may have taken one.
          udp = free_port(platform::SocketKind::datagram);
          tcp = free_port(platform::SocketKind::stream);
          return "--policy nak --udp " + std::to_string(udp) + " --tcp " + std::to_string(tcp);
        }) {}

  bool up() const { return server_.up(); }

  // Declared before the server: the server's start sets them.
  std::uint16_t udp = 0, tcp = 0;

 private:
  bench::StandInServer server_;
};

// The terminals of a run, one block of consecutive numbers per host, all at
// once. Terminal numbers start at 0 (hosts know terminals 0-255); a single
// terminal is number 5. `first_only`: one terminal per block.
linkserver::TermReport run_groups(const Run& run, const LinkServer& server, int orders_each, bool first_only) {
  int per_host = run.terminals / run.hosts;
  std::vector<linkserver::TermReport> reports(static_cast<std::size_t>(run.hosts));
  std::vector<std::thread> groups;
  for (int k = 0; k < run.hosts; ++k)
    groups.emplace_back([&, k] {
      linkserver::TermConfig c;
      c.transport = run.transport;
      c.server = {platform::loopback_address, run.transport == Transport::udp ? server.udp : server.tcp};
      c.first_terminal = run.terminals == 1 ? 5 : k * per_host;
      c.terminals = first_only ? 1 : per_host;
      c.repeat = orders_each;
      c.packets = {{host_type(k), "order"}};
      // A burst of datagrams can overflow the link server's receive buffer:
      // a frame not acknowledged in time goes again, as terminals do. The
      // acknowledgement of a DA comes once the link server has handed over
      // the DAs before it (5 ms each, 1.3 s for 256).
      c.resends = 2;
      if (orders_each == 1) {
        // One order: acknowledged within 2 s, then its answer awaited.
        c.wait_ms = 2000;
        c.answers = 1;
        c.linger_ms = 20000;
      } else {
        // One order outstanding: the next goes once the answer to the last
        // is in (within 5 s).
        c.wait_ms = 5000;
        c.answer_each = true;
      }
      reports[static_cast<std::size_t>(k)] = linkserver::run_terminals(c, nullptr);
    });
  for (std::thread& g : groups) g.join();
  linkserver::TermReport total;
  for (const linkserver::TermReport& r : reports) total.add(r);
  return total;
}

Outcome run_once(const Run& run, const fs::path& folder, const std::string& instance) {
  Outcome outcome;
  LinkServer server(folder / "server", instance, run.hosts);
  if (!server.up()) {
    std::fprintf(stderr, "road_bench: the stand-in link server for %s did not come up\n", instance.c_str());
    return outcome;
  }
  outcome.up = true;

  std::vector<platform::Process> hosts;
  std::string self = platform::quote_argument(platform::executable_path());
  for (int k = 0; k < run.hosts; ++k)
    hosts.push_back(platform::start_process(self + " --host " + std::to_string(k) + " --instance " + instance +
                                                " --folder " + platform::quote_argument(folder.string()),
                                            folder.string()));
  auto ready_count = [&] {
    int n = 0;
    for (int k = 0; k < run.hosts; ++k) n += fs::exists(folder / ("ready_" + three_digits(k))) ? 1 : 0;
    return n;
  };
  within(30000, [&] {
    if (ready_count() == run.hosts) return true;
    for (int k = 0; k < run.hosts; ++k)
      if (!fs::exists(folder / ("ready_" + three_digits(k))) && hosts[static_cast<std::size_t>(k)].running())
        return false;
    return true;  // a host that gave up has ended
  });
  outcome.hosts_ready = ready_count();

  if (outcome.hosts_ready == run.hosts) {
    // One order through every host first: the hosts' first calls make their
    // connections, and the link server meets each terminal transport once.
    run_groups(run, server, 1, true);
    auto started = Clock::now();
    linkserver::TermReport report = run_groups(run, server, run.orders_each, false);
    outcome.seconds = bench::since(started) / 1e6;
    outcome.orders = report.sent;
    outcome.acknowledged = report.acknowledged;
    outcome.resent = report.resent;
    outcome.answer_us = std::move(report.answer_us);
  }

  touch(folder / "stop");
  for (auto& h : hosts)
    if (h.started() && !h.wait(10000)) h.kill();
  for (int k = 0; k < run.hosts; ++k) {
    std::ifstream in(folder / ("result_" + three_digits(k) + ".txt"));
    long orders = 0, acked = 0;
    if (in >> orders >> acked) outcome.host_orders += orders, outcome.host_acked += acked;
  }
  return outcome;
}

// --------------------------------------------------- floors and ceilings --
//
// The waits on the road, on the link server's one thread:
//   Pipe_WriteData sleeps 5 ms after queueing a delivery;
//   Pipe_WaitData sleeps 5 ms before it looks at the request queue (and 5 ms
//   more when the queue is empty) and takes one request per call;
//   Pipe_Idle(1) sleeps 1 ms.
// A link server turn is Pipe_WaitData, the terminal drivers' packets, then
// Pipe_Idle(1): 11 ms when nothing happens.
//
// One order costs the link server's thread at least 11 ms: 5 ms in
// Pipe_WriteData for its DA, and a turn (>= 5 + 1 ms) whose Pipe_WaitData
// takes its answer, as each call takes one request.
constexpr double order_ms = 11.0;
// The host: QORLink_WaitData looks at its data pipe 10 ms after the ENQ that
// the delivery answers, and QORLink_SendData looks at its answer pipe 10 ms
// after writing the request (PipeHost's answer thread, too, looks at the
// verdict 10 ms after queueing it): at least 20 ms per order and host.
constexpr double host_order_ms = 20.0;

// The latency floor. A single order: handed over at once, its delivery
// taken by the host's first look (10 ms), its answer taken at the first look
// at the request queue after the hand-over (5 + 1 + 5 = 11 ms). K terminals
// with one order outstanding each, answered at most one per 11 ms: K x 11 ms
// in the steady state (Little's law). K terminals with one order each, sent
// at once: the median order is answered after K/2 others, (K/2) x 11 ms.
double floor_ms(const Run& run) {
  if (run.terminals == 1) return order_ms;
  double queued = run.orders_each == 1 ? run.terminals / 2.0 : run.terminals;
  return std::max(order_ms, queued * order_ms);
}

// The throughput ceiling: the link server's 1000/11 orders per second, the
// hosts' 1000/20 each, and for one terminal one order per latency floor.
double ceiling_per_s(const Run& run) {
  double link = 1000.0 / order_ms;
  double hosts = run.hosts * 1000.0 / host_order_ms;
  double terminals = run.terminals * 1000.0 / order_ms;
  return std::min({link, hosts, terminals});
}

const char* transport_name(Transport t) { return t == Transport::udp ? "udp" : "tcp"; }

bool picked(const Run& run, const std::vector<std::string>& filter) {
  for (const std::string& word : filter) {
    if ((word == "udp" || word == "tcp") && word != transport_name(run.transport)) return false;
    if (!word.empty() && std::isdigit(static_cast<unsigned char>(word[0])) && std::atoi(word.c_str()) != run.terminals)
      return false;
  }
  return true;
}

int run_all(const std::vector<std::string>& filter) {
  if (platform::start_sockets() != 0) {
    std::fprintf(stderr, "road_bench: the socket layer cannot start\n");
    return 1;
  }
  fs::path base = fs::temp_directory_path() / ("road_bench_" + std::to_string(platform::current_process_id()));
  std::error_code ignored;
  fs::remove_all(base, ignored);
  fs::create_directories(base);

  const Run runs[] = {
      {Transport::udp, 1, 100, 1},
      {Transport::udp, 16, 12, 4},
      {Transport::udp, 256, 1, 4},
      {Transport::tcp, 1, 100, 1},
  };
  struct Line {
    Run run;
    Outcome outcome;
  };
  std::vector<Line> lines;
  int index = 0;
  auto started = Clock::now();
  for (const Run& run : runs) {
    if (!picked(run, filter)) continue;
    std::string instance = "RB" + std::to_string(platform::current_process_id()) + "R" + std::to_string(index);
    fs::path folder = base / ("run" + std::to_string(index++));
    fs::create_directories(folder);
    std::fprintf(stderr, "road_bench: %d terminal(s) over %s, %d host(s)...\n", run.terminals,
                 transport_name(run.transport), run.hosts);
    auto run_started = Clock::now();
    lines.push_back({run, run_once(run, folder, instance)});
    const Outcome& o = lines.back().outcome;
    std::fprintf(stderr,
                 "road_bench:   %.1f s; %d of %d hosts ready; %ld orders sent, %ld acknowledged, %ld frames "
                 "sent again, %zu answered; hosts took %ld (warm-up included), %ld answers acknowledged\n",
                 bench::since(run_started) / 1e6, o.hosts_ready, run.hosts, o.orders, o.acknowledged, o.resent,
                 o.answer_us.size(), o.host_orders, o.host_acked);
  }
  double seconds = bench::since(started) / 1e6;
  fs::remove_all(base, ignored);
  platform::stop_sockets();

  std::printf("The terminal road: DA sent -> host (QORLink_WaitData, QORLink_SendData) -> AN received\n");
  std::printf("%9s %9s %5s %6s %7s %6s %9s %9s %9s %9s %10s %9s %10s\n", "terminals", "transport", "hosts", "orders",
              "answers", "resent", "p50 ms", "p99 ms", "floor ms", "p50/floor", "orders/s", "ceiling/s", "X/ceiling");
  for (const Line& line : lines) {
    const Outcome& o = line.outcome;
    bench::Figures f = bench::figures(o.answer_us);
    double floor = floor_ms(line.run), ceiling = ceiling_per_s(line.run);
    double p50 = f.p50 / 1000.0, p99 = f.p99 / 1000.0;
    double rate = o.seconds > 0 ? static_cast<double>(o.answer_us.size()) / o.seconds : 0.0;
    std::printf("%9d %9s %5d %6ld %7zu %6ld %9.1f %9.1f %9.1f %9.2f %10.1f %9.1f %10.2f\n", line.run.terminals,
                transport_name(line.run.transport), line.run.hosts, o.orders, o.answer_us.size(), o.resent, p50, p99,
                floor, o.answer_us.empty() ? 0.0 : p50 / floor, rate, ceiling, rate / ceiling);
  }
  std::printf(
      "\nEach terminal keeps one order outstanding (the next DA goes once the AN of the last is in); the 256\n"
      "terminals send one order each, all at once. The terminals are split into one block per host, each host a "
      "process\n"
      "of its own with its own persistent data pipe; one host answers at most 50 orders per second, so the runs\n"
      "with many terminals use 4 hosts to leave the link server the bottleneck. Throughput: answers received over\n"
      "the time from starting the terminals until the last one ended.\n"
      "Floors and ceilings, from the waits on the road (the link server polls on one thread: Pipe_WaitData\n"
      "sleeps 5 ms before it looks at the request queue and 5 ms more when it is empty, takes one request per\n"
      "call, then the terminal packets are read, then Pipe_Idle(1); Pipe_WriteData sleeps 5 ms after queueing):\n"
      "  one order, floor 11 ms: handed over at once, the host's first look (QORLink_WaitData looks 10 ms after\n"
      "      its ENQ), then the link server's first look at its request queue after the hand-over, 5 + 1 + 5 =\n"
      "      11 ms. Its looks come 11 ms apart while the queue is empty and the host's look lands 10-20 ms after\n"
      "      the hand-over, so the answer usually goes at the second look (22 ms). And the next DA, sent as the\n"
      "      AN comes in, just misses the turn's read of the terminal packets (the AN goes out from within\n"
      "      Pipe_WaitData, right before it): it waits a whole turn, 11 ms. So 33 ms, 3 x the floor, is what the\n"
      "      waits give one terminal in this loop.\n"
      "  link server ceiling 90.9 orders/s: each order costs its one thread 5 ms in Pipe_WriteData and a turn of\n"
      "      at least 5 + 1 ms whose Pipe_WaitData takes the answer (deliveries alone would allow 200/s).\n"
      "  host ceiling 50 orders/s per host: at least 10 ms in QORLink_WaitData and 10 ms in QORLink_SendData,\n"
      "      whose verdict PipeHost's answer thread writes after its own 10 ms look.\n"
      "  K terminals: with one order outstanding each and at most 90.9 answered per second, K x 11 ms in the\n"
      "      steady state; with one order each sent at once, the median order waits for K/2 others: K/2 x 11 ms.\n"
      "  TCP: the same waits. QorTcp leaves Nagle's algorithm on for the terminal connection: the AN, sent while\n"
      "      the AK before it waits for the terminal's delayed ACK, is held until that ACK (about 20 ms more on\n"
      "      Linux; with TCP_NODELAY on the accepted socket the figures are UDP's).\n"
      "resent: frames sent again for want of an AK (within 2 s for one order, 5 s otherwise). 256 terminals\n"
      "starting at once send 256 keep-alives and then 256 DAs, more than the link server's UDP receive buffer\n"
      "holds while its one thread sleeps 5 ms per delivery: some are lost and sent again.\n"
      "Whole run: %.1f s.\n",
      seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--host") {
    HostArgs a;
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
      const std::string& key = args[i];
      const std::string& value = args[i + 1];
      if (key == "--host")
        a.host = std::atoi(value.c_str());
      else if (key == "--instance")
        a.instance = value;
      else if (key == "--folder")
        a.folder = value;
    }
    return run_host(a);
  }
  return run_all(args);
}

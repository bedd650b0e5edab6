// QorLink as hosts use it, against the stand-in link server (which loads
// PipeHost and acknowledges every request): the figures set against the floor
// that the system's own waits put under each of them.
//
// 1. QORLink_SendData round trip: from the call to its return, waiting for
//    the link server's verdict (ACK).
// 2. QORLink_WaitData delivery: from handing terminal data to PipeHost's
//    window (a 1092-byte data block, queued like terminal data) to the
//    host's QORLink_WaitData returning it. The data carries the time of its
//    hand-over on the steady clock, which every process of the machine shares.
//
// Both over the pipe and the window transport, for 1 host and for 100 hosts
// at once. QorLink keeps one connection object per process, so every host is
// a process of its own: this program started again as
//
//   qorlink_bench --host K --instance I --transport pipe|window
//                 --op send|wait --rounds N --folder F
//
// which loads QorLink by name, uses the data pipe H<KKK> (packet type
// T<KKK>), and writes its samples to F. The hosts of a run start together
// once all of them are ready (files in F). Every run gets a fresh link server.
//
//   qorlink_bench [send|wait] [pipe|window] [1|100]
//
// runs only the runs that match every word given (all without words).
//
// No assertions; the whole run takes about 70 s on a 2-core machine.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/host_fleet.h"
#include "bench/latency.h"
#include "link/blocks.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/window.h"
#include "qor/qorlink.h"

using namespace qor;
using bench::Clock;
using bench::host_pipe;
using bench::host_type;
using bench::three_digits;
using bench::touch;
using bench::within;

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- shared --

// The steady clock in nanoseconds: the same clock in every process.
long long steady_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// ------------------------------------------------------------------ host --

struct HostArgs {
  int host = 0;
  int rounds = 0;
  std::string instance, transport, op;
  fs::path folder;
};

struct QorLink {
  decltype(&QORLink_SendData) send_data = nullptr;
  decltype(&QORLink_WaitData) wait_data = nullptr;
  decltype(&QORLink_OpenPipe) open_pipe = nullptr;

  bool load() {
    platform::ModuleHandle module = platform::load_module("qorlink.dll");
    if (!module) return false;
    send_data = reinterpret_cast<decltype(send_data)>(platform::find_symbol(module, "QORLink_SendData"));
    wait_data = reinterpret_cast<decltype(wait_data)>(platform::find_symbol(module, "QORLink_WaitData"));
    open_pipe = reinterpret_cast<decltype(open_pipe)>(platform::find_symbol(module, "QORLink_OpenPipe"));
    return send_data && wait_data && open_pipe;
  }
};

// QorLink picks its transport on this machine from the environment when it
// makes a connection object, the first one at load.
void choose_transport(const std::string& transport) {
#ifdef _WIN32
  std::string setting = "QORLINK_TRANSPORT=" + transport;
  _putenv(setting.c_str());
#else
  setenv("QORLINK_TRANSPORT", transport.c_str(), 1);
#endif
}

constexpr std::int32_t verdict_wait_ms = 5000;

// SendData rounds: "<microseconds> <1 acknowledged | 0 not>" per line.
int host_send(const HostArgs& a, QorLink& q) {
  const char* i = a.instance.c_str();
  std::string type = host_pipe(a.host);
  // The first call replaces the connection object made at load (a second)
  // and opens the answer pipe, which listens a moment after the window shows.
  bool reached = within(20000, [&] { return q.send_data(".", i, a.host, verdict_wait_ms, type.c_str(), "warm", 4) == 4; });
  if (!reached || !touch(a.folder / ("ready_" + three_digits(a.host)))) return 1;
  if (!within(60000, [&] { return fs::exists(a.folder / "go"); })) return 1;

  std::vector<std::string> lines;
  for (int round = 0; round < a.rounds; ++round) {
    std::string data = "ping;" + std::to_string(round);
    auto start = Clock::now();
    std::int32_t r = q.send_data(".", i, a.host, verdict_wait_ms, type.c_str(), data.c_str(),
                                 static_cast<std::int32_t>(data.size()));
    double us = bench::since(start);
    lines.push_back(std::to_string(us) + (r == static_cast<std::int32_t>(data.size()) ? " 1" : " 0"));
  }
  std::ofstream out(a.folder / ("result_" + three_digits(a.host) + ".txt"));
  for (const std::string& line : lines) out << line << '\n';
  return 0;
}

// WaitData until every round's message came or the parent says stop: one
// "<microseconds since the hand-over> 1" line per message.
int host_wait(const HostArgs& a, QorLink& q) {
  const char* i = a.instance.c_str();
  std::string pipe = host_pipe(a.host);
  bool opened = false;
  for (int attempt = 0; attempt < 3 && !opened; ++attempt) opened = q.open_pipe(".", i, pipe.c_str()) == 1;
  if (!opened || !touch(a.folder / ("ready_" + three_digits(a.host)))) return 1;

  std::vector<std::string> lines;
  std::uint32_t start = platform::tick_ms();
  while (static_cast<int>(lines.size()) < a.rounds && platform::tick_ms() - start < 120000 &&
         !fs::exists(a.folder / "stop")) {
    std::int32_t terminal = 0;
    char type[64];
    std::snprintf(type, sizeof type, "%s", pipe.c_str());  // the call overwrites it with the message's type
    char buffer[1024];
    std::int32_t r = q.wait_data(".", i, &terminal, 1000, type, buffer, sizeof buffer - 1);
    if (r > 0) {
      long long sent = std::atoll(buffer);
      lines.push_back(std::to_string(static_cast<double>(steady_ns() - sent) / 1000.0) + " 1");
    } else if (r == 0) {
      platform::sleep_ms(10);  // not reachable: the link server is going away
    }
  }
  std::ofstream out(a.folder / ("result_" + three_digits(a.host) + ".txt"));
  for (const std::string& line : lines) out << line << '\n';
  return 0;
}

int run_host(const HostArgs& a) {
  choose_transport(a.transport);
  QorLink q;
  if (!q.load()) {
    std::fprintf(stderr, "qorlink_bench host %d: qorlink.dll could not be loaded\n", a.host);
    return 1;
  }
  return a.op == "send" ? host_send(a, q) : host_wait(a, q);
}

// ---------------------------------------------------------------- parent --

enum class Op { send, wait };

struct Run {
  Op op;
  const char* transport;
  int hosts;
  int rounds;
};

struct Outcome {
  std::vector<double> us;  // samples of successful operations
  int failed = 0;          // refused, unanswered or lost
  int refused = 0;         // data blocks that no data pipe took
  int hosts_ready = 0;
};

// Floors in milliseconds, from the waits of the client, PipeHost and the
// link server's poll loop (explained under the table).
double floor_ms(const Run& run) {
  bool pipe = std::strcmp(run.transport, "pipe") == 0;
  if (run.op == Op::send) return run.hosts > 1 ? 6.0 * run.hosts : 10.0;
  return pipe ? 10.0 : 15.0;
}

// The stand-in link server for one instance with the data pipes H000.. of
// `hosts` hosts, in a folder of its own.
class LinkServer {
 public:
  LinkServer(const fs::path& folder, const std::string& instance, int hosts)
      : server_(folder, instance, hosts, {}, [] { return std::string("--policy ack"); }) {}

  bool up() const { return server_.up(); }

  // Terminal data for host k's pipe, as a local program hands it over; true
  // when a data pipe took it.
  bool terminal_data(int host, const std::string& data) {
    link::DataBytes bytes;
    if (!link::encode_data_block({host, host_type(host), data}, bytes)) return false;
    auto taken = platform::send_data(server_.window(), platform::msg_copydata, 0, 0, bytes.data(),
                                     static_cast<std::uint32_t>(bytes.size()));
    return taken && *taken != 0;
  }

 private:
  bench::StandInServer server_;
};

void read_samples(const fs::path& file, Outcome& outcome) {
  std::ifstream in(file);
  double us = 0;
  int ok = 0;
  while (in >> us >> ok) {
    if (ok)
      outcome.us.push_back(us);
    else
      ++outcome.failed;
  }
}

Outcome run_once(const Run& run, const fs::path& folder, const std::string& instance) {
  Outcome outcome;
  LinkServer server(folder / "server", instance, run.hosts);
  if (!server.up()) {
    std::fprintf(stderr, "qorlink_bench: the stand-in link server for %s did not come up\n", instance.c_str());
    outcome.failed = run.hosts * run.rounds;
    return outcome;
  }

  std::vector<platform::Process> hosts;
  std::string self = platform::quote_argument(platform::executable_path());
  for (int k = 0; k < run.hosts; ++k) {
    std::string command = self + " --host " + std::to_string(k) + " --instance " + instance + " --transport " +
                          run.transport + " --op " + (run.op == Op::send ? "send" : "wait") + " --rounds " +
                          std::to_string(run.rounds) + " --folder " + platform::quote_argument(folder.string());
    hosts.push_back(platform::start_process(command, folder.string()));
  }
  auto ready_count = [&] {
    int n = 0;
    for (int k = 0; k < run.hosts; ++k) n += fs::exists(folder / ("ready_" + three_digits(k))) ? 1 : 0;
    return n;
  };
  auto all_ended = [&] {
    for (auto& h : hosts)
      if (h.started() && h.running()) return false;
    return true;
  };
  // Every host ready, or no more coming (a host that gives up ends).
  within(60000, [&] {
    if (ready_count() == run.hosts) return true;
    for (int k = 0; k < run.hosts; ++k)
      if (!fs::exists(folder / ("ready_" + three_digits(k))) && hosts[static_cast<std::size_t>(k)].running())
        return false;
    return true;
  });
  outcome.hosts_ready = ready_count();

  if (run.op == Op::send) {
    touch(folder / "go");
    within(120000, all_ended);
  } else {
    // Messages for one host are at least this far apart, so that each finds
    // its host waiting rather than the one before still queued.
    const std::uint32_t spacing_ms = 60;
    for (int round = 0; round < run.rounds; ++round) {
      std::uint32_t round_start = platform::tick_ms();
      for (int k = 0; k < run.hosts; ++k)
        if (!server.terminal_data(k, std::to_string(steady_ns()))) ++outcome.refused;
      std::uint32_t spent = platform::tick_ms() - round_start;
      if (spent < spacing_ms) platform::sleep_ms(spacing_ms - spent);
    }
    within(3000, all_ended);  // the last messages are on their way
    touch(folder / "stop");
    within(10000, all_ended);
  }
  for (auto& h : hosts)
    if (h.started() && !h.wait(5000)) h.kill();

  for (int k = 0; k < run.hosts; ++k) read_samples(folder / ("result_" + three_digits(k) + ".txt"), outcome);
  int expected = run.hosts * run.rounds;
  int accounted = static_cast<int>(outcome.us.size()) + outcome.failed;
  if (accounted < expected) outcome.failed += expected - accounted;  // hosts that never got going, lost messages
  return outcome;
}

// `filter`: words that pick runs ("send", "wait", "pipe", "window", "1",
// "100"); every run when empty.
bool picked(const Run& run, const std::vector<std::string>& filter) {
  for (const std::string& word : filter) {
    if ((word == "send" || word == "wait") && word != (run.op == Op::send ? "send" : "wait")) return false;
    if ((word == "pipe" || word == "window") && word != run.transport) return false;
    if (!word.empty() && std::isdigit(static_cast<unsigned char>(word[0])) && std::atoi(word.c_str()) != run.hosts)
      return false;
  }
  return true;
}

int run_all(const std::vector<std::string>& filter) {
  fs::path base = fs::temp_directory_path() / ("qorlink_bench_" + std::to_string(platform::current_process_id()));
  std::error_code ignored;
  fs::remove_all(base, ignored);
  fs::create_directories(base);

  const Run runs[] = {
      {Op::send, "pipe", 1, 50},   {Op::send, "window", 1, 50},   {Op::send, "pipe", 100, 10},
      {Op::send, "window", 100, 10}, {Op::wait, "pipe", 1, 50},   {Op::wait, "window", 1, 50},
      {Op::wait, "pipe", 100, 6},  {Op::wait, "window", 100, 6},
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
    std::string instance = "QB" + std::to_string(platform::current_process_id()) + "R" + std::to_string(index);
    fs::path folder = base / ("run" + std::to_string(index++));
    fs::create_directories(folder);
    std::fprintf(stderr, "qorlink_bench: %s over %s, %d host(s)...\n", run.op == Op::send ? "SendData" : "WaitData",
                 run.transport, run.hosts);
    auto run_started = Clock::now();
    lines.push_back({run, run_once(run, folder, instance)});
    std::fprintf(stderr, "qorlink_bench:   %.1f s, %d of %d hosts ready, %d data blocks refused\n",
                 bench::since(run_started) / 1e6, lines.back().outcome.hosts_ready, run.hosts,
                 lines.back().outcome.refused);
  }
  double seconds = bench::since(started) / 1e6;
  fs::remove_all(base, ignored);

  std::printf("QorLink against the stand-in link server (policy ack), milliseconds\n");
  std::printf("%-22s %-9s %5s %7s %6s %9s %9s %8s %9s %9s\n", "operation", "transport", "hosts", "samples", "failed",
              "p50", "p99", "floor", "p50/floor", "p99/floor");
  for (const Line& line : lines) {
    bench::Figures f = bench::figures(line.outcome.us);
    double floor = floor_ms(line.run);
    double p50 = f.p50 / 1000.0, p99 = f.p99 / 1000.0;
    std::printf("%-22s %-9s %5d %7zu %6d %9.2f %9.2f %8.1f %9.2f %9.2f\n",
                line.run.op == Op::send ? "SendData round trip" : "WaitData delivery", line.run.transport,
                line.run.hosts, line.outcome.us.size(), line.outcome.failed, p50, p99, floor,
                line.outcome.us.empty() ? 0.0 : p50 / floor, line.outcome.us.empty() ? 0.0 : p99 / floor);
  }
  std::printf(
      "\nFloors, from the waits of QorLink, PipeHost and the stand-in's poll loop (Pipe_WaitData sleeps 5 ms\n"
      "before it looks at the request queue and 5 ms more when it is empty, then Pipe_Idle(1)):\n"
      "  SendData, pipe, 1 host:    10 ms. QorLink sleeps 10 ms after writing before its first look at the answer\n"
      "                             pipe; PipeHost's answer thread looks at the verdict 10 ms after it queued\n"
      "                             the request. The two sleeps start together, so the first look finds the\n"
      "                             reply about every other time; otherwise the next one, 10 ms later.\n"
      "  SendData, window, 1 host:  10 ms. QorLink sleeps 10 ms after the hand-over before it looks at the reply\n"
      "                             record; the verdict is posted 5 to 6 ms after PipeHost took the block.\n"
      "  SendData, 100 hosts:      600 ms = 100 x 6 ms. Each host has one request outstanding; the link server\n"
      "                             takes one request per poll (Pipe_WaitData's 5 ms sleep, Pipe_Idle's 1 ms),\n"
      "                             so a host's next request waits behind the other 99.\n"
      "  WaitData, pipe:            10 ms. The message goes out on the first ENQ after it was queued; QorLink\n"
      "                             looks for the answer 10 ms after writing that ENQ (ENQs are 10 ms apart,\n"
      "                             so 10 to 20 ms after the message was queued).\n"
      "  WaitData, window:          15 ms. The data block is handled on the link server's thread, which sleeps\n"
      "                             5 ms after queueing it (Pipe_WriteData) before it serves the host's next\n"
      "                             read request; QorLink then looks at the reply record after its 10 ms sleep.\n"
      "Window hand-overs (QorLink's blocks, the data blocks) wait until the link server's thread serves its\n"
      "windows: at the start of Pipe_WaitData, in Pipe_Idle and in its pump, 1 to 10 ms apart. The floors count\n"
      "that wait as 0; calls made back to back tend to meet the same point of the link server's loop each time.\n"
      "Delivery is timed from the data block's hand-over to PipeHost's window to QORLink_WaitData returning it.\n"
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
      if (key == "--host") a.host = std::atoi(value.c_str());
      else if (key == "--instance") a.instance = value;
      else if (key == "--transport") a.transport = value;
      else if (key == "--op") a.op = value;
      else if (key == "--rounds") a.rounds = std::atoi(value.c_str());
      else if (key == "--folder") a.folder = value;
    }
    return run_host(a);
  }
  return run_all(args);
}

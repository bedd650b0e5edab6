// PipeHost as a link server drives it, against the pace that PipeHost's and
// its hosts' own waits allow.
//
// 1. Terminal data: this thread calls Pipe_WriteData for 1, 10 and 100 hosts,
//    each reading its own persistent data pipe as a host does (look; when
//    nothing waits, write ENQ and look again after 10 ms; read, then ACK).
//    Messages per second from the first write to the last receipt, against
//    the ceiling of the waits: Pipe_WriteData sleeps 5 ms after each queued
//    message (at most 200 messages/s in all), and a host takes at most one
//    message per ENQ, which it writes at most every 10 ms (at most 100/s per
//    host): ceiling = min(200, 100 x hosts).
// 2. A request's time from the host's write to the reply, with this thread
//    polling as the stand-in link server does (Pipe_WaitData, a verdict at
//    once, Pipe_Idle(1)). Floor: 10 ms. The answer thread looks at the
//    verdict first 10 ms after it queued the request, and the verdict cannot
//    be there sooner (Pipe_WaitData sleeps 5 ms before it takes a request);
//    it then looks every 10 ms, so with this poll loop (5 to 16 ms until the
//    verdict) replies come after 10 or 20 ms. A request without SYN, which
//    is acknowledged at once, is measured beside it.
//
// No assertions; the whole run takes about 20 s.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/latency.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "tests/support/raw_host.h"

using namespace qor;
using bench::Clock;

namespace {

// A folder of its own as the current folder: PipeHost reads .\<instance>.ini.
struct WorkFolder {
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::path path = std::filesystem::temp_directory_path() /
                               ("pipehost_bench_" + std::to_string(platform::current_process_id()));
  WorkFolder() {
    std::filesystem::create_directories(path);
    std::filesystem::current_path(path);
  }
  ~WorkFolder() {
    std::filesystem::current_path(previous);
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

std::string instance_name(const char* what) {
  return std::string("QBENCH") + what + std::to_string(platform::current_process_id());
}

std::string three_digits(int i) {
  char code[16];
  std::snprintf(code, sizeof code, "%03d", i);
  return code;
}

// A host reading its data pipe until it has `expected` messages or the pipe
// breaks; the time of its last receipt.
void read_as_host(const std::string& pipe_name, int expected, std::atomic<int>& received, Clock::time_point& last) {
  auto client = test::open_pipe(pipe_name, 10000);
  if (!client) return;
  std::vector<char> buffer(link::message_buffer_size);
  for (int mine = 0; mine < expected;) {
    auto waiting = client->peek();
    if (!waiting) return;
    if (waiting->total > 0) {
      if (!client->read(buffer.data(), buffer.size())) return;
      if (!test::send(*client, test::ACK)) return;
      ++mine;
      last = Clock::now();
      ++received;
      continue;
    }
    if (!test::send(*client, test::ENQ)) return;
    platform::sleep_ms(10);
  }
}

struct Throughput {
  int hosts = 0, messages = 0, delivered = 0;
  double seconds = 0;
};

Throughput terminal_data(test::PipeHostModule& pipe, int hosts, int per_host) {
  std::string instance = instance_name(("D" + std::to_string(hosts)).c_str());
  std::string ini = ".\\" + instance + ".ini";
  for (int i = 0; i < hosts; ++i) {
    std::string n = three_digits(i);
    platform::write_profile_string(ini, "DISPATCHER", "Dispatch_" + n, "pipe|H" + n + "|T" + n + "|000|Y");
  }
  Throughput result;
  result.hosts = hosts;
  result.messages = hosts * per_host;
  if (pipe.init(instance.c_str()) != 1) return result;

  std::atomic<int> received{0};
  std::vector<Clock::time_point> last(static_cast<std::size_t>(hosts));
  std::vector<std::thread> readers;
  for (int i = 0; i < hosts; ++i)
    readers.emplace_back(read_as_host, instance + "_H" + three_digits(i), per_host, std::ref(received),
                         std::ref(last[static_cast<std::size_t>(i)]));
  platform::sleep_ms(200);  // the hosts connect and start polling

  auto start = Clock::now();
  for (int m = 0; m < result.messages; ++m) {
    std::string type = "T" + three_digits(m % hosts);
    std::string data = "reading;" + std::to_string(m);
    pipe.write_data(m % 256, 0, type.c_str(), data.c_str(), static_cast<std::int32_t>(data.size()));
  }
  test::eventually([&] { return received.load() == result.messages; }, 30000);
  result.delivered = received.load();
  Clock::time_point end = start;
  for (const auto& t : last) end = std::max(end, t);
  result.seconds = std::chrono::duration<double>(end - start).count();
  pipe.tini();  // breaks the pipes of hosts still waiting
  for (auto& reader : readers) reader.join();
  return result;
}

// Times `rounds` requests on one connection to the answer pipe, this thread
// polling the plug-in as the stand-in link server does.
std::vector<double> request_times(test::PipeHostModule& pipe, const std::string& instance, const std::string& request,
                                  int rounds) {
  std::vector<double> us;
  std::atomic<bool> done{false};
  std::thread host([&] {
    auto client = test::open_pipe(instance, 10000);
    char reply[16];
    for (int i = 0; client && i < rounds; ++i) {
      auto start = Clock::now();
      if (!test::send(*client, request) || !client->read(reply, sizeof reply)) break;
      us.push_back(bench::since(start));
    }
    done = true;
  });
  while (!done) {
    pipe.poll();
    pipe.idle(1);
  }
  host.join();
  // Requests acknowledged at once outrun the link server: take the rest, so
  // that the next run does not queue behind them.
  while (pipe.poll() > 0) {
  }
  return us;
}

}  // namespace

int main() {
  WorkFolder folder;
  test::PipeHostModule pipe;
  if (!pipe.load()) {
    std::fprintf(stderr, "pipehost_bench: PipeHost.dll could not be loaded\n");
    return 1;
  }

  std::printf("Terminal data through Pipe_WriteData to hosts polling their data pipes\n");
  std::printf("%6s %9s %9s %8s %10s %12s %8s\n", "hosts", "messages", "delivered", "seconds", "msg/s", "ceiling/s",
              "ratio");
  struct Run {
    int hosts, per_host;
  } runs[] = {{1, 300}, {10, 60}, {100, 6}};
  for (const Run& run : runs) {
    Throughput t = terminal_data(pipe, run.hosts, run.per_host);
    double rate = t.seconds > 0 ? t.delivered / t.seconds : 0;
    double ceiling = std::min(200.0, 100.0 * t.hosts);
    std::printf("%6d %9d %9d %8.2f %10.1f %12.1f %8.2f\n", t.hosts, t.messages, t.delivered, t.seconds, rate, ceiling,
                rate / ceiling);
  }
  std::printf("ceiling = min(1000 ms / 5 ms after each queued message, hosts x 1000 ms / 10 ms ENQ poll)\n\n");

  std::string instance = instance_name("L");
  if (pipe.init(instance.c_str()) != 1) return 1;
  const int rounds = 100;
  std::vector<double> plain = request_times(pipe, instance, "5|X|ping", rounds);
  std::vector<double> syn = request_times(pipe, instance, "\x16" "5|X|ping", rounds);
  pipe.tini();

  const double floor_us = 10000;
  bench::Figures floor{floor_us, floor_us, floor_us};
  std::printf("Requests on the answer pipe, from the host's write to the reply (us)\n");
  std::printf("%-34s %8s %10s %10s %10s %9s\n", "", "samples", "p50", "p99", "mean", "/floor");
  bench::row("without SYN: ACK at once", plain, floor);
  bench::row("SYN: the link server's verdict", syn, floor);
  std::printf("floor = 10 ms: the answer thread's first look at the verdict, 10 ms after it queued the request\n");
  pipe.unload();
  return 0;
}

// Round trip of a synchronous copy-data send (a 1088-byte request block)
// to a window whose owner thread pumps, against a baseline measured in the
// same run: the same block copied to another thread and an answer copied
// back, handed over with two events.
//
//   copydata_bench [ROUNDS]        the table
//   copydata_bench serve TITLE     (internal) the window of another process
#include "bench/latency.h"
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/thread_queue.h"
#include "platform/window.h"

using namespace qor::platform;
using qor::bench::Clock;
using qor::bench::figures;
using qor::bench::Figures;
using qor::bench::row;
using qor::bench::since;

namespace {

constexpr std::uint32_t block_size = 1088;

HandlerResult answer(WindowHandle, const WindowMessage& m) {
  if (m.id != msg_copydata || !m.has_data) return std::nullopt;
  return m.size > 0 ? static_cast<const unsigned char*>(m.data)[m.size - 1] + 1u : 1u;
}

void pump_until_quit() {
  Message m;
  while (get_message(m)) dispatch_message(m);
}

std::vector<double> send_rounds(WindowHandle window, int rounds) {
  std::vector<unsigned char> block(block_size, 0x5A);
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
    auto start = Clock::now();
    if (!send_data(window, msg_copydata, 1, 0, block.data(), block_size)) break;
    us.push_back(since(start));
  }
  return us;
}

std::vector<double> event_rounds(int rounds) {
  Event ask, told;
  std::vector<unsigned char> block(block_size, 0x5A), seen(block_size);
  std::uint32_t result = 0;
  std::thread peer([&] {
    for (int i = 0; i < rounds; ++i) {
      ask.wait(wait_forever);
      std::memcpy(seen.data(), block.data(), block_size);
      result = seen.back() + 1u;
      told.set();
    }
  });
  std::vector<double> us;
  for (int i = 0; i < rounds; ++i) {
    auto start = Clock::now();
    ask.set();
    told.wait(wait_forever);
    us.push_back(since(start));
  }
  peer.join();
  return us;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "serve") {
    if (create_window(argv[2], answer) == no_window) return 1;
    pump_until_quit();
    return 0;
  }
  int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;

  std::vector<double> base_us = event_rounds(rounds);
  Figures base = figures(base_us);

  WindowHandle own = create_window("copydata_bench own " + std::to_string(current_process_id()), answer);
  std::vector<double> direct_us = send_rounds(own, rounds);
  destroy_window(own);

  WindowHandle local = no_window;
  ThreadId local_thread = 0;
  Event ready;
  std::thread owner([&] {
    local = create_window("copydata_bench local " + std::to_string(current_process_id()), answer);
    local_thread = current_thread_id();
    ready.set();
    pump_until_quit();
  });
  ready.wait(wait_forever);
  std::vector<double> local_us = send_rounds(local, rounds);
  post_thread_message(local_thread, msg_quit, 0, 0);
  owner.join();

  std::vector<double> remote_us;
  std::string title = "copydata_bench remote " + std::to_string(current_process_id());
  Process child = start_process(quote_argument(executable_path()) + " serve " + quote_argument(title), "");
  if (child) {
    WindowHandle remote = no_window;
    for (int i = 0; i < 500 && (remote = find_window(title)) == no_window; ++i) sleep_ms(10);
    if (remote != no_window) {
      remote_us = send_rounds(remote, rounds);
      post_message(remote, msg_quit, 0, 0);
    }
    child.wait(10000);
  }

  std::printf("copy-data round trip of a %u-byte block, microseconds\n", block_size);
  std::printf("%-34s %8s %10s %10s %10s %9s\n", "path", "rounds", "p50", "p99", "mean", "p50/base");
  row("baseline: copy + event handoff", base_us, base);
  row("send, window of this thread", direct_us, base);
  row("send, window of another thread", local_us, base);
  row("send, window of another process", remote_us, base);
  return 0;
}

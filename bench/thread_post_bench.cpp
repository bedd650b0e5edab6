// Post-to-receive latency of thread messages: a message posted to an echo
// thread, which posts it back; half the round trip is the one-way figure.
// Baseline: the same round trip handed over with two events (a condition
// variable on native, a kernel event on win32), measured in the same run.
//
//   thread_post_bench [ROUNDS]     the table
//   thread_post_bench echo TID     (internal) the echo of another process
#include "bench/latency.h"
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/thread_queue.h"

using namespace qor::platform;
using qor::bench::Clock;
using qor::bench::figures;
using qor::bench::Figures;
using qor::bench::row;
using qor::bench::since;

namespace {

constexpr std::uint32_t msg_ping = msg_app + 1;
constexpr std::uint32_t msg_pong = msg_app + 2;
constexpr std::uint32_t msg_hello = msg_app + 3;

// Echoes pings to `back` until the quit message.
void echo(ThreadId back) {
  Message m;
  while (get_message(m))
    if (m.id == msg_ping) post_thread_message(back, msg_pong, m.wparam, 0);
}

// Half round trips, in microseconds, against an echo thread `peer`.
std::vector<double> post_rounds(ThreadId peer, int rounds) {
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
    auto start = Clock::now();
    if (!post_thread_message(peer, msg_ping, static_cast<std::uint32_t>(i), 0)) break;
    Message m;
    while (get_message(m) && m.id != msg_pong) {
    }
    us.push_back(since(start) / 2);
  }
  return us;
}

std::vector<double> event_rounds(int rounds) {
  Event ping, pong;
  std::thread peer([&] {
    for (int i = 0; i < rounds; ++i) {
      ping.wait(wait_forever);
      pong.set();
    }
  });
  std::vector<double> us;
  for (int i = 0; i < rounds; ++i) {
    auto start = Clock::now();
    ping.set();
    pong.wait(wait_forever);
    us.push_back(since(start) / 2);
  }
  peer.join();
  return us;
}

}  // namespace

int main(int argc, char** argv) {
  create_thread_queue();
  if (argc > 2 && std::string(argv[1]) == "echo") {
    ThreadId back = static_cast<ThreadId>(std::strtoul(argv[2], nullptr, 10));
    post_thread_message(back, msg_hello, current_thread_id(), 0);
    echo(back);
    return 0;
  }
  int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
  ThreadId me = current_thread_id();

  std::vector<double> base_us = event_rounds(rounds);
  Figures base = figures(base_us);

  ThreadId local_peer = 0;
  Event ready;
  std::thread local([&] {
    create_thread_queue();
    local_peer = current_thread_id();
    ready.set();
    echo(me);
  });
  ready.wait(wait_forever);
  std::vector<double> local_us = post_rounds(local_peer, rounds);
  post_thread_message(local_peer, msg_quit, 0, 0);
  local.join();

  std::vector<double> remote_us;
  Process child = start_process(quote_argument(executable_path()) + " echo " + std::to_string(me), "");
  if (child) {
    Message m;
    ThreadId remote_peer = 0;
    while (!remote_peer && get_message(m))
      if (m.id == msg_hello) remote_peer = m.wparam;
    remote_us = post_rounds(remote_peer, rounds);
    post_thread_message(remote_peer, msg_quit, 0, 0);
    child.wait(10000);
  }

  std::printf("thread message post-to-receive latency, microseconds (half a round trip)\n");
  std::printf("%-34s %8s %10s %10s %10s %9s\n", "path", "rounds", "p50", "p99", "mean", "p50/base");
  row("baseline: event handoff", base_us, base);
  row("post, thread of this process", local_us, base);
  row("post, thread of another process", remote_us, base);
  return 0;
}

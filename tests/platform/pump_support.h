#pragma once
// Pumping the test thread's queue while something else happens.
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/thread_queue.h"
#include "platform/window.h"
#include "tests/support/test_support.h"

namespace pump {

using qor::platform::Message;

// Takes and dispatches every waiting message, handing each to `seen`.
inline void drain(const std::function<void(const Message&)>& seen = {}) {
  Message m;
  while (qor::platform::peek_message(m, true)) {
    qor::platform::dispatch_message(m);
    if (seen) seen(m);
  }
}

// Pumps until `done` holds or `limit_ms` passes (a sanity bound); true when
// `done` held.
inline bool until(const std::function<bool()>& done, std::uint32_t limit_ms = 20000,
                  const std::function<void(const Message&)>& seen = {}) {
  std::uint32_t start = qor::platform::tick_ms();
  while (!done()) {
    if (qor::platform::tick_ms() - start > limit_ms) return false;
    qor::platform::wait_message(10);
    drain(seen);
  }
  return true;
}

// Pumps for `ms` milliseconds.
inline void for_ms(std::uint32_t ms, const std::function<void(const Message&)>& seen = {}) {
  std::uint32_t start = qor::platform::tick_ms();
  until([&] { return qor::platform::tick_ms() - start >= ms; }, ms + 1000, seen);
}

// Starts msg_peer with `args`.
inline qor::platform::Process start_peer(const std::string& args) {
  using qor::platform::quote_argument;
  return qor::platform::start_process(quote_argument(qor::test::helper_program("msg_peer")) + " " + args, "");
}

// Runs msg_peer with `args` while pumping; its exit code, or -1 when it did
// not start or end.
inline int run_peer(const std::string& args, const std::function<void(const Message&)>& seen = {}) {
  qor::platform::Process peer = start_peer(args);
  if (!peer) return -1;
  std::uint32_t code = 0;
  bool ended = until([&] { return peer.wait(0, &code); }, 60000, seen);
  if (!ended) {
    peer.kill();
    peer.wait(5000);
    return -1;
  }
  drain(seen);
  return static_cast<int>(code);
}

}  // namespace pump

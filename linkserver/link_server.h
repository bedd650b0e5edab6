#pragma once
// The stand-in link server's work loop: on one thread it pumps window
// messages, hands host requests from PipeHost their verdicts, takes terminal
// frames from the transport drivers and passes their data to PipeHost, and
// sends host data back to the terminals.
#include <cstdint>
#include <string>
#include <vector>

#include "linkserver/options.h"
#include "linkserver/pipehost_binding.h"
#include "linkserver/terminal_frame.h"
#include "linkserver/terminal_table.h"
#include "linkserver/transport_driver.h"

namespace qor::linkserver {

class LinkServer {
 public:
  // `udp` and `tcp` are started drivers, or null.
  LinkServer(const Options& options, const PipeHostExports& pipe, int host_id, TransportDriver* udp,
             TransportDriver* tcp);

  // Serves until stop(), the quit message, or a host's "QX".
  void run();
  void stop() { stopping_ = true; }
  // Requests held back by the policy "none" get their one verdict (NAK)
  // before the plug-in stops.
  void settle_unanswered();

  const TerminalTable& terminals() const { return terminals_; }

 private:
  enum class Verdict { ack, nak, reject, busy, timeout, none };

  void pump();
  void poll_hosts();
  void poll_terminals();
  void on_packet(Link link, const std::string& address, const char* bytes, std::size_t size);
  void on_frame(Link link, const std::string& address, const TerminalFrame& frame);
  void answer(void* handle, std::int32_t terminal, const std::string& text);
  Verdict send_to_terminal(int terminal, const std::string& text);
  bool send_frame(const Terminal& to, const TerminalFrame& frame);
  void reply(Link link, const TerminalFrame& frame);
  void give(void* handle, Verdict verdict);
  Verdict from_policy() const;
  void trace(const char* format, ...);

  const Options& options_;
  const PipeHostExports& pipe_;
  int host_id_;
  TransportDriver* udp_;
  TransportDriver* tcp_;
  TerminalTable terminals_;
  bool stopping_ = false;
  int sequence_ = 0;
  std::vector<char> buffer_;
  std::vector<void*> unanswered_;
};

}  // namespace qor::linkserver

#pragma once
// The terminals the link server has heard from: where each one was last
// seen and over which transport, so that data from a host can go back to it.
#include <cstdint>
#include <map>
#include <string>

namespace qor::linkserver {

enum class Link { udp, tcp };

struct Terminal {
  int number = 0;
  Link link = Link::udp;
  std::string address;  // dotted-decimal IPv4
  int port = 0;         // UDP: where it takes datagrams (0 while it has not said)
  std::uint32_t last_seen_ms = 0;
};

class TerminalTable {
 public:
  // Records a frame from terminal `number`; `port` 0 keeps the port known.
  void seen(int number, Link link, const std::string& address, int port, std::uint32_t now_ms);
  // The terminal, or null when it has not been heard from.
  const Terminal* find(int number) const;
  std::size_t size() const { return terminals_.size(); }

 private:
  std::map<int, Terminal> terminals_;
};

}  // namespace qor::linkserver

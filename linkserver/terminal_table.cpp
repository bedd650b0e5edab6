#include "linkserver/terminal_table.h"

namespace qor::linkserver {

void TerminalTable::seen(int number, Link link, const std::string& address, int port, std::uint32_t now_ms) {
  Terminal& terminal = terminals_[number];
  // A terminal that moves to another address or transport starts afresh.
  if (terminal.address != address || terminal.link != link) terminal.port = 0;
  terminal.number = number;
  terminal.link = link;
  terminal.address = address;
  if (port > 0) terminal.port = port;
  terminal.last_seen_ms = now_ms;
}

const Terminal* TerminalTable::find(int number) const {
  auto it = terminals_.find(number);
  return it == terminals_.end() ? nullptr : &it->second;
}

}  // namespace qor::linkserver

#include "transports/udp/udp_driver.h"

#include <cstring>
#include <string>

namespace qor::transports::udp {

using platform::Endpoint;
using platform::invalid_socket;
using platform::SocketError;

namespace {

// A failure number that can never read as success (0) or as "started" (1).
std::int32_t error_number() {
  auto code = static_cast<std::int32_t>(platform::last_socket_error());
  return code == 0 || code == 1 ? static_cast<std::int32_t>(SocketError::other) : code;
}

void write_address(char* address, std::uint32_t from) {
  if (!address) return;
  std::string text = platform::ipv4_text(from);
  std::memcpy(address, text.c_str(), text.size() + 1);
}

}  // namespace

std::uint16_t port_of(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  std::uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = (value * 10 + static_cast<std::uint32_t>(*text - '0')) & 0xFFFF;
  return static_cast<std::uint16_t>(negative ? 0x10000 - value : value);
}

bool parse_destination(char* text, std::uint16_t default_port, Endpoint* to) {
  if (!text) return false;
  std::uint16_t port = default_port;
  if (char* colon = std::strchr(text, ':')) {
    *colon = '\0';
    port = port_of(colon + 1);
  }
  std::uint32_t address = 0;
  if (!platform::parse_ipv4(text, &address)) return false;
  *to = Endpoint{address, port};
  return true;
}

UdpDriver::~UdpDriver() { close_sockets(); }

void UdpDriver::close_sockets() {
  if (bound_ != invalid_socket) platform::close_socket(bound_);
  if (outbound_ != invalid_socket) platform::close_socket(outbound_);
  bound_ = outbound_ = invalid_socket;
}

std::int32_t UdpDriver::init(std::int32_t port) {
  // A second start without a stop would leave the first sockets open, the
  // bound one holding its port: start afresh instead.
  close_sockets();
  bound_ = platform::open_socket(platform::SocketKind::datagram);
  if (bound_ == invalid_socket) return error_number();
  // A failed bind keeps the socket until tini, as the outbound one would be.
  if (!platform::bind_socket(bound_, Endpoint{platform::any_address, static_cast<std::uint16_t>(port)}))
    return error_number();
  outbound_ = platform::open_socket(platform::SocketKind::datagram);
  if (outbound_ == invalid_socket) return error_number();
  platform::set_non_blocking(bound_, true);
  platform::set_non_blocking(outbound_, true);
  return 1;
}

std::int32_t UdpDriver::tini() {
  close_sockets();
  return 1;
}

std::int32_t UdpDriver::wait_packet(char* address, std::int32_t length, char* buffer) {
  Endpoint from;
  // Answers to our own packets come first. An empty one is not a packet:
  // its sender is written and the bound socket gets its turn.
  int n = platform::receive_from(outbound_, buffer, length, &from);
  if (n >= 0) write_address(address, from.address);
  if (n > 0) return n;
  n = platform::receive_from(bound_, buffer, length, &from);
  if (n < 0) return -1;
  write_address(address, from.address);
  reply_to_ = from;
  return n;
}

std::int32_t UdpDriver::send_packet(std::int32_t port, char* address, std::int32_t length, const char* buffer) {
  Endpoint to;
  if (!parse_destination(address, static_cast<std::uint16_t>(port), &to)) return -1;
  return platform::send_to(outbound_, buffer, length, to) < 0 ? -1 : 0;
}

std::int32_t UdpDriver::reply(std::int32_t length, const char* buffer) {
  return platform::send_to(bound_, buffer, length, reply_to_) < 0 ? error_number() : 0;
}

}  // namespace qor::transports::udp

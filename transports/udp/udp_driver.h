#pragma once
// The datagram driver's state and operations, one object per loaded library.
//
// Two non-blocking IPv4 datagram sockets: the bound one (0.0.0.0 and the
// port of init) that terminals send to and replies leave from, and the
// outbound one, never bound explicitly, that sent packets leave from and
// whose answers are read first. Used from one thread at a time.
#include <cstdint>

#include "platform/socket.h"

namespace qor::transports::udp {

// The port of a destination text, read as C's atoi reads a number (blanks,
// an optional sign, then the leading digits; 0 when there are none), but
// without its overflow: the result is the number modulo 2^16.
std::uint16_t port_of(const char* text);

// Splits "a.b.c.d" or "a.b.c.d:port" in place: the first ':' becomes a NUL
// and the text after it gives the port; without one the port is
// `default_port`. False when what remains is no dotted-decimal address.
bool parse_destination(char* text, std::uint16_t default_port, platform::Endpoint* to);

class UdpDriver {
 public:
  static constexpr char version_text[] = "2.00.00-002";

  UdpDriver() = default;
  ~UdpDriver();
  UdpDriver(const UdpDriver&) = delete;
  UdpDriver& operator=(const UdpDriver&) = delete;

  // 1, or the socket error number of the failing step (never 0 or 1).
  std::int32_t init(std::int32_t port);
  std::int32_t tini();
  std::int32_t wait_packet(char* address, std::int32_t length, char* buffer);
  std::int32_t send_packet(std::int32_t port, char* address, std::int32_t length, const char* buffer);
  std::int32_t reply(std::int32_t length, const char* buffer);

 private:
  void close_sockets();

  platform::SocketHandle bound_ = platform::invalid_socket;
  platform::SocketHandle outbound_ = platform::invalid_socket;
  // The sender of the latest datagram on the bound socket; all zero before.
  platform::Endpoint reply_to_{};
};

}  // namespace qor::transports::udp

#pragma once
// IPv4 sockets: the few calls the transport drivers need, with one handle
// type, one error numbering and one set of semantics on both targets.
//
// Addresses are 32-bit numbers in host order (127.0.0.1 is 0x7F000001),
// ports plain numbers; no socket header is needed by callers. Errors are
// reported the Windows Sockets way: a failing call returns its failure value
// and last_socket_error() tells why, with the Windows Sockets numbers on
// both targets (native errno values are mapped to them).
//
// Native behaves as Winsock does where the two differ:
//   - closing a socket wakes every call blocked on it in another thread
//     (a pending accept or recv fails);
//   - a datagram longer than the receive buffer fails with message_too_long
//     and is dropped;
//   - sending on a connection the peer has closed never raises SIGPIPE;
//   - a stream port can be bound again while old connections of it linger in
//     TIME_WAIT (but never while another socket listens on it);
//   - sockets are never inherited by started programs.
#include <cstdint>
#include <string>

namespace qor::platform {

// A socket: SOCKET on win32, a descriptor on native.
using SocketHandle = std::uintptr_t;
constexpr SocketHandle invalid_socket = ~SocketHandle(0);

constexpr std::uint32_t any_address = 0;                // 0.0.0.0
constexpr std::uint32_t loopback_address = 0x7F000001;  // 127.0.0.1

// The largest listen backlog the platform allows (SOMAXCONN).
constexpr int max_backlog = 0x7FFFFFFF;

struct Endpoint {
  std::uint32_t address = any_address;
  std::uint16_t port = 0;
};

inline bool operator==(const Endpoint& a, const Endpoint& b) { return a.address == b.address && a.port == b.port; }

// The Windows Sockets error numbers; last_socket_error() may also give
// numbers not named here (win32 passes WSAGetLastError through).
enum class SocketError : int {
  none = 0,
  other = 10000,  // a native error without a Windows Sockets twin
  interrupted = 10004,
  access_denied = 10013,
  bad_address = 10014,
  invalid_argument = 10022,
  too_many_sockets = 10024,
  would_block = 10035,  // also a non-blocking connect under way
  in_progress = 10036,
  already = 10037,
  not_socket = 10038,
  destination_required = 10039,
  message_too_long = 10040,
  wrong_protocol = 10041,
  bad_option = 10042,
  protocol_not_supported = 10043,
  not_supported = 10045,
  family_not_supported = 10047,
  address_in_use = 10048,
  address_not_available = 10049,
  network_down = 10050,
  network_unreachable = 10051,
  network_reset = 10052,
  connection_aborted = 10053,
  connection_reset = 10054,
  no_buffer_space = 10055,
  is_connected = 10056,
  not_connected = 10057,
  shut_down = 10058,
  timed_out = 10060,
  connection_refused = 10061,
  host_down = 10064,
  host_unreachable = 10065,
  not_initialised = 10093,
};

// The error of the calling thread's last failed socket call.
SocketError last_socket_error();

// Starts the socket layer (WSAStartup, version 2.2); nothing to do on native.
// Starts and stops are counted: the layer stays up until as many stops as
// starts. 0 on success, else the error number.
int start_sockets();
void stop_sockets();

enum class SocketKind { datagram, stream };

// An IPv4 socket, blocking; invalid_socket on failure.
SocketHandle open_socket(SocketKind kind);
bool close_socket(SocketHandle socket);
bool set_non_blocking(SocketHandle socket, bool non_blocking);

bool bind_socket(SocketHandle socket, Endpoint local);
bool listen_socket(SocketHandle socket, int backlog = max_backlog);
// The next connection, with its peer's endpoint when `peer` is given;
// invalid_socket on failure. It is blocking or not as the listening socket is.
SocketHandle accept_socket(SocketHandle socket, Endpoint* peer = nullptr);
bool connect_socket(SocketHandle socket, Endpoint remote);
// Both directions.
bool shutdown_socket(SocketHandle socket);

bool local_endpoint(SocketHandle socket, Endpoint* local);
bool peer_endpoint(SocketHandle socket, Endpoint* peer);

// Byte counts, or -1 on failure.
int send_bytes(SocketHandle socket, const void* data, int length);
int receive_bytes(SocketHandle socket, void* buffer, int capacity);
int send_to(SocketHandle socket, const void* data, int length, Endpoint to);
int receive_from(SocketHandle socket, void* buffer, int capacity, Endpoint* from = nullptr);

// Waits at most `timeout_ms` until a receive on the socket would not block
// (data, a closed or reset connection, or a connection to accept):
// 1 ready, 0 time-out, -1 failure.
int wait_readable(SocketHandle socket, std::uint32_t timeout_ms);

// Dotted-decimal text: exactly four decimal numbers of 0-255 separated by
// dots, nothing before or after, no leading zeros ("010" could mean 8 or
// 10). False when the text is not such an address.
bool parse_ipv4(const std::string& text, std::uint32_t* address);
std::string ipv4_text(std::uint32_t address);

}  // namespace qor::platform

#include "platform/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "platform/clock.h"

namespace qor::platform {

namespace {

// The error of the calling thread's last failed call, kept apart from errno
// so that whatever the caller does in between cannot change it.
thread_local SocketError last_error = SocketError::none;

SocketError from_errno(int code) {
  switch (code) {
    case 0:
      return SocketError::none;
    case EINTR:
      return SocketError::interrupted;
    case EACCES:
    case EPERM:
      return SocketError::access_denied;
    case EFAULT:
      return SocketError::bad_address;
    case EINVAL:
      return SocketError::invalid_argument;
    case EMFILE:
    case ENFILE:
      return SocketError::too_many_sockets;
    // Winsock reports a non-blocking connect under way as would-block too.
    case EAGAIN:
    case EINPROGRESS:
      return SocketError::would_block;
    case EALREADY:
      return SocketError::already;
    case EBADF:
    case ENOTSOCK:
      return SocketError::not_socket;
    case EDESTADDRREQ:
      return SocketError::destination_required;
    case EMSGSIZE:
      return SocketError::message_too_long;
    case EPROTOTYPE:
      return SocketError::wrong_protocol;
    case ENOPROTOOPT:
      return SocketError::bad_option;
    case EPROTONOSUPPORT:
      return SocketError::protocol_not_supported;
    case EOPNOTSUPP:
      return SocketError::not_supported;
    case EAFNOSUPPORT:
      return SocketError::family_not_supported;
    case EADDRINUSE:
      return SocketError::address_in_use;
    case EADDRNOTAVAIL:
      return SocketError::address_not_available;
    case ENETDOWN:
      return SocketError::network_down;
    case ENETUNREACH:
      return SocketError::network_unreachable;
    case ENETRESET:
      return SocketError::network_reset;
    case ECONNABORTED:
      return SocketError::connection_aborted;
    // Linux reports a reset once as ECONNRESET and then as EPIPE; Winsock
    // keeps saying WSAECONNRESET.
    case ECONNRESET:
    case EPIPE:
      return SocketError::connection_reset;
    case ENOBUFS:
    case ENOMEM:
      return SocketError::no_buffer_space;
    case EISCONN:
      return SocketError::is_connected;
    case ENOTCONN:
      return SocketError::not_connected;
    case ESHUTDOWN:
      return SocketError::shut_down;
    case ETIMEDOUT:
      return SocketError::timed_out;
    case ECONNREFUSED:
      return SocketError::connection_refused;
    case EHOSTDOWN:
      return SocketError::host_down;
    case EHOSTUNREACH:
      return SocketError::host_unreachable;
    default:
      return SocketError::other;
  }
}

template <typename T>
T fail(T result, int code = errno) {
  last_error = from_errno(code);
  return result;
}

int fd(SocketHandle socket) { return socket == invalid_socket ? -1 : static_cast<int>(socket); }

sockaddr_in to_sockaddr(Endpoint endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(endpoint.address);
  address.sin_port = htons(endpoint.port);
  return address;
}

Endpoint from_sockaddr(const sockaddr_in& address) {
  return Endpoint{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

// Waits for `events` on the socket for at most `timeout_ms`, restarting
// after signals: 1 ready, 0 time-out, -1 failure.
int wait_for(int socket, short events, std::uint32_t timeout_ms) {
  std::uint32_t start = tick_ms();
  for (;;) {
    std::uint32_t spent = tick_ms() - start;
    int left = static_cast<int>(std::min<std::uint32_t>(spent >= timeout_ms ? 0 : timeout_ms - spent, INT_MAX));
    pollfd probe{socket, events, 0};
    int n = poll(&probe, 1, left);
    if (n > 0) return (probe.revents & POLLNVAL) ? fail(-1, EBADF) : 1;
    if (n == 0) return 0;
    if (errno != EINTR) return fail(-1);
  }
}

int receive(SocketHandle socket, void* buffer, int capacity, Endpoint* from) {
  if (capacity < 0) return fail(-1, EINVAL);
  sockaddr_in address{};
  iovec part{buffer, static_cast<size_t>(capacity)};
  msghdr message{};
  message.msg_name = &address;
  message.msg_namelen = sizeof address;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  ssize_t n;
  do {
    n = recvmsg(fd(socket), &message, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return fail(-1);
  // A datagram that did not fit is lost, and the receive fails, as in Winsock.
  if (message.msg_flags & MSG_TRUNC) return fail(-1, EMSGSIZE);
  if (from) *from = message.msg_namelen >= sizeof address ? from_sockaddr(address) : Endpoint{};
  return static_cast<int>(n);
}

int send(SocketHandle socket, const void* data, int length, const Endpoint* to) {
  if (length < 0) return fail(-1, EINVAL);
  sockaddr_in address{};
  if (to) address = to_sockaddr(*to);
  ssize_t n;
  do {
    n = ::sendto(fd(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL,
                 to ? reinterpret_cast<const sockaddr*>(&address) : nullptr, to ? sizeof address : 0);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? fail(-1) : static_cast<int>(n);
}

}  // namespace

SocketError last_socket_error() { return last_error; }

int start_sockets() { return 0; }
void stop_sockets() {}

SocketHandle open_socket(SocketKind kind) {
  int type = kind == SocketKind::stream ? SOCK_STREAM : SOCK_DGRAM;
  int s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (s < 0) return fail(invalid_socket);
  if (kind == SocketKind::stream) {
    // Winsock binds a port whose old connections wait in TIME_WAIT; Linux
    // needs SO_REUSEADDR for that. It still refuses a port someone listens on.
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  return static_cast<SocketHandle>(s);
}

bool close_socket(SocketHandle socket) {
  int s = fd(socket);
  // close() alone leaves a thread blocked in accept or recv on the socket
  // asleep; shutting it down first wakes it, as closesocket does.
  int saved = errno;
  shutdown(s, SHUT_RDWR);
  errno = saved;
  return ::close(s) == 0 ? true : fail(false);
}

bool set_non_blocking(SocketHandle socket, bool non_blocking) {
  int flags = fcntl(fd(socket), F_GETFL);
  if (flags < 0) return fail(false);
  flags = non_blocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  return fcntl(fd(socket), F_SETFL, flags) == 0 ? true : fail(false);
}

bool bind_socket(SocketHandle socket, Endpoint local) {
  sockaddr_in address = to_sockaddr(local);
  return ::bind(fd(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? true : fail(false);
}

bool listen_socket(SocketHandle socket, int backlog) {
  // Linux caps the backlog at its own maximum.
  return ::listen(fd(socket), backlog) == 0 ? true : fail(false);
}

SocketHandle accept_socket(SocketHandle socket, Endpoint* peer) {
  int flags = fcntl(fd(socket), F_GETFL);
  if (flags < 0) return fail(invalid_socket);
  sockaddr_in address{};
  socklen_t size = sizeof address;
  int s;
  do {
    size = sizeof address;
    s = accept4(fd(socket), reinterpret_cast<sockaddr*>(&address), &size,
                SOCK_CLOEXEC | ((flags & O_NONBLOCK) ? SOCK_NONBLOCK : 0));
  } while (s < 0 && errno == EINTR);
  if (s < 0) return fail(invalid_socket);
  if (peer) *peer = from_sockaddr(address);
  return static_cast<SocketHandle>(s);
}

bool connect_socket(SocketHandle socket, Endpoint remote) {
  sockaddr_in address = to_sockaddr(remote);
  if (::connect(fd(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
  if (errno != EINTR) return fail(false);
  // Interrupted: the connection goes on in the background; wait for it.
  if (wait_for(fd(socket), POLLOUT, 0xFFFFFFFFu) < 0) return false;
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(fd(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return fail(false);
  return error == 0 ? true : fail(false, error);
}

bool shutdown_socket(SocketHandle socket) { return ::shutdown(fd(socket), SHUT_RDWR) == 0 ? true : fail(false); }

bool local_endpoint(SocketHandle socket, Endpoint* local) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (getsockname(fd(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) return fail(false);
  if (address.sin_family != AF_INET) return fail(false, EAFNOSUPPORT);
  if (local) *local = from_sockaddr(address);
  return true;
}

bool peer_endpoint(SocketHandle socket, Endpoint* peer) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (getpeername(fd(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) return fail(false);
  if (address.sin_family != AF_INET) return fail(false, EAFNOSUPPORT);
  if (peer) *peer = from_sockaddr(address);
  return true;
}

int send_bytes(SocketHandle socket, const void* data, int length) { return send(socket, data, length, nullptr); }

int receive_bytes(SocketHandle socket, void* buffer, int capacity) {
  return receive(socket, buffer, capacity, nullptr);
}

int send_to(SocketHandle socket, const void* data, int length, Endpoint to) { return send(socket, data, length, &to); }

int receive_from(SocketHandle socket, void* buffer, int capacity, Endpoint* from) {
  return receive(socket, buffer, capacity, from);
}

int wait_readable(SocketHandle socket, std::uint32_t timeout_ms) {
  if (fd(socket) < 0) return fail(-1, EBADF);
  return wait_for(fd(socket), POLLIN, timeout_ms);
}

}  // namespace qor::platform

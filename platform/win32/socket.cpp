#include "platform/socket.h"

#include <winsock2.h>
// After winsock2.h.
#include <windows.h>

namespace qor::platform {

namespace {

SOCKET to_socket(SocketHandle socket) { return static_cast<SOCKET>(socket); }

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

int count_or_failure(int n) { return n == SOCKET_ERROR ? -1 : n; }

}  // namespace

SocketError last_socket_error() { return static_cast<SocketError>(WSAGetLastError()); }

int start_sockets() {
  // Winsock counts its starts and cleanups itself.
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data);
}

void stop_sockets() { WSACleanup(); }

SocketHandle open_socket(SocketKind kind) {
  SOCKET s = ::socket(AF_INET, kind == SocketKind::stream ? SOCK_STREAM : SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return invalid_socket;
  // Started programs never get our sockets, even one started by code that
  // asks for inherited handles.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<SocketHandle>(s);
}

bool close_socket(SocketHandle socket) { return closesocket(to_socket(socket)) == 0; }

bool set_non_blocking(SocketHandle socket, bool non_blocking) {
  u_long on = non_blocking ? 1 : 0;
  return ioctlsocket(to_socket(socket), FIONBIO, &on) == 0;
}

bool bind_socket(SocketHandle socket, Endpoint local) {
  sockaddr_in address = to_sockaddr(local);
  return ::bind(to_socket(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool listen_socket(SocketHandle socket, int backlog) { return ::listen(to_socket(socket), backlog) == 0; }

SocketHandle accept_socket(SocketHandle socket, Endpoint* peer) {
  sockaddr_in address{};
  int size = sizeof address;
  SOCKET s = ::accept(to_socket(socket), reinterpret_cast<sockaddr*>(&address), &size);
  if (s == INVALID_SOCKET) return invalid_socket;
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  if (peer) *peer = from_sockaddr(address);
  return static_cast<SocketHandle>(s);
}

bool connect_socket(SocketHandle socket, Endpoint remote) {
  sockaddr_in address = to_sockaddr(remote);
  return ::connect(to_socket(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool shutdown_socket(SocketHandle socket) { return ::shutdown(to_socket(socket), SD_BOTH) == 0; }

bool local_endpoint(SocketHandle socket, Endpoint* local) {
  sockaddr_in address{};
  int size = sizeof address;
  if (getsockname(to_socket(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) return false;
  if (address.sin_family != AF_INET) {
    WSASetLastError(WSAEAFNOSUPPORT);
    return false;
  }
  if (local) *local = from_sockaddr(address);
  return true;
}

bool peer_endpoint(SocketHandle socket, Endpoint* peer) {
  sockaddr_in address{};
  int size = sizeof address;
  if (getpeername(to_socket(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) return false;
  if (address.sin_family != AF_INET) {
    WSASetLastError(WSAEAFNOSUPPORT);
    return false;
  }
  if (peer) *peer = from_sockaddr(address);
  return true;
}

int send_bytes(SocketHandle socket, const void* data, int length) {
  return count_or_failure(::send(to_socket(socket), static_cast<const char*>(data), length, 0));
}

int receive_bytes(SocketHandle socket, void* buffer, int capacity) {
  return count_or_failure(::recv(to_socket(socket), static_cast<char*>(buffer), capacity, 0));
}

int send_to(SocketHandle socket, const void* data, int length, Endpoint to) {
  sockaddr_in address = to_sockaddr(to);
  return count_or_failure(::sendto(to_socket(socket), static_cast<const char*>(data), length, 0,
                                   reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

int receive_from(SocketHandle socket, void* buffer, int capacity, Endpoint* from) {
  sockaddr_in address{};
  int size = sizeof address;
  int n = ::recvfrom(to_socket(socket), static_cast<char*>(buffer), capacity, 0, reinterpret_cast<sockaddr*>(&address),
                     &size);
  if (n == SOCKET_ERROR) return -1;
  if (from) *from = size >= static_cast<int>(sizeof address) ? from_sockaddr(address) : Endpoint{};
  return n;
}

int wait_readable(SocketHandle socket, std::uint32_t timeout_ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(to_socket(socket), &readable);
  timeval limit{static_cast<long>(timeout_ms / 1000), static_cast<long>(timeout_ms % 1000) * 1000};
  int n = select(0, &readable, nullptr, nullptr, &limit);
  if (n == SOCKET_ERROR) return -1;
  return n > 0 ? 1 : 0;
}

}  // namespace qor::platform

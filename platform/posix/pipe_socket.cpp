#include "platform/posix/pipe_socket.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/runtime_dir.h"

namespace qor::platform::posix {

std::optional<std::string> pipe_socket_path(const std::string& name) {
  std::string path = runtime_subdir("pipes") + "/" + pipe_file_name(name);
  if (path.size() >= sizeof(sockaddr_un::sun_path)) return std::nullopt;
  return path;
}

int connect_pipe_socket(const std::string& path, int timeout_ms) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // The send time-out bounds the wait of a connect while the backlog is full.
  timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  errno = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    // Some kernels fail a connect to a dead socket without saying why.
    int error = errno ? errno : ECONNREFUSED;
    close(fd);
    errno = error;
    return -1;
  }
  timeval none{0, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
  return fd;
}

std::uint16_t gateway_port() {
  const char* text = std::getenv("QOR_PIPE_PORT");
  if (text && *text) {
    char* end = nullptr;
    long port = std::strtol(text, &end, 10);
    if (*end == '\0' && port >= 1 && port <= 65535) return static_cast<std::uint16_t>(port);
  }
  return default_gateway_port;
}

bool send_all(int fd, const void* data, std::size_t size) {
  auto p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool receive_all(int fd, void* buffer, std::size_t size) {
  auto p = static_cast<char*>(buffer);
  while (size > 0) {
    ssize_t n = recv(fd, p, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = 0;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool send_frame(int fd, const void* data, std::size_t size) {
  unsigned char header[4];
  write_le32(header, static_cast<std::uint32_t>(size));
  iovec parts[2] = {{header, sizeof header}, {const_cast<void*>(data), size}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  std::size_t left = sizeof header + size;
  while (left > 0) {
    ssize_t n = sendmsg(fd, &message, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    left -= static_cast<std::size_t>(n);
    // A short send: step over what went.
    auto sent = static_cast<std::size_t>(n);
    while (sent > 0 && message.msg_iovlen > 0) {
      iovec& first = message.msg_iov[0];
      if (sent >= first.iov_len) {
        sent -= first.iov_len;
        ++message.msg_iov;
        --message.msg_iovlen;
      } else {
        first.iov_base = static_cast<char*>(first.iov_base) + sent;
        first.iov_len -= sent;
        sent = 0;
      }
    }
  }
  return true;
}

}  // namespace qor::platform::posix

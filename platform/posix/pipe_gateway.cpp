// The gateway that carries remote pipes into this machine: a TCP listener on
// the gateway port that forwards every connection to the local socket of the
// pipe its first frame names. Every process that serves a pipe runs the
// gateway thread; only one process of the machine (of the network
// namespace) can hold the port, and it forwards to the pipes of every
// process. The others try again now and then, so that one of them takes over
// when the holder ends.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/named_pipe.h"
#include "platform/posix/pipe_socket.h"

namespace qor::platform::posix {

namespace {

constexpr std::uint32_t retry_bind_ms = 1000;
// A connection must name its pipe within this time.
constexpr int request_wait_s = 10;
// At most this many connections are forwarded at once (each holds two
// threads); the gateway closes further ones at once.
constexpr int max_links = 1024;
std::atomic<int> active_links{0};

int bind_gateway(std::uint16_t port) {
  int on = 1, off = 0;
  // One socket for IPv6 and IPv4 where the machine has IPv6.
  int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(port);
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, SOMAXCONN) == 0) return fd;
    int error = errno;
    close(fd);
    if (error == EADDRINUSE) return -1;
  }
  fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, SOMAXCONN) == 0) return fd;
  close(fd);
  return -1;
}

// One forwarded connection: the TCP side and the pipe side. Each direction
// runs on its own thread; the one that ends first shuts both sockets down,
// which ends the other; the last one closes them.
struct Link {
  Link(int network_fd, int pipe_fd) : network(network_fd), pipe(pipe_fd) {}
  ~Link() {
    close(network);
    close(pipe);
    --active_links;
  }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  void end() {
    shutdown(network, SHUT_RDWR);
    shutdown(pipe, SHUT_RDWR);
  }
  int network;
  int pipe;
};

void pipe_to_network(std::shared_ptr<Link> link) {
  std::vector<char> buffer(pipe_max_message);
  for (;;) {
    ssize_t n = recv(link->pipe, buffer.data(), buffer.size(), MSG_TRUNC);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || static_cast<std::size_t>(n) > buffer.size()) break;
    if (!send_frame(link->network, buffer.data(), static_cast<std::size_t>(n))) break;
  }
  link->end();
}

void network_to_pipe(const std::shared_ptr<Link>& link) {
  std::vector<char> buffer;
  for (;;) {
    unsigned char header[4];
    if (!receive_all(link->network, header, sizeof header)) break;
    std::uint32_t length = read_le32(header);
    if (length > pipe_max_message) break;
    // An empty frame carries nothing (the pipe socket cannot hold an empty
    // message apart from its end).
    if (length == 0) continue;
    buffer.resize(length);
    if (!receive_all(link->network, buffer.data(), length)) break;
    ssize_t n;
    do {
      n = send(link->pipe, buffer.data(), length, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(length)) break;
  }
  link->end();
}

bool reply(int fd, std::uint8_t status) { return send_frame(fd, &status, 1); }

// Counted in active_links from its accept until its Link ends (or, before
// there is one, until it is turned away).
void serve_connection(int network) {
  struct Uncount {
    bool armed = true;
    ~Uncount() {
      if (armed) --active_links;
    }
  } uncount;
  timeval limit{request_wait_s, 0};
  setsockopt(network, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  unsigned char header[4];
  if (!receive_all(network, header, sizeof header)) {
    close(network);
    return;
  }
  std::uint32_t length = read_le32(header);
  std::string name(length <= max_remote_name ? length : 0, '\0');
  if (length == 0 || length > max_remote_name || !receive_all(network, name.data(), length)) {
    if (length == 0 || length > max_remote_name) reply(network, gateway_bad_name);
    close(network);
    return;
  }
  auto path = name.find('\\') == std::string::npos && name.find('\0') == std::string::npos ? pipe_socket_path(name)
                                                                                           : std::nullopt;
  if (!path) {
    reply(network, gateway_bad_name);
    close(network);
    return;
  }
  int pipe = connect_pipe_socket(*path, 1000);
  if (pipe < 0) {
    reply(network, errno == EAGAIN ? gateway_pipe_busy : gateway_no_such_pipe);
    close(network);
    return;
  }
  timeval none{0, 0};
  setsockopt(network, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
  int on = 1;
  setsockopt(network, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  auto link = std::make_shared<Link>(network, pipe);
  uncount.armed = false;
  if (!reply(network, gateway_connected)) return;
  try {
    std::thread(pipe_to_network, link).detach();
  } catch (const std::system_error&) {
    return;
  }
  network_to_pipe(link);
}

[[noreturn]] void gateway_main(std::uint16_t port) {
  for (;;) {
    int listener = bind_gateway(port);
    if (listener < 0) {
      sleep_ms(retry_bind_ms);
      continue;
    }
    for (;;) {
      int network = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (network < 0) {
        if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN || errno == EPROTO) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          sleep_ms(100);
          continue;
        }
        break;
      }
      if (active_links >= max_links) {
        close(network);
        continue;
      }
      ++active_links;
      try {
        std::thread(serve_connection, network).detach();
      } catch (const std::system_error&) {
        --active_links;
        close(network);
      }
    }
    close(listener);
  }
}

}  // namespace

void start_pipe_gateway() {
  static std::once_flag once;
  std::call_once(once, [] {
    try {
      std::thread(gateway_main, gateway_port()).detach();
    } catch (const std::system_error&) {
      // No gateway in this process; another one may hold the port.
    }
  });
}

}  // namespace qor::platform::posix

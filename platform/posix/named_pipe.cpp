// Named pipes on native Linux (see docs/native-mapping.md, "Named pipes"):
// a local pipe is an AF_UNIX SOCK_SEQPACKET socket in the runtime directory,
// listened on by one socket per name and process, which every instance of
// the name in this process accepts from; a remote pipe is a TCP connection
// to the gateway of the other machine, carrying length-framed messages.
#include "platform/named_pipe.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/common/pipe_path.h"
#include "platform/module.h"
#include "platform/posix/pipe_socket.h"

namespace qor::platform {

using namespace posix;
using detail::parse_pipe_path;

namespace {

// How long a client's connect waits while every instance is busy and the
// backlog is full, and how long a remote connection may take to set up.
constexpr int local_connect_wait_ms = 500;
constexpr int remote_connect_wait_ms = 5000;

// Serialises, across processes, the steps that bind, probe and remove pipe
// sockets in one directory, so that a live socket is never taken for stale.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& dir) : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0)
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~DirectoryLock() {
    if (fd_ >= 0) close(fd_);
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  int fd_;
};

// The listening socket of one pipe name in this process, shared by all of
// its instances.
struct Listener {
  std::string name;
  std::string path;
  int fd = -1;
  int max_instances = 0;
  int instances = 0;
  dev_t device = 0;
  ino_t inode = 0;
};

struct Registry {
  std::mutex lock;
  std::map<std::string, std::shared_ptr<Listener>> by_name;
};

Registry& registry() {
  // Never destroyed: instances may outlive static destruction.
  static Registry* instance = new Registry;
  return *instance;
}

bool same_file(const std::string& path, dev_t device, ino_t inode) {
  struct stat now {};
  return stat(path.c_str(), &now) == 0 && now.st_dev == device && now.st_ino == inode;
}

// Binds and listens on the socket of a name no instance of this process
// holds. Null when another live process holds it.
std::shared_ptr<Listener> open_listener(const std::string& name, const std::string& path, int max_instances) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  DirectoryLock guard(folder_of(path));
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return nullptr;
  auto* where = reinterpret_cast<sockaddr*>(&address);
  if (bind(fd, where, sizeof address) != 0) {
    bool stale = false;
    if (errno == EADDRINUSE) {
      int probe = connect_pipe_socket(path, 200);
      if (probe >= 0)
        close(probe);
      else
        stale = errno == ECONNREFUSED || errno == ENOENT;
    }
    // A socket nobody listens on is left over from a process that ended.
    if (!stale || (unlink(path.c_str()) != 0 && errno != ENOENT) || bind(fd, where, sizeof address) != 0) {
      close(fd);
      return nullptr;
    }
  }
  struct stat bound {};
  // Every user may connect, whatever the umask.
  if (chmod(path.c_str(), 0666) != 0 || stat(path.c_str(), &bound) != 0 || listen(fd, max_instances) != 0) {
    unlink(path.c_str());
    close(fd);
    return nullptr;
  }
  auto listener = std::make_shared<Listener>();
  listener->name = name;
  listener->path = path;
  listener->fd = fd;
  listener->max_instances = max_instances;
  listener->device = bound.st_dev;
  listener->inode = bound.st_ino;
  return listener;
}

void release_instance(const std::shared_ptr<Listener>& listener) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  if (--listener->instances > 0) return;
  r.by_name.erase(listener->name);
  {
    DirectoryLock guard(folder_of(listener->path));
    if (same_file(listener->path, listener->device, listener->inode)) unlink(listener->path.c_str());
  }
  close(listener->fd);
  listener->fd = -1;
}

}  // namespace

// --- server ----------------------------------------------------------------

struct PipeServer::State {
  std::shared_ptr<Listener> listener;
  int wake = -1;  // eventfd, readable once cancelled
  std::atomic<bool> cancelled{false};
  std::mutex lock;  // guards `connection` against cancel()
  int connection = -1;
};

PipeServer::PipeServer(std::unique_ptr<State> state) : state_(std::move(state)) {}

std::unique_ptr<PipeServer> PipeServer::create(const std::string& path, int max_instances) {
  auto parts = parse_pipe_path(path);
  if (!parts || parts->machine != "." || max_instances < 1 || max_instances > pipe_max_instances) return nullptr;
  auto socket_path = pipe_socket_path(parts->name);
  if (!socket_path) return nullptr;

  auto state = std::make_unique<State>();
  state->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (state->wake < 0) return nullptr;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto found = r.by_name.find(parts->name);
    std::shared_ptr<Listener> listener;
    if (found != r.by_name.end()) {
      listener = found->second;
      if (listener->instances >= listener->max_instances) listener = nullptr;
    } else {
      listener = open_listener(parts->name, *socket_path, max_instances);
      if (listener) r.by_name[parts->name] = listener;
    }
    if (!listener) {
      close(state->wake);
      return nullptr;
    }
    ++listener->instances;
    state->listener = listener;
  }
  start_pipe_gateway();
  return std::unique_ptr<PipeServer>(new PipeServer(std::move(state)));
}

PipeServer::~PipeServer() {
  if (state_->connection >= 0) close(state_->connection);
  close(state_->wake);
  release_instance(state_->listener);
}

bool PipeServer::wait_for_client() {
  State& s = *state_;
  if (s.cancelled) return false;
  if (s.connection >= 0) return true;
  for (;;) {
    pollfd waits[2] = {{s.listener->fd, POLLIN, 0}, {s.wake, POLLIN, 0}};
    if (poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (s.cancelled) return false;
    if (waits[0].revents & (POLLERR | POLLNVAL)) return false;
    if (!(waits[0].revents & POLLIN)) continue;
    // Every waiting instance wakes; one of them takes the client.
    int client = accept4(s.listener->fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) continue;
      return false;
    }
    std::lock_guard<std::mutex> hold(s.lock);
    s.connection = client;
    if (s.cancelled) {
      shutdown(client, SHUT_RDWR);
      return false;
    }
    return true;
  }
}

std::optional<std::size_t> PipeServer::read_message(char* buffer, std::size_t size) {
  State& s = *state_;
  if (s.cancelled || s.connection < 0) return std::nullopt;
  ssize_t n;
  do {
    // MSG_TRUNC: the message's real size, even when it did not fit (the
    // rest of it is dropped).
    n = recv(s.connection, buffer, size, MSG_TRUNC);
  } while (n < 0 && errno == EINTR);
  if (n <= 0 || s.cancelled || static_cast<std::size_t>(n) > size) return std::nullopt;
  return static_cast<std::size_t>(n);
}

bool PipeServer::write_message(const void* data, std::size_t size) {
  State& s = *state_;
  if (s.cancelled || s.connection < 0 || size == 0 || size > pipe_max_message) return false;
  ssize_t n;
  do {
    n = send(s.connection, data, size, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(size) && !s.cancelled;
}

void PipeServer::disconnect() {
  State& s = *state_;
  std::lock_guard<std::mutex> hold(s.lock);
  if (s.connection >= 0) close(s.connection);
  s.connection = -1;
}

void PipeServer::cancel() {
  State& s = *state_;
  s.cancelled = true;
  std::uint64_t one = 1;
  ssize_t ignored = write(s.wake, &one, sizeof one);
  (void)ignored;
  std::lock_guard<std::mutex> hold(s.lock);
  // Wakes a blocked recv or send; the descriptor stays open until the owner
  // disconnects or destroys the instance.
  if (s.connection >= 0) shutdown(s.connection, SHUT_RDWR);
}

// --- client ----------------------------------------------------------------

struct PipeClient::State {
  explicit State(int descriptor) : fd(descriptor) {}
  virtual ~State() { close(fd); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  virtual std::optional<PipeWaiting> peek() = 0;
  virtual std::optional<std::size_t> read(char* buffer, std::size_t size) = 0;
  virtual bool write(const void* data, std::size_t size) = 0;
  int fd;
};

namespace {

// A pipe of this machine: the SOCK_SEQPACKET connection itself. A message
// that the caller's buffer cannot hold is read whole; the bytes beyond the
// buffer wait in `rest` for the next read.
class LocalClient final : public PipeClient::State {
 public:
  explicit LocalClient(int descriptor) : State(descriptor), spill_(pipe_max_message) {}

  std::optional<PipeWaiting> peek() override {
    int queued = 0;
    if (ioctl(fd, FIONREAD, &queued) != 0 || queued < 0) return std::nullopt;
    PipeWaiting waiting;
    std::size_t left = rest_.size() - rest_used_;
    waiting.total = left + static_cast<std::size_t>(queued);
    if (left > 0) {
      waiting.in_message = left;
    } else if (queued > 0) {
      ssize_t next = recv(fd, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
      waiting.in_message = next > 0 ? static_cast<std::size_t>(next) : 0;
    }
    if (waiting.total == 0) {
      pollfd state{fd, POLLIN | POLLRDHUP, 0};
      if (poll(&state, 1, 0) < 0 || (state.revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL))) return std::nullopt;
    }
    return waiting;
  }

  std::optional<std::size_t> read(char* buffer, std::size_t size) override {
    if (size == 0) return 0;
    std::size_t got = std::min(size, rest_.size() - rest_used_);
    std::memcpy(buffer, rest_.data() + rest_used_, got);
    rest_used_ += got;
    bool block = got == 0;
    while (got < size) {
      std::size_t room = size - got;
      iovec parts[2] = {{buffer + got, room}, {spill_.data(), spill_.size()}};
      msghdr message{};
      message.msg_iov = parts;
      message.msg_iovlen = 2;
      ssize_t n = recvmsg(fd, &message, MSG_TRUNC | (block ? 0 : MSG_DONTWAIT));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // Nothing more waits (or the server went away: the next read says so).
        if (got == 0) return std::nullopt;
        break;
      }
      block = false;
      auto length = static_cast<std::size_t>(n);
      if (length <= room) {
        got += length;
        continue;
      }
      got += room;
      rest_.assign(spill_.data(), std::min(length - room, spill_.size()));
      rest_used_ = 0;
      break;
    }
    return got;
  }

  bool write(const void* data, std::size_t size) override {
    if (size == 0 || size > pipe_max_message) return false;
    ssize_t n;
    do {
      n = send(fd, data, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(size);
  }

 private:
  std::vector<char> spill_;
  std::string rest_;
  std::size_t rest_used_ = 0;
};

// A pipe of another machine: a TCP connection to its gateway. Frames are
// taken off the connection as they arrive, so that peek can tell the sizes.
class RemoteClient final : public PipeClient::State {
 public:
  explicit RemoteClient(int descriptor) : State(descriptor), frames_(pipe_max_message) {}

  std::optional<PipeWaiting> peek() override {
    while (receive(false)) {
    }
    if (frames_.waiting() == 0 && ended_) return std::nullopt;
    PipeWaiting waiting;
    waiting.total = frames_.waiting();
    waiting.in_message = frames_.in_message();
    return waiting;
  }

  std::optional<std::size_t> read(char* buffer, std::size_t size) override {
    if (size == 0) return 0;
    while (frames_.waiting() == 0) {
      if (ended_) return std::nullopt;
      receive(true);
    }
    while (receive(false)) {
    }
    return frames_.read(buffer, size);
  }

  bool write(const void* data, std::size_t size) override {
    if (size == 0 || size > pipe_max_message || ended_) return false;
    return send_frame(fd, data, size);
  }

 private:
  // Takes what the connection holds (waiting for it when `block`). False
  // when nothing came.
  bool receive(bool block) {
    if (ended_) return false;
    char chunk[16384];
    ssize_t n;
    do {
      n = recv(fd, chunk, sizeof chunk, block ? 0 : MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    if (n <= 0) {
      ended_ = true;
      return false;
    }
    if (!frames_.take(chunk, static_cast<std::size_t>(n))) {
      // Not frames of ours: the connection is of no further use.
      ended_ = true;
      shutdown(fd, SHUT_RDWR);
    }
    return true;
  }

  FrameReader frames_;
  bool ended_ = false;
};

// Connects to `machine`'s gateway within remote_connect_wait_ms; -1 when
// no address of it answers.
int connect_gateway(const std::string& machine) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string port = std::to_string(gateway_port());
  if (getaddrinfo(machine.c_str(), port.c_str(), &hints, &found) != 0) return -1;
  int fd = -1;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) continue;
    bool connected = connect(fd, a->ai_addr, a->ai_addrlen) == 0;
    if (!connected && errno == EINPROGRESS) {
      pollfd writable{fd, POLLOUT, 0};
      int error = 0;
      socklen_t length = sizeof error;
      connected = poll(&writable, 1, remote_connect_wait_ms) == 1 &&
                  getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    if (!connected || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd >= 0) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  return fd;
}

// Asks the gateway for the pipe `name`; true when it connected us.
bool request_pipe(int fd, const std::string& name) {
  timeval limit{remote_connect_wait_ms / 1000, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  unsigned char reply[5];
  bool ok = send_frame(fd, name.data(), name.size()) && receive_all(fd, reply, sizeof reply) && read_le32(reply) == 1 &&
            reply[4] == gateway_connected;
  timeval none{0, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
  return ok;
}

}  // namespace

PipeClient::PipeClient(std::unique_ptr<State> state) : state_(std::move(state)) {}

PipeClient::~PipeClient() = default;

std::unique_ptr<PipeClient> PipeClient::open(const std::string& path) {
  auto parts = parse_pipe_path(path);
  if (!parts) return nullptr;
  std::unique_ptr<State> state;
  if (parts->machine == ".") {
    auto socket_path = pipe_socket_path(parts->name);
    if (!socket_path) return nullptr;
    int fd = connect_pipe_socket(*socket_path, local_connect_wait_ms);
    if (fd < 0) return nullptr;
    state = std::make_unique<LocalClient>(fd);
  } else {
    if (parts->name.size() > max_remote_name) return nullptr;
    int fd = connect_gateway(parts->machine);
    if (fd < 0) return nullptr;
    state = std::make_unique<RemoteClient>(fd);
    if (!request_pipe(fd, parts->name)) return nullptr;
  }
  return std::unique_ptr<PipeClient>(new PipeClient(std::move(state)));
}

std::optional<PipeWaiting> PipeClient::peek() { return state_->peek(); }

std::optional<std::size_t> PipeClient::read(char* buffer, std::size_t size) { return state_->read(buffer, size); }

bool PipeClient::write_message(const void* data, std::size_t size) { return state_->write(data, size); }

}  // namespace qor::platform

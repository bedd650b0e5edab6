// Round trips over a named pipe through the OS layer: the client writes a
// message, the server thread reads it and writes a message of the same size
// back, the client reads it. Baseline, measured in the same run with the same
// sizes: the same round trip on the raw services (native: an AF_UNIX
// SOCK_SEQPACKET connection; win32: a message pipe used with plain
// ReadFile/WriteFile). On native a remote pipe through the gateway of this
// machine is measured too, against a raw TCP round trip on the loopback.
//
//   pipe_bench [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_pipe.h"
#include "platform/process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

using namespace qor::platform;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
  double p50 = 0, mean = 0;
};

// One measured way of making round trips: `round` makes one of `size`
// bytes; `stop` ends the echo side.
struct Way {
  std::function<bool(std::size_t size)> round;
  std::function<void()> stop;
};

Figures figures(std::vector<double> us) {
  std::sort(us.begin(), us.end());
  Figures f;
  f.p50 = us[us.size() / 2];
  for (double v : us) f.mean += v;
  f.mean /= static_cast<double>(us.size());
  return f;
}

double timed_round(const Way& way, std::size_t size) {
  auto start = Clock::now();
  if (!way.round(size)) {
    std::fprintf(stderr, "pipe_bench: a round trip failed\n");
    std::exit(1);
  }
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Round trips of the two ways taken in turns, so that whatever the machine
// does meanwhile (scheduling, other work) hits both alike.
void measure(const Way& raw, const Way& layer, std::size_t size, int rounds, Figures& raw_figures,
             Figures& layer_figures) {
  for (int i = 0; i < rounds / 10 + 1; ++i) {  // warm-up
    timed_round(raw, size);
    timed_round(layer, size);
  }
  std::vector<double> raw_us, layer_us;
  raw_us.reserve(static_cast<std::size_t>(rounds));
  layer_us.reserve(static_cast<std::size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
    if (i % 2) {
      raw_us.push_back(timed_round(raw, size));
      layer_us.push_back(timed_round(layer, size));
    } else {
      layer_us.push_back(timed_round(layer, size));
      raw_us.push_back(timed_round(raw, size));
    }
  }
  raw_figures = figures(raw_us);
  layer_figures = figures(layer_us);
}

std::string unique_name() {
  static int counter = 0;
  return "qor_pipe_bench_" + std::to_string(current_process_id()) + "_" + std::to_string(++counter);
}

// --- through the OS layer ---------------------------------------------------

Way layer_way(const std::string& machine) {
  std::string name = unique_name();
  std::shared_ptr<PipeServer> server = PipeServer::create("\\\\.\\PIPE\\" + name, 1);
  if (!server) {
    std::fprintf(stderr, "pipe_bench: cannot create a pipe\n");
    std::exit(1);
  }
  auto echo = std::make_shared<std::thread>([server] {
    if (!server->wait_for_client()) return;
    std::vector<char> buffer(pipe_buffer_size);
    while (auto n = server->read_message(buffer.data(), buffer.size()))
      if (!server->write_message(buffer.data(), *n)) break;
  });
  std::shared_ptr<PipeClient> client;
  for (int i = 0; i < 500 && !client; ++i) {
    client = PipeClient::open("\\\\" + machine + "\\PIPE\\" + name);
    if (!client) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!client) {
    std::fprintf(stderr, "pipe_bench: cannot open %s\n", machine.c_str());
    std::exit(1);
  }
  auto buffer = std::make_shared<std::vector<char>>(pipe_buffer_size, 'x');
  Way way;
  way.round = [client, buffer](std::size_t size) {
    if (!client->write_message(buffer->data(), size)) return false;
    std::size_t got = 0;
    while (got < size) {
      auto n = client->read(buffer->data() + got, buffer->size() - got);
      if (!n) return false;
      got += *n;
    }
    return true;
  };
  way.stop = [server, echo, client]() mutable {
    server->cancel();
    echo->join();
    client.reset();
  };
  return way;
}

// --- the raw services -------------------------------------------------------

#ifdef _WIN32

Way raw_way() {
  std::string path = "\\\\.\\PIPE\\" + unique_name();
  HANDLE server =
      CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                       pipe_buffer_size, pipe_buffer_size, 0, nullptr);
  HANDLE client = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (server == INVALID_HANDLE_VALUE || client == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "pipe_bench: cannot make a raw pipe\n");
    std::exit(1);
  }
  ConnectNamedPipe(server, nullptr);
  auto echo = std::make_shared<std::thread>([server] {
    std::vector<char> buffer(pipe_buffer_size);
    DWORD n = 0, written = 0;
    while (ReadFile(server, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr) && n > 0)
      if (!WriteFile(server, buffer.data(), n, &written, nullptr)) break;
  });
  auto buffer = std::make_shared<std::vector<char>>(pipe_buffer_size, 'x');
  Way way;
  way.round = [client, buffer](std::size_t size) {
    DWORD n = 0;
    if (!WriteFile(client, buffer->data(), static_cast<DWORD>(size), &n, nullptr)) return false;
    std::size_t got = 0;
    while (got < size) {
      if (!ReadFile(client, buffer->data() + got, static_cast<DWORD>(buffer->size() - got), &n, nullptr)) return false;
      got += n;
    }
    return true;
  };
  way.stop = [server, client, echo] {
    CloseHandle(client);
    echo->join();
    CloseHandle(server);
  };
  return way;
}

#else

// Round trips over a connected pair of sockets, echoed by a thread on the
// server end.
Way raw_socket_way(int client, int server) {
  auto echo = std::make_shared<std::thread>([server] {
    std::vector<char> buffer(pipe_buffer_size);
    for (;;) {
      ssize_t n = recv(server, buffer.data(), buffer.size(), 0);
      if (n <= 0) break;
      ssize_t sent = 0;
      while (sent < n) {
        ssize_t m = send(server, buffer.data() + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
        if (m <= 0) return;
        sent += m;
      }
    }
  });
  auto buffer = std::make_shared<std::vector<char>>(pipe_buffer_size, 'x');
  Way way;
  way.round = [client, buffer](std::size_t size) {
    std::size_t sent = 0;
    while (sent < size) {
      ssize_t n = send(client, buffer->data() + sent, size - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    std::size_t got = 0;
    while (got < size) {
      ssize_t n = recv(client, buffer->data() + got, buffer->size() - got, 0);
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    return true;
  };
  way.stop = [client, server, echo] {
    shutdown(client, SHUT_RDWR);
    echo->join();
    close(client);
    close(server);
  };
  return way;
}

// A listening socket of `family`/`type` bound to `address`, one connection
// made to it, both ends handed to raw_socket_way.
Way raw_connected_way(int family, int type, sockaddr* address, socklen_t length, bool nodelay) {
  int listener = socket(family, type, 0);
  if (listener < 0 || bind(listener, address, length) != 0 || listen(listener, 1) != 0 ||
      getsockname(listener, address, &length) != 0) {
    std::fprintf(stderr, "pipe_bench: cannot make a raw socket\n");
    std::exit(1);
  }
  int client = socket(family, type, 0);
  if (connect(client, address, length) != 0) {
    std::fprintf(stderr, "pipe_bench: cannot connect a raw socket\n");
    std::exit(1);
  }
  int server = accept(listener, nullptr, nullptr);
  close(listener);
  if (nodelay) {
    int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  return raw_socket_way(client, server);
}

Way raw_way() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = "/tmp/" + unique_name();
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  Way way = raw_connected_way(AF_UNIX, SOCK_SEQPACKET, reinterpret_cast<sockaddr*>(&address), sizeof address, false);
  unlink(path.c_str());
  return way;
}

Way raw_tcp_way() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return raw_connected_way(AF_INET, SOCK_STREAM, reinterpret_cast<sockaddr*>(&address), sizeof address, true);
}

// A free TCP port for this run's gateway.
std::uint16_t free_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  socklen_t length = sizeof address;
  std::uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

#endif

void compare(const char* what, const char* baseline, Way raw, Way layer, int rounds) {
  std::printf("\n%s (baseline: %s)\n", what, baseline);
  std::printf("%8s %8s %12s %12s %12s %12s %8s %8s\n", "bytes", "rounds", "raw p50 us", "layer p50 us", "raw mean",
              "layer mean", "p50 x", "mean x");
  for (std::size_t size : {16u, 1024u, 10239u}) {
    int n = size > 4096 ? rounds / 4 : rounds;
    Figures r, l;
    measure(raw, layer, size, n, r, l);
    std::printf("%8zu %8d %12.2f %12.2f %12.2f %12.2f %8.2f %8.2f\n", size, n, r.p50, l.p50, r.mean, l.mean,
                l.p50 / r.p50, l.mean / r.mean);
  }
  raw.stop();
  layer.stop();
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 4000;
  if (rounds < 10) rounds = 10;
  std::printf("pipe round trips: the client writes, the server answers with as many bytes\n");
#ifdef _WIN32
  compare("local pipe, OS layer", "CreateNamedPipeA/CreateFileA with plain ReadFile/WriteFile", raw_way(),
          layer_way("."), rounds);
#else
  // The gateway of this process listens on a port of its own, before any
  // pipe exists.
  setenv("QOR_PIPE_PORT", std::to_string(free_port()).c_str(), 1);
  compare("local pipe, OS layer", "raw AF_UNIX SOCK_SEQPACKET", raw_way(), layer_way("."), rounds);
  compare("remote pipe to 127.0.0.1, through the gateway (one more hop)", "raw TCP on the loopback", raw_tcp_way(),
          layer_way("127.0.0.1"), rounds);
#endif
  return 0;
}

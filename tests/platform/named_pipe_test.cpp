#include "platform/named_pipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/runtime_dir.h"
#endif

using namespace qor::platform;
using qor::test::helper_program;
using qor::test::on_win32;
using qor::test::unique_name;

namespace {

constexpr std::uint32_t generous_ms = 20000;

std::string pipe_path(const std::string& machine, const std::string& name) {
  return "\\\\" + machine + "\\PIPE\\" + name;
}

std::string local_path(const std::string& name) { return pipe_path(".", name); }

std::string new_name() { return unique_name("qor_pipe"); }

bool send(PipeServer& server, const std::string& text) { return server.write_message(text.data(), text.size()); }
bool send(PipeClient& client, const std::string& text) { return client.write_message(text.data(), text.size()); }

// One message, or "<failed>".
std::string receive(PipeServer& server, std::size_t size = pipe_buffer_size) {
  std::vector<char> buffer(size + 1);
  auto n = server.read_message(buffer.data(), size);
  return n ? std::string(buffer.data(), *n) : "<failed>";
}

// What one client read returns, or "<failed>".
std::string receive(PipeClient& client, std::size_t size = pipe_buffer_size) {
  std::vector<char> buffer(size + 1);
  auto n = client.read(buffer.data(), size);
  return n ? std::string(buffer.data(), *n) : "<failed>";
}

std::string text_of(const std::optional<PipeWaiting>& waiting) {
  if (!waiting) return "<failed>";
  return std::to_string(waiting->total) + "/" + std::to_string(waiting->in_message);
}

// Peeks until at least `total` bytes wait (bytes from another process or
// machine may take a moment), at most generous_ms.
std::optional<PipeWaiting> peek_for(PipeClient& client, std::size_t total) {
  std::uint32_t start = tick_ms();
  for (;;) {
    auto waiting = client.peek();
    if (!waiting || waiting->total >= total || tick_ms() - start > generous_ms) return waiting;
    sleep_ms(5);
  }
}

// Opens a pipe that another process is about to create.
std::unique_ptr<PipeClient> open_soon(const std::string& path) {
  std::uint32_t start = tick_ms();
  std::unique_ptr<PipeClient> client;
  while (!(client = PipeClient::open(path)) && tick_ms() - start < generous_ms) sleep_ms(20);
  return client;
}

std::string peer_command(const std::string& arguments) {
  return quote_argument(helper_program("pipe_peer")) + " " + arguments;
}

// A local server and one connected client.
struct Connected {
  std::string name = new_name();
  std::unique_ptr<PipeServer> server = PipeServer::create(local_path(name), 4);
  std::unique_ptr<PipeClient> client = server ? PipeClient::open(local_path(name)) : nullptr;
  bool ok() { return server && client && server->wait_for_client(); }
};

TEST(NamedPipe, MessagesTravelBothWaysAndKeepTheirBoundaries) {
  Connected pipe;
  ASSERT_TRUE(pipe.ok());

  for (const char* text : {"one", "two!", "three"}) ASSERT_TRUE(send(*pipe.client, text));
  EXPECT_EQ(receive(*pipe.server), "one");
  EXPECT_EQ(receive(*pipe.server), "two!");
  EXPECT_EQ(receive(*pipe.server), "three");

  ASSERT_TRUE(send(*pipe.server, "ab"));
  ASSERT_TRUE(send(*pipe.server, "cde"));
  EXPECT_EQ(text_of(pipe.client->peek()), "5/2") << "the client sees where the first message ends";
  EXPECT_EQ(receive(*pipe.client), "abcde") << "the client end reads bytes, across messages";
}

TEST(NamedPipe, PeekTellsWhatWaitsWithoutReading) {
  Connected pipe;
  ASSERT_TRUE(pipe.ok());
  ASSERT_TRUE(send(*pipe.server, "hello"));
  ASSERT_TRUE(send(*pipe.server, "worlds!"));

  struct Step {
    std::size_t read;  // 0: only peek
    const char* got;
    const char* then_waiting;  // total/in_message
  };
  const Step steps[] = {
      {0, "", "12/5"},       {0, "", "12/5"},  // looking twice reads nothing
      {3, "hel", "9/2"},                       // part of a message
      {4, "lowo", "5/5"},                      // its rest and part of the next
      {100, "rlds!", "0/0"},
  };
  for (const Step& step : steps) {
    if (step.read > 0) {
      EXPECT_EQ(receive(*pipe.client, step.read), step.got);
    }
    EXPECT_EQ(text_of(pipe.client->peek()), step.then_waiting) << "after reading " << step.read;
  }
}

TEST(NamedPipe, ServerReadFailsOnAMessageLongerThanItsBufferAndGoesOn) {
  struct Case {
    std::size_t message;
    std::size_t buffer;
    bool fits;
  };
  const Case cases[] = {
      {pipe_buffer_size, pipe_buffer_size, true},
      {pipe_buffer_size + 1, pipe_buffer_size, false},
      {5, 4, false},
      {4, 4, true},
  };
  for (const Case& c : cases) {
    Connected pipe;
    ASSERT_TRUE(pipe.ok());
    std::string message(c.message, 'x');
    // A message beyond the pipe's buffer may hold the writer until it is read.
    std::thread writer([&] { EXPECT_TRUE(send(*pipe.client, message)); });
    std::string got = receive(*pipe.server, c.buffer);
    writer.join();
    EXPECT_EQ(got, c.fits ? message : "<failed>") << c.message << " bytes into " << c.buffer;
    ASSERT_TRUE(send(*pipe.client, "next"));
    EXPECT_EQ(receive(*pipe.server), "next") << "the long message is dropped whole";
  }
}

TEST(NamedPipe, EachClientIsServedByItsOwnInstance) {
  for (int count : {2, 6}) {
    std::string path = local_path(new_name());
    std::vector<std::unique_ptr<PipeServer>> servers;
    std::vector<std::unique_ptr<PipeClient>> clients;
    // As a server does: a new listening instance once the last one has its client.
    for (int i = 0; i < count; ++i) {
      servers.push_back(PipeServer::create(path, 8));
      ASSERT_TRUE(servers.back());
      clients.push_back(PipeClient::open(path));
      ASSERT_TRUE(clients.back());
      ASSERT_TRUE(servers.back()->wait_for_client());
    }
    std::vector<std::thread> threads;
    for (auto& server : servers)
      threads.emplace_back([&server] {
        std::string message = receive(*server);
        EXPECT_TRUE(send(*server, "re:" + message));
      });
    for (int i = count - 1; i >= 0; --i) ASSERT_TRUE(send(*clients[i], "client " + std::to_string(i)));
    for (auto& thread : threads) thread.join();
    for (int i = 0; i < count; ++i) EXPECT_EQ(receive(*clients[i]), "re:client " + std::to_string(i));
  }
}

TEST(NamedPipe, InstanceLimitIsKeptPerName) {
  std::string path = local_path(new_name());
  auto first = PipeServer::create(path, 2);
  auto second = PipeServer::create(path, 2);
  ASSERT_TRUE(first && second);
  EXPECT_FALSE(PipeServer::create(path, 2)) << "a third instance beyond the limit of 2";
  EXPECT_TRUE(PipeServer::create(local_path(new_name()), 2)) << "other names have their own limit";
  first.reset();
  EXPECT_TRUE(PipeServer::create(path, 2)) << "a freed instance can be created again";

  for (int limit : {0, -1, pipe_max_instances + 1})
    EXPECT_FALSE(PipeServer::create(local_path(new_name()), limit)) << "limit " << limit;
}

TEST(NamedPipe, OpeningAMissingPipeFails) {
  EXPECT_FALSE(PipeClient::open(local_path(new_name()))) << "never created";

  std::string gone = local_path(new_name());
  PipeServer::create(gone, 1).reset();
  EXPECT_FALSE(PipeClient::open(gone)) << "its only instance has ended";
}

TEST(NamedPipe, PathsThatAreNotPipePathsAreRefused) {
  std::string name = new_name();
  const std::string paths[] = {
      "", name, "\\\\.\\" + name, "\\\\.\\PIPE\\", "\\\\.\\PIPES\\" + name, "\\\\\\PIPE\\" + name, "\\.\\PIPE\\" + name,
  };
  for (const std::string& path : paths) {
    EXPECT_FALSE(PipeServer::create(path, 1)) << path;
    EXPECT_FALSE(PipeClient::open(path)) << path;
  }
  EXPECT_FALSE(PipeServer::create(pipe_path("elsewhere", name), 1)) << "a server creates pipes of its own machine only";

  auto server = PipeServer::create("\\\\.\\pipe\\" + name, 1);
  EXPECT_TRUE(server) << "\"PIPE\" in any case";
  EXPECT_TRUE(server && PipeClient::open("\\\\.\\Pipe\\" + name));
}

TEST(NamedPipe, ServerReadFailsWhenTheClientGoesAwayAndTheInstanceServesTheNext) {
  Connected pipe;
  ASSERT_TRUE(pipe.ok());
  ASSERT_TRUE(send(*pipe.client, "last words"));
  pipe.client.reset();
  EXPECT_EQ(receive(*pipe.server), "last words") << "what the client wrote before it went is still read";
  EXPECT_EQ(receive(*pipe.server), "<failed>");
  EXPECT_FALSE(send(*pipe.server, "anyone?"));
  pipe.server->disconnect();

  // A disconnected instance takes a client again once it waits for one.
  bool waited = false;
  std::thread waiter([&] { waited = pipe.server->wait_for_client(); });
  auto next = open_soon(local_path(pipe.name));
  waiter.join();
  ASSERT_TRUE(next && waited);
  ASSERT_TRUE(send(*next, "hi"));
  EXPECT_EQ(receive(*pipe.server), "hi");
  ASSERT_TRUE(send(*pipe.server, "bye"));
  EXPECT_EQ(receive(*next), "bye");
}

TEST(NamedPipe, AClientThatCameAndWentBeforeTheWaitMakesTheReadFail) {
  std::string name = new_name();
  auto server = PipeServer::create(local_path(name), 2);
  ASSERT_TRUE(server);
  auto client = PipeClient::open(local_path(name));
  ASSERT_TRUE(client);
  client.reset();
  EXPECT_TRUE(server->wait_for_client());
  EXPECT_EQ(receive(*server), "<failed>");

  auto successor = PipeServer::create(local_path(name), 2);
  ASSERT_TRUE(successor) << "the name goes on with a new instance";
  auto next = PipeClient::open(local_path(name));
  ASSERT_TRUE(next && successor->wait_for_client());
  ASSERT_TRUE(send(*next, "still here"));
  EXPECT_EQ(receive(*successor), "still here");
}

TEST(NamedPipe, CancelReleasesAThreadBlockedInTheInstance) {
  for (bool reading : {false, true}) {
    SCOPED_TRACE(reading ? "blocked in a read" : "blocked waiting for a client");
    std::string name = new_name();
    auto server = PipeServer::create(local_path(name), 1);
    ASSERT_TRUE(server);
    std::unique_ptr<PipeClient> client;
    if (reading) {
      client = PipeClient::open(local_path(name));
      ASSERT_TRUE(client && server->wait_for_client());
    }
    std::atomic<bool> returned{false};
    bool result = true;
    std::uint32_t start = tick_ms();
    std::thread blocked([&] {
      char buffer[64];
      result = reading ? server->read_message(buffer, sizeof buffer).has_value() : server->wait_for_client();
      returned = true;
    });
    sleep_ms(50);
    EXPECT_FALSE(returned) << "the call blocks until something happens";
    server->cancel();
    blocked.join();
    EXPECT_FALSE(result);
    EXPECT_LT(tick_ms() - start, generous_ms);

    char buffer[64];
    EXPECT_FALSE(server->wait_for_client()) << "a cancelled instance stays cancelled";
    EXPECT_FALSE(server->read_message(buffer, sizeof buffer));
    EXPECT_FALSE(send(*server, "late"));
    server.reset();
    if (client) {
      EXPECT_FALSE(client->peek()) << "the client sees the instance gone";
    }
  }
}

TEST(NamedPipe, ClientAndServerInAnotherProcess) {
  // This process serves, the helper is the client.
  std::string name = new_name();
  auto server = PipeServer::create(local_path(name), 1);
  ASSERT_TRUE(server);
  Process client = start_process(peer_command("client . " + name + " ping echo:ping"), "");
  ASSERT_TRUE(client);
  ASSERT_TRUE(server->wait_for_client());
  EXPECT_EQ(receive(*server), "ping");
  EXPECT_TRUE(send(*server, "echo:ping"));
  std::uint32_t code = 99;
  EXPECT_TRUE(client.wait(generous_ms, &code));
  EXPECT_EQ(code, 0u);

  // The helper serves, this process is the client.
  std::string served = new_name();
  Process peer = start_process(peer_command("serve " + served + " 1"), "");
  ASSERT_TRUE(peer);
  auto pipe = open_soon(local_path(served));
  ASSERT_TRUE(pipe);
  ASSERT_TRUE(send(*pipe, "pair"));
  EXPECT_EQ(text_of(peek_for(*pipe, 12)), "12/5");
  EXPECT_EQ(receive(*pipe), "firstsecond!");
  pipe.reset();
  EXPECT_TRUE(peer.wait(generous_ms, &code));
  EXPECT_EQ(code, 0u);
}

// --- the native mapping -------------------------------------------------

#ifndef _WIN32
std::string socket_file(const std::string& file_name) {
  return qor::platform::posix::runtime_dir() + "/pipes/" + file_name;
}
#endif

TEST(NamedPipeNative, ANameBelongsToOneLiveProcessAndOutlivesADeadOne) {
  if (on_win32)
    GTEST_SKIP() << "Windows lets every process add instances of a name; native gives a name to one process";
#ifndef _WIN32
  std::string name = new_name();
  Process holder = start_process(peer_command("hold " + name), "");
  ASSERT_TRUE(holder);
  ASSERT_TRUE(open_soon(local_path(name))) << "the holder serves the name";
  EXPECT_FALSE(PipeServer::create(local_path(name), 4)) << "while another live process holds it";

  // Killed, the holder leaves its socket file behind.
  ASSERT_TRUE(holder.kill());
  ASSERT_TRUE(holder.wait(generous_ms));
  struct stat left {};
  ASSERT_EQ(stat(socket_file(name).c_str(), &left), 0);
  EXPECT_FALSE(PipeClient::open(local_path(name)));

  auto server = PipeServer::create(local_path(name), 4);
  ASSERT_TRUE(server) << "the stale socket is replaced";
  auto client = PipeClient::open(local_path(name));
  ASSERT_TRUE(client && server->wait_for_client());
  ASSERT_TRUE(send(*client, "mine"));
  EXPECT_EQ(receive(*server), "mine");

  struct stat made {};
  ASSERT_EQ(stat(socket_file(name).c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 0777, 0666u) << "every user may connect";
  server.reset();
  EXPECT_NE(stat(socket_file(name).c_str(), &made), 0) << "the last instance removes its socket";
#endif
}

TEST(NamedPipeNative, NamesMapToSocketFilesInsideThePipeFolder) {
  if (on_win32) GTEST_SKIP() << "native file names only";
#ifndef _WIN32
  std::string tag = new_name();
  struct Case {
    std::string name;
    std::string file;
  };
  const Case cases[] = {
      {"../" + tag, "%2E.%2F" + tag}, {tag + "/x", tag + "%2Fx"},     {tag + "%2Fx", tag + "%252Fx"},
      {".x" + tag, "%2Ex" + tag},     {tag + " y.z", tag + "%20y.z"},
  };
  std::vector<std::unique_ptr<PipeServer>> servers;
  for (const Case& c : cases) {
    servers.push_back(PipeServer::create(local_path(c.name), 1));
    ASSERT_TRUE(servers.back()) << c.name;
    struct stat file {};
    EXPECT_EQ(stat(socket_file(c.file).c_str(), &file), 0) << c.name << " -> " << c.file;
  }
  struct stat outside {};
  EXPECT_NE(stat((qor::platform::posix::runtime_dir() + "/" + tag).c_str(), &outside), 0);
  // Names that look alike reach their own pipes.
  for (std::size_t i = 0; i < servers.size(); ++i) {
    auto client = PipeClient::open(local_path(cases[i].name));
    ASSERT_TRUE(client && servers[i]->wait_for_client()) << cases[i].name;
    ASSERT_TRUE(send(*client, cases[i].name));
    EXPECT_EQ(receive(*servers[i]), cases[i].name);
  }
#endif
}

// --- remote pipes ---------------------------------------------------------

#ifndef _WIN32
// A TCP port nobody listens on just now.
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

// One client's talk with a pipe_peer server across the network.
void talk_to_remote_echo(const std::string& path) {
  auto pipe = open_soon(path);
  ASSERT_TRUE(pipe) << path;
  ASSERT_TRUE(send(*pipe, "hello"));
  EXPECT_EQ(text_of(peek_for(*pipe, 10)), "10/10");
  EXPECT_EQ(receive(*pipe), "echo:hello");

  ASSERT_TRUE(send(*pipe, "pair"));
  EXPECT_EQ(text_of(peek_for(*pipe, 12)), "12/5") << "two messages, sizes told without reading";
  EXPECT_EQ(receive(*pipe, 3), "fir");
  EXPECT_EQ(text_of(pipe->peek()), "9/2");
  EXPECT_EQ(receive(*pipe), "stsecond!");

  // Two messages written at once reach the server as two.
  ASSERT_TRUE(send(*pipe, "a"));
  ASSERT_TRUE(send(*pipe, "bc"));
  EXPECT_EQ(text_of(peek_for(*pipe, 13)), "13/6");
  EXPECT_EQ(receive(*pipe), "echo:aecho:bc");
}
#endif

TEST(RemotePipe, ThroughTheGatewayOfThisMachine) {
  if (on_win32) GTEST_SKIP() << "remote pipes of Windows travel over SMB, which Wine does not carry between machines";
#ifndef _WIN32
  std::uint16_t port = free_port();
  ASSERT_NE(port, 0);
  setenv("QOR_PIPE_PORT", std::to_string(port).c_str(), 1);
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);

  std::string name = new_name();
  Process peer = start_process(peer_command("serve " + name + " 2"), "");
  ASSERT_TRUE(peer);
  {
    SCOPED_TRACE("127.0.0.1");
    talk_to_remote_echo(pipe_path("127.0.0.1", name));
  }
  EXPECT_FALSE(PipeClient::open(pipe_path("127.0.0.1", new_name()))) << "no such pipe behind the gateway";
  {
    SCOPED_TRACE(host);
    talk_to_remote_echo(pipe_path(host, name));
  }
  std::uint32_t code = 99;
  EXPECT_TRUE(peer.wait(generous_ms, &code));
  EXPECT_EQ(code, 0u);

  setenv("QOR_PIPE_PORT", std::to_string(free_port()).c_str(), 1);
  EXPECT_FALSE(PipeClient::open(pipe_path("127.0.0.1", name))) << "no gateway on that port";
  unsetenv("QOR_PIPE_PORT");
#endif
}

#ifndef _WIN32
// A raw TCP connection to the gateway on this machine's `port`, for the
// bytes a program of someone else could send.
struct RawGatewayConnection {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  explicit RawGatewayConnection(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd);
      fd = -1;
    }
  }
  ~RawGatewayConnection() {
    if (fd >= 0) close(fd);
  }
  bool send_bytes(const std::string& bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // Everything up to the gateway's end of the connection.
  std::string rest() {
    std::string got;
    char buffer[256];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) got.append(buffer, static_cast<std::size_t>(n));
    return got;
  }
};

std::string frame(const std::string& payload) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(payload.size() >> (8 * i));
  return bytes + payload;
}
#endif

TEST(RemotePipe, TheGatewayTurnsAwayWhatIsNotARequestOfOurs) {
  if (on_win32) GTEST_SKIP() << "the gateway is the native carrier of remote pipes";
#ifndef _WIN32
  std::uint16_t port = free_port();
  ASSERT_NE(port, 0);
  setenv("QOR_PIPE_PORT", std::to_string(port).c_str(), 1);
  std::string name = new_name();
  Process peer = start_process(peer_command("serve " + name + " 2"), "");
  ASSERT_TRUE(peer);
  std::uint32_t start = tick_ms();
  while (RawGatewayConnection(port).fd < 0 && tick_ms() - start < generous_ms) sleep_ms(20);

  const std::string bad_name = frame(std::string(1, '\x7B')), no_such_pipe = frame(std::string(1, '\x02'));
  struct Case {
    const char* what;
    std::string request;
    std::string answer;
  };
  const Case cases[] = {
      {"a name longer than any", std::string("\xFF\xFF\xFF\x7F", 4), bad_name},
      {"an empty name", frame(""), bad_name},
      {"a backslash in the name", frame("a\\b"), bad_name},
      {"a pipe nobody serves", frame(new_name()), no_such_pipe},
  };
  for (const Case& c : cases) {
    RawGatewayConnection connection(port);
    ASSERT_GE(connection.fd, 0);
    ASSERT_TRUE(connection.send_bytes(c.request));
    EXPECT_EQ(connection.rest(), c.answer) << c.what;
  }

  {
    // Connected, then a frame beyond the limit: the gateway ends the
    // connection, and the server's read fails.
    RawGatewayConnection connection(port);
    ASSERT_TRUE(connection.send_bytes(frame(name)));
    ASSERT_TRUE(connection.send_bytes(std::string("\x00\x00\x10\x00", 4) + "only a little"));
    EXPECT_EQ(connection.rest(), frame(std::string(1, '\0')));
  }
  // The server goes on with its next client.
  auto client = open_soon(pipe_path("127.0.0.1", name));
  ASSERT_TRUE(client);
  ASSERT_TRUE(send(*client, "still there?"));
  EXPECT_EQ(receive(*client), "echo:still there?");
  client.reset();
  std::uint32_t code = 99;
  EXPECT_TRUE(peer.wait(generous_ms, &code));
  EXPECT_EQ(code, 0u);
  unsetenv("QOR_PIPE_PORT");
#endif
}


TEST(RemotePipe, AcrossTwoNetworkNamespaces) {
  if (on_win32) GTEST_SKIP() << "remote pipes of Windows travel over SMB, which Wine does not carry between machines";
#ifndef _WIN32
  qor::test::NamespacePair hosts("qorpipe", "10.231.0");
  if (!hosts.made) GTEST_SKIP() << "network namespaces cannot be made here (needs root and iproute2)";

  std::string name = new_name();
  Process peer = start_process("ip netns exec " + hosts.server + " " + peer_command("serve " + name + " 1"), "");
  ASSERT_TRUE(peer);
  // The client runs on a thread that has moved into the other namespace.
  std::thread client([&] {
    int ns = open(("/var/run/netns/" + hosts.client).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(ns, 0);
    ASSERT_EQ(setns(ns, CLONE_NEWNET), 0);
    close(ns);
    EXPECT_FALSE(PipeClient::open(pipe_path("127.0.0.1", name))) << "the pipe is not in the client's namespace";
    talk_to_remote_echo(pipe_path("10.231.0.1", name));
  });
  client.join();
  std::uint32_t code = 99;
  if (!peer.wait(generous_ms, &code)) peer.kill();
  EXPECT_EQ(code, 0u);
#endif
}

}  // namespace

// The other process of the named pipe tests.
//
//   pipe_peer serve NAME CLIENTS   serves "\\.\PIPE\NAME": CLIENTS clients one
//                                  after the other; each message M is answered
//                                  with "echo:M", except "pair", answered with
//                                  the two messages "first" and "second!"
//   pipe_peer hold NAME            holds "\\.\PIPE\NAME" (and serves it the
//                                  same way) until it is killed
//   pipe_peer client MACHINE NAME MESSAGE EXPECTED
//                                  opens "\\MACHINE\PIPE\NAME" (trying for up
//                                  to 10 s), writes MESSAGE and reads one reply;
//                                  exit code 0 when it is EXPECTED
//
// Every mode gives up after 60 s (exit code 3), so that no peer outlives a
// test that went wrong.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/named_pipe.h"

using namespace qor::platform;

namespace {

std::string pipe_path(const std::string& machine, const std::string& name) {
  return "\\\\" + machine + "\\PIPE\\" + name;
}

bool send_text(PipeServer& server, const std::string& text) { return server.write_message(text.data(), text.size()); }

// Serves one client until it goes away.
void serve_client(PipeServer& server) {
  char buffer[pipe_buffer_size];
  while (auto n = server.read_message(buffer, sizeof buffer)) {
    std::string message(buffer, *n);
    bool ok = message == "pair" ? send_text(server, "first") && send_text(server, "second!")
                                : send_text(server, "echo:" + message);
    if (!ok) break;
  }
  server.disconnect();
}

int serve(const std::string& name, long clients) {
  auto server = PipeServer::create(pipe_path(".", name), 10);
  if (!server) {
    std::fprintf(stderr, "pipe_peer: cannot create %s\n", name.c_str());
    return 2;
  }
  for (long i = 0; clients < 0 || i < clients; ++i) {
    if (!server->wait_for_client()) return 2;
    serve_client(*server);
  }
  return 0;
}

int client(const std::string& machine, const std::string& name, const std::string& message,
           const std::string& expected) {
  std::unique_ptr<PipeClient> pipe;
  std::uint32_t start = tick_ms();
  while (!(pipe = PipeClient::open(pipe_path(machine, name))) && tick_ms() - start < 10000) sleep_ms(20);
  if (!pipe) {
    std::fprintf(stderr, "pipe_peer: cannot open %s\n", pipe_path(machine, name).c_str());
    return 2;
  }
  if (!pipe->write_message(message.data(), message.size())) return 2;
  char buffer[pipe_buffer_size];
  auto n = pipe->read(buffer, sizeof buffer);
  if (!n) return 2;
  std::string reply(buffer, *n);
  if (reply != expected) {
    std::fprintf(stderr, "pipe_peer: got \"%s\", expected \"%s\"\n", reply.c_str(), expected.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::thread([] {
    sleep_ms(60000);
    std::_Exit(3);
  }).detach();
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "serve" && argc == 4) return serve(argv[2], std::strtol(argv[3], nullptr, 10));
  if (mode == "hold" && argc == 3) return serve(argv[2], -1);
  if (mode == "client" && argc == 6) return client(argv[2], argv[3], argv[4], argv[5]);
  std::fprintf(stderr, "usage: pipe_peer serve NAME CLIENTS | hold NAME | client MACHINE NAME MESSAGE EXPECTED\n");
  return 64;
}

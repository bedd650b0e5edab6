// The stand-in link server. The real link server is outside this system; this
// program does what the plug-ins require of one: it loads PipeHost and the
// transport drivers by name, calls their exports on one thread that also
// pumps window messages, gives exactly one verdict for every request it is
// handed, and carries terminal frames between the drivers and the hosts.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "linkserver/link_server.h"
#include "linkserver/options.h"
#include "linkserver/pipehost_binding.h"
#include "linkserver/transport_driver.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/window.h"

using namespace qor;

namespace {

linkserver::LinkServer* running_server = nullptr;
// PipeHost's window in this process. The legacy main window "Rivo63" has the
// title of PipeHost's window and, being the newer one, is what hosts find:
// the blocks they send it go on to PipeHost.
platform::WindowHandle plugin_window = platform::no_window;

platform::HandlerResult main_window_handler(platform::WindowHandle, const platform::WindowMessage& message) {
  if (message.id == platform::msg_close && running_server) running_server->stop();
  if (message.id == platform::msg_copydata && plugin_window)
    return platform::send_data(plugin_window, platform::msg_copydata, message.wparam, message.lparam, message.data,
                               message.size)
        .value_or(0);
  return std::nullopt;  // default processing: a close destroys the window
}

// Loads and starts a driver on `port`; null (with a message) when it fails.
std::unique_ptr<linkserver::TransportDriver> start_driver(const char* prefix, int port) {
  auto driver = std::make_unique<linkserver::TransportDriver>(prefix);
  if (!driver->error().empty()) {
    std::fprintf(stderr, "qorlink: %s\n", driver->error().c_str());
    return nullptr;
  }
  if (driver->init(port) != 1) {
    std::fprintf(stderr, "qorlink: %s could not take port %d\n", prefix, port);
    return nullptr;
  }
  return driver;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  linkserver::Options options = linkserver::parse_options(argv[0], args);
  if (options.help) {
    std::fputs(linkserver::usage_text(), stdout);
    return 0;
  }
  if (!options.error.empty()) {
    std::fprintf(stderr, "qorlink: %s (--help for the switches)\n", options.error.c_str());
    return 2;
  }

  linkserver::PipeHostExports pipe;
  std::string error = linkserver::bind_pipehost(pipe);
  if (!error.empty()) {
    std::fprintf(stderr, "qorlink: %s\n", error.c_str());
    return 1;
  }
  std::unique_ptr<linkserver::TransportDriver> udp, tcp;
  if (options.udp_port && !(udp = start_driver("QorUdp", options.udp_port))) return 1;
  if (options.tcp_port && !(tcp = start_driver("QorTcp", options.tcp_port))) return 1;

  int host_id = platform::read_profile_int(".\\" + options.instance + ".ini", "Global Parameters", "Host ID", 99);
  linkserver::LinkServer server(options, pipe, host_id, udp.get(), tcp.get());
  running_server = &server;

  // PipeHost first: it takes the instance only while no window carries the
  // instance name, and the legacy main window "Rivo63" would.
  if (pipe.init(options.instance.c_str()) != 1) {
    std::fprintf(stderr, "qorlink: PipeHost could not start the instance %s\n", options.instance.c_str());
    return 1;
  }
  platform::WindowHandle instance_window = platform::find_window(options.instance);
  if (instance_window && platform::window_process_id(instance_window) == platform::current_process_id())
    plugin_window = instance_window;
  std::string title = linkserver::main_window_title(options);
  platform::WindowHandle window = platform::create_window(title, main_window_handler);
  if (!window) {
    std::fprintf(stderr, "qorlink: the main window \"%s\" could not be created\n", title.c_str());
    pipe.tini();
    return 1;
  }
  if (options.trace) {
    std::printf("link server \"%s\" running instance %s, host id %d", title.c_str(), options.instance.c_str(),
                host_id);
    if (udp) std::printf(", udp port %d", options.udp_port);
    if (tcp) std::printf(", tcp port %d", options.tcp_port);
    std::printf("\n");
    std::fflush(stdout);
  }

  server.run();
  server.settle_unanswered();
  plugin_window = platform::no_window;
  pipe.tini();
  if (udp) udp->tini();
  if (tcp) tcp->tini();
  running_server = nullptr;
  platform::destroy_window(window);
  if (options.trace) std::printf("link server stopped\n");
  return 0;
}

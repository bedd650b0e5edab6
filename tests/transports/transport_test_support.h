#pragma once
// What the driver tests share: the driver library loaded by name with its
// exports bound by name (as a link server binds them), sockets that close
// themselves, and free ports.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/module.h"
#include "platform/socket.h"

namespace qor::test {

// Far longer than anything on the loopback interface takes; only a fault
// makes a test wait this long.
constexpr std::uint32_t generous_ms = 8000;

class Socket {
 public:
  explicit Socket(platform::SocketKind kind) : handle_(platform::open_socket(kind)) {}
  ~Socket() { close(); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  platform::SocketHandle get() const { return handle_; }
  void close() {
    if (handle_ != platform::invalid_socket) platform::close_socket(handle_);
    handle_ = platform::invalid_socket;
  }
  std::uint16_t port() const {
    platform::Endpoint local;
    return platform::local_endpoint(handle_, &local) ? local.port : 0;
  }
  bool bind_loopback() { return platform::bind_socket(handle_, {platform::loopback_address, 0}); }

 private:
  platform::SocketHandle handle_;
};

// A port that nobody on this machine used a moment ago: the system picks it
// for a socket bound to port 0, which is then closed again. Another run may
// still take it before the driver does, so callers retry their start.
inline std::uint16_t free_port(platform::SocketKind kind) {
  Socket probe(kind);
  if (!platform::bind_socket(probe.get(), {platform::any_address, 0})) return 0;
  return probe.port();
}

// The driver library and its six exports.
template <typename VersionFn, typename InitFn, typename TiniFn, typename PacketFn>
struct Driver {
  platform::ModuleHandle module = nullptr;
  VersionFn version = nullptr;
  InitFn init = nullptr;
  TiniFn tini = nullptr;
  PacketFn wait_packet = nullptr;
  PacketFn send_packet = nullptr;
  PacketFn reply = nullptr;

  // Loads `dll` and binds "<prefix>_Version" and the others.
  ::testing::AssertionResult load(const std::string& dll, const std::string& prefix) {
    module = platform::load_module(dll);
    if (!module) return ::testing::AssertionFailure() << "cannot load " << dll;
    bool bound = bind(version, prefix + "_Version") && bind(init, prefix + "_Init") && bind(tini, prefix + "_Tini") &&
                 bind(wait_packet, prefix + "_WaitPacket") && bind(send_packet, prefix + "_SendPacket") &&
                 bind(reply, prefix + "_Reply");
    return bound ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "missing export of " << dll;
  }
  void unload() {
    if (module) platform::unload_module(module);
    module = nullptr;
  }

 private:
  template <typename Fn>
  bool bind(Fn& fn, const std::string& name) {
    fn = reinterpret_cast<Fn>(platform::find_symbol(module, name.c_str()));
    return fn != nullptr;
  }
};

}  // namespace qor::test

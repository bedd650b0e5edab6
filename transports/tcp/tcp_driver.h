#pragma once
// The stream driver's state and operations, one object per loaded library.
//
// A listening IPv4 stream socket, an accept thread and one current
// connection. The accept thread makes every newly accepted connection the
// current one and shuts the older one down. The hand-over is safe: the
// current connection sits in a slot under a lock, and a packet operation
// holds a reference to the connection it started on, so a replaced
// connection's socket is closed only when the last operation using it has
// let go (it fails, as on a closed connection, and never touches the socket
// of another). Packet operations are meant for one caller thread at a time.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/event.h"
#include "platform/socket.h"
#include "transports/tcp/frame_reader.h"

namespace qor::transports::tcp {

class TcpDriver {
 public:
  // Waits for data are cut into slices of this many milliseconds, after each
  // of which the wait looks whether its connection has been replaced.
  static constexpr std::uint32_t slice_ms = 50;
  // How long tini waits for the accept thread to end.
  static constexpr std::uint32_t stop_wait_ms = 1000;

  TcpDriver() = default;
  ~TcpDriver();
  TcpDriver(const TcpDriver&) = delete;
  TcpDriver& operator=(const TcpDriver&) = delete;

  // 1 on success, 0 on failure.
  std::int32_t init(std::int32_t port);
  // 0.
  std::int32_t tini();
  // Stops as tini does but never joins the accept thread, for an unload
  // under the Windows loader lock (where a thread cannot finish ending).
  void stop_unjoined();

  std::int32_t wait_packet(std::int32_t timeout_ms, char* address, std::int32_t length, char* buffer);
  std::int32_t send_packet(std::int32_t length, const char* buffer);

 private:
  struct Connection;
  struct AcceptRun;

  std::shared_ptr<Connection> current() const;
  // Makes `next` (or none) the current connection and shuts the older down.
  void replace(std::shared_ptr<Connection> next);
  // Drops `connection` when it is still the current one.
  void drop(const std::shared_ptr<Connection>& connection);
  void accept_loop(const std::shared_ptr<AcceptRun>& run);
  void stop(bool join);
  // 1 readable, 0 time-out or the connection was replaced, -1 failure.
  int wait_readable(Connection& connection, std::uint32_t timeout_ms) const;

  mutable std::mutex mutex_;  // guards connection_
  std::shared_ptr<Connection> connection_;
  std::shared_ptr<AcceptRun> run_;
  std::thread accept_thread_;
};

}  // namespace qor::transports::tcp

#include "transports/tcp/tcp_driver.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"

namespace qor::transports::tcp {

using platform::Endpoint;
using platform::invalid_socket;
using platform::SocketError;
using platform::SocketHandle;

struct TcpDriver::Connection {
  Connection(SocketHandle s, std::string address) : socket(s), peer(std::move(address)) {}
  ~Connection() { platform::close_socket(socket); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Shut down at once, closed when the last user lets go.
  void retire() {
    retired = true;
    platform::shutdown_socket(socket);
  }

  const SocketHandle socket;
  const std::string peer;  // dotted-decimal; empty when it could not be read
  std::atomic<bool> retired{false};
  FrameReader reader;  // the caller's thread only
};

// One run of the accept thread, shared with it, so that a thread left
// running by a stop that timed out never sees a later run's state.
struct TcpDriver::AcceptRun {
  SocketHandle listener = invalid_socket;
  std::atomic<bool> stopping{false};
  platform::Event ended{true, false};
};

TcpDriver::~TcpDriver() { stop(true); }

std::shared_ptr<TcpDriver::Connection> TcpDriver::current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connection_;
}

void TcpDriver::replace(std::shared_ptr<Connection> next) {
  std::shared_ptr<Connection> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old = std::move(connection_);
    connection_ = std::move(next);
  }
  if (old) old->retire();
}

void TcpDriver::drop(const std::shared_ptr<Connection>& connection) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connection_ != connection) return;
    connection_.reset();
  }
  connection->retire();
}

std::int32_t TcpDriver::init(std::int32_t port) {
  // A second start without a stop would leave the first listener and its
  // thread behind: stop them first.
  stop(true);
  SocketHandle listener = platform::open_socket(platform::SocketKind::stream);
  if (listener == invalid_socket) return 0;
  if (!platform::bind_socket(listener, Endpoint{platform::any_address, static_cast<std::uint16_t>(port)}) ||
      !platform::listen_socket(listener, platform::max_backlog) ||
      // The accept thread waits in slices and must never block in accept.
      !platform::set_non_blocking(listener, true)) {
    platform::close_socket(listener);
    return 0;
  }
  auto run = std::make_shared<AcceptRun>();
  run->listener = listener;
  try {
    accept_thread_ = std::thread([this, run] { accept_loop(run); });
  } catch (...) {
    platform::close_socket(listener);
    return 0;
  }
  run_ = run;
  return 1;
}

void TcpDriver::accept_loop(const std::shared_ptr<AcceptRun>& run) {
  bool failed = false;
  while (!run->stopping) {
    int ready = platform::wait_readable(run->listener, slice_ms);
    if (ready < 0) {
      failed = true;
      break;
    }
    if (ready == 0) continue;
    SocketHandle accepted = platform::accept_socket(run->listener);
    if (accepted == invalid_socket) {
      // A connection that went away before it was taken, or no resources
      // for it just now, ends nothing; a listener that failed ends the thread.
      SocketError error = platform::last_socket_error();
      if (error == SocketError::would_block || error == SocketError::interrupted ||
          error == SocketError::connection_aborted || error == SocketError::connection_reset)
        continue;
      if (error == SocketError::too_many_sockets || error == SocketError::no_buffer_space) {
        platform::sleep_ms(10);
        continue;
      }
      failed = true;
      break;
    }
    // Accepted sockets inherit the listener's mode on win32.
    platform::set_non_blocking(accepted, false);
    Endpoint peer;
    std::string text;
    if (platform::peer_endpoint(accepted, &peer)) text = platform::ipv4_text(peer.address);
    replace(std::make_shared<Connection>(accepted, text));
  }
  // When accepting fails the current connection ends with it; a stop takes
  // care of the connection itself.
  if (failed && !run->stopping) replace(nullptr);
  run->ended.set();
}

void TcpDriver::stop(bool join) {
  if (run_) {
    run_->stopping = true;
    // Wakes a native wait at once; on win32 the thread sees the flag after
    // its current slice.
    platform::shutdown_socket(run_->listener);
    bool ended = run_->ended.wait(stop_wait_ms);
    if (ended && join)
      accept_thread_.join();
    else
      accept_thread_.detach();  // left running (or ending) on its own
    platform::close_socket(run_->listener);
    run_.reset();
  }
  replace(nullptr);
}

std::int32_t TcpDriver::tini() {
  stop(true);
  return 0;
}

void TcpDriver::stop_unjoined() { stop(false); }

int TcpDriver::wait_readable(Connection& connection, std::uint32_t timeout_ms) const {
  std::uint32_t start = platform::tick_ms();
  for (;;) {
    if (connection.retired) return 0;
    std::uint32_t spent = platform::tick_ms() - start;
    std::uint32_t left = spent >= timeout_ms ? 0 : timeout_ms - spent;
    int ready = platform::wait_readable(connection.socket, std::min(left, slice_ms));
    if (ready != 0 || left <= slice_ms) return connection.retired ? 0 : ready;
  }
}

std::int32_t TcpDriver::wait_packet(std::int32_t timeout_ms, char* address, std::int32_t length, char* buffer) {
  std::shared_ptr<Connection> connection = current();
  if (!connection) return 0;
  FrameReader& reader = connection->reader;
  reader.set_capacity(buffer ? length : 0);
  auto deliver = [&](std::int32_t result) {
    if (address) std::memcpy(address, connection->peer.c_str(), connection->peer.size() + 1);
    return result;
  };
  // One limit for the whole call: a frame that is not complete when it
  // passes stays with the reader and goes on at the next call.
  std::uint32_t limit = timeout_ms > 0 ? static_cast<std::uint32_t>(timeout_ms) : 0;
  std::uint32_t start = platform::tick_ms();
  for (;;) {
    std::uint32_t spent = platform::tick_ms() - start;
    if (wait_readable(*connection, spent >= limit ? 0 : limit - spent) <= 0) return 0;
    FrameReader::Space space = reader.space();
    int n = platform::receive_bytes(connection->socket, space.data, static_cast<int>(space.size));
    if (n <= 0) {
      // The peer closed its side (0) or the connection failed (-1). Once a
      // frame's length word is in, that is the payload's receive result.
      return reader.in_payload() ? deliver(n < 0 ? -1 : 0) : 0;
    }
    if (!reader.received(static_cast<std::size_t>(n))) continue;
    if (reader.length() == 0) return 0;  // an empty frame delivers nothing
    if (reader.kept() > 0) std::memcpy(buffer, reader.payload(), reader.kept());
    return deliver(static_cast<std::int32_t>(reader.kept()));
  }
}

std::int32_t TcpDriver::send_packet(std::int32_t length, const char* buffer) {
  std::shared_ptr<Connection> connection = current();
  if (!connection) return -1;
  // A negative length or a missing buffer would send a length word with no
  // payload behind it and leave the peer out of step.
  if (length < 0 || (length > 0 && !buffer)) return -1;
  // Word and payload leave in one send where they fit a small frame, so that
  // the peer gets them in one segment.
  unsigned char frame[4096];
  const unsigned char* data = frame;
  std::size_t size = length_word_size;
  put_length_word(static_cast<std::uint32_t>(length), frame);
  std::size_t payload_size = static_cast<std::size_t>(length);
  bool joined = payload_size <= sizeof frame - length_word_size;
  if (joined && length > 0) {
    std::memcpy(frame + length_word_size, buffer, payload_size);
    size += payload_size;
  }
  auto send_all = [&](const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
      int n = platform::send_bytes(connection->socket, bytes, static_cast<int>(std::min<std::size_t>(count, 1 << 30)));
      if (n <= 0) return false;
      bytes += n;
      count -= static_cast<std::size_t>(n);
    }
    return true;
  };
  if (!send_all(data, size)) {
    if (platform::last_socket_error() == SocketError::connection_reset) drop(connection);
    return -1;
  }
  if (!joined && !send_all(reinterpret_cast<const unsigned char*>(buffer), payload_size)) return -1;
  return 0;
}

}  // namespace qor::transports::tcp

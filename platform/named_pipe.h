#pragma once
// Named pipes: the message pipes between host applications and the server,
// on this machine ("\\.\PIPE\name") and across the network
// ("\\machine\PIPE\name").
//
// A server instance serves one client at a time and keeps the boundaries of
// the messages it reads. The client end reads the pipe the way a Windows
// client in byte read mode does: a read takes the waiting bytes, across
// message boundaries, up to the size of the caller's buffer; peek tells how
// many bytes wait in total and how many are left of the current message.
//
// An object is used by one thread at a time, except PipeServer::cancel(),
// which any thread may call at any time. Pipe names are passed through as
// they are; the OS may fold their case (Windows does, native does not), so
// callers compare names themselves.
//
// Messages are 1 byte or longer (an empty write fails: a native reader
// could not tell it from the end of the connection); on native they are at
// most pipe_max_message bytes.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace qor::platform {

// The size of each instance's input and output buffer, and of the buffer
// every reader of this system reads into.
constexpr std::size_t pipe_buffer_size = 10240;

// The largest instance limit a pipe name may be given.
constexpr int pipe_max_instances = 254;

// The longest message the native back end carries (Windows has no limit).
constexpr std::size_t pipe_max_message = 65536;

// The server side: one instance of a pipe name.
class PipeServer {
 public:
  // Creates one instance of the pipe `path`, "\\.\PIPE\name" ("PIPE" in any
  // case): duplex, message type and message read mode, blocking, 10240-byte
  // buffers, open to every user of the machine and of the network. The first
  // instance of a name fixes its limit of `max_instances` (1 to
  // pipe_max_instances) instances. More instances of a name may be created
  // while others serve clients. Null when the path is not a local pipe path,
  // the limit is out of range, every allowed instance exists, or (native
  // only) another live process holds the name.
  static std::unique_ptr<PipeServer> create(const std::string& path, int max_instances);

  // Disconnects a client and ends the instance.
  ~PipeServer();
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Waits until a client is connected to this instance. A client that
  // connected before the call counts, and so does one that connected and
  // already went away (the next read then fails). False when the wait failed
  // or the instance was cancelled.
  bool wait_for_client();

  // Reads one message into `buffer`. The size of the message, or nothing
  // when the read failed: the client went away, the instance was cancelled,
  // or the message is longer than `size` (it is then dropped whole, and the
  // next read gets the next message).
  std::optional<std::size_t> read_message(char* buffer, std::size_t size);

  // Writes one message; true when all of it was written.
  bool write_message(const void* data, std::size_t size);

  // Ends the connection with the current client (unread bytes are dropped);
  // the instance may then wait for the next client.
  void disconnect();

  // From any thread: makes the call blocked in this instance (a wait, read
  // or write) return failure promptly, and every later call fail. The owner
  // still destroys the object.
  void cancel();

  struct State;

 private:
  explicit PipeServer(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// How many bytes wait on the client end of a pipe.
struct PipeWaiting {
  std::size_t total = 0;       // in all waiting messages
  std::size_t in_message = 0;  // left in the message the next read starts in
};

// The client side of a connection.
class PipeClient {
 public:
  // Opens "\\machine\PIPE\name" ("PIPE" in any case): "." is this machine,
  // any other text names another machine (a host name or address). Null
  // when there is no such pipe, no instance is free, or the machine cannot
  // be reached.
  static std::unique_ptr<PipeClient> open(const std::string& path);

  ~PipeClient();
  PipeClient(const PipeClient&) = delete;
  PipeClient& operator=(const PipeClient&) = delete;

  // Looks at the pipe without reading. Nothing when the pipe is broken
  // (the server went away) and no bytes are left to read.
  std::optional<PipeWaiting> peek();

  // Waits until bytes are there, then reads what is waiting, up to `size`
  // bytes, across message boundaries. The count read, or nothing on failure
  // (the server went away and nothing is left).
  std::optional<std::size_t> read(char* buffer, std::size_t size);

  // Writes one message; true when all of it was written.
  bool write_message(const void* data, std::size_t size);

  struct State;

 private:
  explicit PipeClient(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace qor::platform

#pragma once
// The sockets of the native back end of named pipes, shared by the pipe
// ends and the network gateway: the socket that stands for each pipe name,
// and frame I/O on the connections of remote pipes (see docs/native-mapping.md,
// "Named pipes").
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/posix/pipe_protocol.h"

namespace qor::platform::posix {

// runtime_subdir("pipes") + "/" + pipe_file_name(name); nothing when that
// path does not fit in a socket address.
std::optional<std::string> pipe_socket_path(const std::string& name);

// Connects a SOCK_SEQPACKET socket to the pipe socket at `path`, waiting at
// most `timeout_ms` while the socket's backlog is full. The descriptor
// (blocking, close-on-exec), or -1 with errno: ENOENT or ECONNREFUSED when
// nobody serves the path, EAGAIN when its backlog stayed full.
int connect_pipe_socket(const std::string& path, int timeout_ms);

// The TCP port of the gateway: $QOR_PIPE_PORT when it is a number from 1
// to 65535, otherwise default_gateway_port.
constexpr std::uint16_t default_gateway_port = 44510;
std::uint16_t gateway_port();

// Starts the gateway of this process once (a background thread that tries
// to hold the gateway port now and then; see docs). Safe to call often.
void start_pipe_gateway();

// Whole-buffer socket I/O with EINTR retried and SIGPIPE never raised. True
// when every byte went or came; a receive that meets the end of the stream
// first fails with errno 0.
bool send_all(int fd, const void* data, std::size_t size);
bool receive_all(int fd, void* buffer, std::size_t size);

// One frame: 4-byte little-endian length, then the bytes.
bool send_frame(int fd, const void* data, std::size_t size);

}  // namespace qor::platform::posix

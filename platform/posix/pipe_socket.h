#pragma once
// The native back end of named pipes, shared by the pipe ends and the
// network gateway: pipe paths, the socket that stands for each pipe name,
// and the frames of the remote protocol (see docs/native-mapping.md,
// "Named pipes").
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qor::platform::posix {

// The file name of a pipe's socket: the name with every byte outside
// A-Z a-z 0-9 - _ (and a leading '.') written as %XX.
std::string pipe_file_name(const std::string& name);

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

// Status codes of the gateway's reply to a connection request (the Windows
// error numbers of the same meaning).
constexpr std::uint8_t gateway_connected = 0;
constexpr std::uint8_t gateway_no_such_pipe = 2;     // ERROR_FILE_NOT_FOUND
constexpr std::uint8_t gateway_bad_name = 123;       // ERROR_INVALID_NAME
constexpr std::uint8_t gateway_pipe_busy = 231;      // ERROR_PIPE_BUSY

// The longest pipe name a connection request may carry.
constexpr std::size_t max_remote_name = 256;

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

inline std::uint32_t read_le32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

inline void write_le32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace qor::platform::posix

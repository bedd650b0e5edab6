#pragma once
// The parts of the native pipe mapping that are pure text and bytes (see
// docs/native-mapping.md, "Named pipes"): socket file names, and the frames
// that remote pipes carry.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace qor::platform::posix {

// The file name of a pipe's socket: the name with every byte outside
// A-Z a-z 0-9 - _ (and a leading '.') written as %XX.
std::string pipe_file_name(const std::string& name);

// The longest pipe name a connection request may carry.
constexpr std::size_t max_remote_name = 256;

// Status codes of the gateway's reply to a connection request (the Windows
// error numbers of the same meaning).
constexpr std::uint8_t gateway_connected = 0;
constexpr std::uint8_t gateway_no_such_pipe = 2;  // ERROR_FILE_NOT_FOUND
constexpr std::uint8_t gateway_bad_name = 123;    // ERROR_INVALID_NAME
constexpr std::uint8_t gateway_pipe_busy = 231;   // ERROR_PIPE_BUSY

inline std::uint32_t read_le32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

inline void write_le32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

// Cuts the messages out of a stream of frames (4-byte little-endian length,
// then the bytes) and hands them out the way the client end of a pipe reads:
// across message boundaries.
class FrameReader {
 public:
  explicit FrameReader(std::size_t max_frame) : max_frame_(max_frame) {}

  // Takes the next bytes of the stream. False once a frame is longer than
  // the limit: the stream is broken, and nothing more is taken.
  bool take(const char* data, std::size_t size);
  bool broken() const { return broken_; }

  // Bytes of complete messages not read yet, and those left of the first.
  std::size_t waiting() const { return waiting_; }
  std::size_t in_message() const { return messages_.empty() ? 0 : messages_.front().size() - front_used_; }

  // Moves up to `size` waiting bytes into `buffer`; the count moved.
  std::size_t read(char* buffer, std::size_t size);

 private:
  std::size_t max_frame_;
  std::deque<std::string> messages_;
  std::size_t front_used_ = 0;
  std::size_t waiting_ = 0;
  std::string partial_;
  bool broken_ = false;
};

}  // namespace qor::platform::posix

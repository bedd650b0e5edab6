#pragma once
// The terminal protocol spoken between terminals and the link server, over
// either transport driver. One frame:
//
//   offset 0      STX (0x02)
//   1..3          terminal number, 3 decimal digits (000-999)
//   4..8          sequence number, 5 decimal digits (00000-99999)
//   9..10         code, two capital letters: DA, AN, KA, AK (others are
//                 carried as they are, for the receiver to refuse)
//   11..          packet type (0-16 bytes), "|", data (0-10240 bytes)
//   then          ETX (0x03), and 4 hexadecimal digits of the checksum: the
//                 sum of the bytes between STX and ETX, modulo 65536
//
// Type and data never hold STX or ETX; the type holds no "|" (the data
// may). A pure unit: no I/O, no allocation beyond the strings it returns.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qor::linkserver {

constexpr char frame_stx = 0x02;
constexpr char frame_etx = 0x03;

// The codes of the protocol.
inline constexpr const char* code_data = "DA";        // data from the terminal (type|data)
inline constexpr const char* code_answer = "AN";      // host data for the terminal
inline constexpr const char* code_keep_alive = "KA";  // the terminal is still there
inline constexpr const char* code_ack = "AK";         // the link server took a DA frame

constexpr std::size_t max_type_size = 16;
constexpr std::size_t max_data_size = 10240;
constexpr int max_terminal = 999;
constexpr int max_sequence = 99999;
// STX, 3 + 5 digits, 2 letters, "|", ETX, 4 hex digits.
constexpr std::size_t min_frame_size = 17;
constexpr std::size_t max_frame_size = min_frame_size + max_type_size + max_data_size;

struct TerminalFrame {
  int terminal = 0;
  int sequence = 0;
  std::string code;  // two capital letters
  std::string type;
  std::string data;

  bool operator==(const TerminalFrame& other) const {
    return terminal == other.terminal && sequence == other.sequence && code == other.code && type == other.type &&
           data == other.data;
  }
};

// Sum of the bytes modulo 65536.
std::uint16_t frame_checksum(std::string_view bytes);

// The frame's bytes, or nothing when a field is out of its range or holds a
// byte it may not hold.
std::optional<std::string> encode_frame(const TerminalFrame& frame);

// Exactly one whole frame (nothing before or after it); nothing when the
// bytes are not one (wrong layout, a bad digit, a checksum that differs).
// The checksum's hex digits may be of either case.
std::optional<TerminalFrame> decode_frame(std::string_view bytes);

// Where the next whole, well-formed frame lies in a stream of bytes (for a
// stream transport, or several frames in one datagram).
//   discard: bytes at the front that belong to no frame (noise, broken or
//            over-long frames) and can be dropped;
//   size:    the length of the whole frame that follows them, 0 when no
//            frame is complete yet (then the bytes after `discard` may still
//            become one: keep them and read more).
struct FrameSpan {
  std::size_t discard = 0;
  std::size_t size = 0;
};
FrameSpan find_frame(std::string_view stream);

}  // namespace qor::linkserver

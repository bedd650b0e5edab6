#include "linkserver/terminal_frame.h"

namespace qor::linkserver {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_capital(char c) { return c >= 'A' && c <= 'Z'; }
bool is_control(char c) { return c == frame_stx || c == frame_etx; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void put_digits(std::string& out, int value, int digits) {
  std::size_t at = out.size();
  out.append(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value /= 10) out[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
}

bool read_digits(std::string_view text, int* value) {
  int v = 0;
  for (char c : text) {
    if (!is_digit(c)) return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

}  // namespace

std::uint16_t frame_checksum(std::string_view bytes) {
  std::uint32_t sum = 0;
  for (char c : bytes) sum += static_cast<unsigned char>(c);
  return static_cast<std::uint16_t>(sum);
}

std::optional<std::string> encode_frame(const TerminalFrame& frame) {
  if (frame.terminal < 0 || frame.terminal > max_terminal || frame.sequence < 0 || frame.sequence > max_sequence)
    return std::nullopt;
  if (frame.code.size() != 2 || !is_capital(frame.code[0]) || !is_capital(frame.code[1])) return std::nullopt;
  if (frame.type.size() > max_type_size || frame.data.size() > max_data_size) return std::nullopt;
  for (char c : frame.type)
    if (is_control(c) || c == '|') return std::nullopt;
  for (char c : frame.data)
    if (is_control(c)) return std::nullopt;

  std::string out;
  out.reserve(min_frame_size + frame.type.size() + frame.data.size());
  out += frame_stx;
  put_digits(out, frame.terminal, 3);
  put_digits(out, frame.sequence, 5);
  out += frame.code;
  out += frame.type;
  out += '|';
  out += frame.data;
  std::uint16_t sum = frame_checksum(std::string_view(out).substr(1));
  out += frame_etx;
  static const char hex[] = "0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) out += hex[(sum >> shift) & 0xF];
  return out;
}

std::optional<TerminalFrame> decode_frame(std::string_view bytes) {
  if (bytes.size() < min_frame_size || bytes.size() > max_frame_size) return std::nullopt;
  std::size_t etx = bytes.size() - 5;
  if (bytes[0] != frame_stx || bytes[etx] != frame_etx) return std::nullopt;
  std::string_view body = bytes.substr(1, etx - 1);
  for (char c : body)
    if (is_control(c)) return std::nullopt;

  TerminalFrame frame;
  if (!read_digits(body.substr(0, 3), &frame.terminal) || !read_digits(body.substr(3, 5), &frame.sequence))
    return std::nullopt;
  if (!is_capital(body[8]) || !is_capital(body[9])) return std::nullopt;
  frame.code.assign(body.substr(8, 2));
  std::string_view rest = body.substr(10);
  std::size_t bar = rest.find('|');
  if (bar == std::string_view::npos || bar > max_type_size || rest.size() - bar - 1 > max_data_size)
    return std::nullopt;
  frame.type.assign(rest.substr(0, bar));
  frame.data.assign(rest.substr(bar + 1));

  unsigned sum = 0;
  for (char c : bytes.substr(etx + 1)) {
    int v = hex_value(c);
    if (v < 0) return std::nullopt;
    sum = sum << 4 | static_cast<unsigned>(v);
  }
  if (sum != frame_checksum(body)) return std::nullopt;
  return frame;
}

FrameSpan find_frame(std::string_view stream) {
  std::size_t at = 0;
  for (;;) {
    std::size_t start = stream.find(frame_stx, at);
    if (start == std::string_view::npos) return {stream.size(), 0};
    // A frame holds no STX or ETX between its own two, so the first of them
    // after this STX settles whether a frame can start here.
    std::size_t end = stream.find_first_of(std::string_view("\x02\x03", 2), start + 1);
    if (end == std::string_view::npos) {
      // No end yet: wait for more, unless the frame is already too long.
      if (stream.size() - start < max_frame_size) return {start, 0};
      at = start + 1;
      continue;
    }
    if (stream[end] == frame_stx || end + 5 - start > max_frame_size) {
      at = end;  // this STX starts nothing; perhaps the next one does
      if (stream[end] != frame_stx) at = end + 1;
      continue;
    }
    if (stream.size() < end + 5) return {start, 0};  // the checksum is still to come
    if (decode_frame(stream.substr(start, end + 5 - start))) return {start, end + 5 - start};
    at = end + 1;
  }
}

}  // namespace qor::linkserver

// Outside input of the native pipes: path text, the socket file names made
// from pipe names, and the stream of frames a remote pipe carries. The frame
// reader, fed in pieces and read in pieces, must hand out exactly the bytes
// of the complete frames, in order, and stop at a frame over its limit.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/common/pipe_path.h"
#include "platform/posix/pipe_protocol.h"

using namespace qor::platform;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void check_path(const std::string& text) {
  auto parts = detail::parse_pipe_path(text);
  if (!parts) return;
  check(!parts->machine.empty() && !parts->name.empty());
  check(parts->machine.find('\\') == std::string::npos && parts->name.find('\\') == std::string::npos);
  check(text.size() == 2 + parts->machine.size() + 6 + parts->name.size());
  check(text.compare(text.size() - parts->name.size(), std::string::npos, parts->name) == 0);

  // The file name is safe, and it names exactly one pipe name.
  std::string file = posix::pipe_file_name(parts->name);
  check(!file.empty() && file[0] != '.');
  std::string back;
  for (std::size_t i = 0; i < file.size(); ++i) {
    char c = file[i];
    bool plain =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
    if (plain) {
      back += c;
      continue;
    }
    check(c == '%' && i + 2 < file.size() && hex_value(file[i + 1]) >= 0 && hex_value(file[i + 2]) >= 0);
    back += static_cast<char>(hex_value(file[i + 1]) * 16 + hex_value(file[i + 2]));
    i += 2;
  }
  check(back == parts->name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check_path(std::string(reinterpret_cast<const char*>(data), size));
  if (size < 2) return 0;

  // data[0]: the piece size of the stream; data[1]: the size of each read.
  const std::size_t piece = data[0] % 23 + 1, reading = data[1] % 29 + 1, limit = 64;
  const char* stream = reinterpret_cast<const char*>(data + 2);
  const std::size_t length = size - 2;

  // What the stream holds, read whole.
  std::string expected;
  bool expect_broken = false;
  for (std::size_t at = 0; at + 4 <= length;) {
    std::uint32_t n = posix::read_le32(reinterpret_cast<const unsigned char*>(stream + at));
    if (n > limit) {
      expect_broken = true;
      break;
    }
    if (at + 4 + n > length) break;
    expected.append(stream + at + 4, n);
    at += 4 + n;
  }

  posix::FrameReader reader(limit);
  std::string got;
  std::vector<char> buffer(reading);
  for (std::size_t at = 0; at < length; at += piece) {
    std::size_t n = length - at < piece ? length - at : piece;
    bool taken = reader.take(stream + at, n);
    check(taken == !reader.broken());
    std::size_t before = reader.waiting();
    check(reader.in_message() <= before && (before == 0) == (reader.in_message() == 0));
    std::size_t moved = reader.read(buffer.data(), buffer.size());
    check(moved <= buffer.size() && moved == (before < buffer.size() ? before : buffer.size()));
    check(reader.waiting() == before - moved);
    got.append(buffer.data(), moved);
  }
  while (std::size_t moved = reader.read(buffer.data(), buffer.size())) got.append(buffer.data(), moved);
  check(reader.waiting() == 0);
  check(reader.broken() == expect_broken);
  check(got == expected);
  return 0;
}

// The native profile reader and writer over arbitrary file bytes: no crash,
// no read or write outside the buffer, a count within the size, and a value
// written reads back as written.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/posix/profile_parser.h"

namespace {

// Takes a NUL-terminated piece off the front of the input.
std::string take(const std::uint8_t*& data, std::size_t& size, std::size_t most) {
  std::string piece;
  while (size > 0 && piece.size() < most) {
    char c = static_cast<char>(*data++);
    --size;
    if (c == '\0') break;
    piece += c;
  }
  return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint32_t buffer_size = data[0];
  const bool no_file = data[1] & 1;
  data += 2;
  size -= 2;
  const std::string section = take(data, size, 16);
  const std::string key = take(data, size, 16);
  const std::string fallback = take(data, size, 16);
  const std::string value = take(data, size, 16);
  const std::string file(reinterpret_cast<const char*>(data), size);
  const std::string* bytes = no_file ? nullptr : &file;

  // Exactly the given size on the heap, so that the sanitizer sees any
  // write past it.
  std::unique_ptr<char[]> buffer(new char[buffer_size ? buffer_size : 1]);
  std::uint32_t n = qor::platform::posix::read_profile_text(bytes, section, key, fallback, buffer.get(), buffer_size);
  if (buffer_size == 0 ? n != 0 : (n >= buffer_size || buffer[n] != '\0' || std::strlen(buffer.get()) != n))
    std::abort();
  qor::platform::posix::read_profile_number(bytes, section, key, 0);

  std::string written;
  if (!qor::platform::posix::write_profile_text(bytes, section, key, value, &written)) return 0;
  // A value without blanks or quotes at its ends reads back exactly.
  const char* blanks = " \t\v\f";
  bool plain = !value.empty() && !std::strchr(blanks, value.front()) && !std::strchr(blanks, value.back()) &&
               !(value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]);
  if (plain) {
    char back[64];
    std::uint32_t got = qor::platform::posix::read_profile_text(&written, section, key, "", back, sizeof back);
    if (std::string(back, got) != value) std::abort();
  }
  return 0;
}

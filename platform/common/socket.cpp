// The parts of sockets that are the same on every target.
#include "platform/socket.h"

namespace qor::platform {

bool parse_ipv4(const std::string& text, std::uint32_t* address) {
  std::uint32_t value = 0;
  std::size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
    std::size_t start = i;
    std::uint32_t number = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3)
      number = number * 10 + (text[i++] - '0');
    std::size_t digits = i - start;
    if (digits == 0 || number > 255 || (digits > 1 && text[start] == '0')) return false;
    value = value << 8 | number;
  }
  if (i != text.size()) return false;
  if (address) *address = value;
  return true;
}

std::string ipv4_text(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xFF) + "." +
         std::to_string(address >> 8 & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace qor::platform

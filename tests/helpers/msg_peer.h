#pragma once
// What the thread queue and window tests and their helper program msg_peer
// agree on.
#include <cstdint>
#include <vector>

#include "platform/message.h"

namespace msg_peer {

constexpr std::uint32_t msg_item = qor::platform::msg_app + 1;
constexpr std::uint32_t msg_done = qor::platform::msg_app + 2;
constexpr std::uint32_t tag = 0x5151;

// Bytes that show a shifted, cut or zeroed block.
inline std::vector<unsigned char> pattern(std::uint32_t size) {
  std::vector<unsigned char> bytes(size);
  for (std::uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>((i * 7 + size + i / 251) & 0xFF);
  return bytes;
}

inline std::uint32_t checksum(const void* data, std::uint32_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::uint32_t sum = 2166136261u;
  for (std::uint32_t i = 0; i < size; ++i) sum = (sum ^ p[i]) * 16777619u;
  return sum;
}

}  // namespace msg_peer

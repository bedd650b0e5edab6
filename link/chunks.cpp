#include "link/chunks.h"

namespace qor::link {

namespace {

std::uint32_t pack(const std::string& text, std::size_t from) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4 && from + i < text.size(); ++i)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(text[from + i])) << (8 * i);
  return value;
}

// Appends the bytes of `value` up to the first zero; false when it met one.
bool unpack(std::string& text, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    char c = static_cast<char>((value >> (8 * i)) & 0xFF);
    if (c == '\0') return false;
    text.push_back(c);
  }
  return true;
}

}  // namespace

std::vector<Chunk> split_into_chunks(const std::string& text) {
  std::vector<Chunk> chunks;
  chunks.reserve((text.size() + 7) / 8);
  for (std::size_t at = 0; at < text.size(); at += 8) chunks.push_back({pack(text, at), pack(text, at + 4)});
  return chunks;
}

void append_chunk(std::string& text, const Chunk& chunk) {
  if (unpack(text, chunk.first)) unpack(text, chunk.second);
}

std::string delivered_message(int number, const std::string& text) {
  return number != 0 ? std::to_string(number) + "|" + text : text;
}

}  // namespace qor::link

#pragma once
// Message text carried to a window-transport client as data chunks: thread
// messages of two 32-bit values, eight text bytes each.
#include <cstdint>
#include <string>
#include <vector>

namespace qor::link {

struct Chunk {
  std::uint32_t first = 0;   // text bytes 1-4, the first byte in the lowest-order byte
  std::uint32_t second = 0;  // text bytes 5-8, likewise; missing bytes are zero
};

// The chunks that carry `text`, the last one holding its last byte. An empty
// text has no chunks.
std::vector<Chunk> split_into_chunks(const std::string& text);

// Appends a chunk's bytes up to its first zero byte to `text`.
void append_chunk(std::string& text, const Chunk& chunk);

// A queued message as it is delivered: "<number>|<text>", or the text alone
// for number 0.
std::string delivered_message(int number, const std::string& text);

}  // namespace qor::link

// Any bytes as a window-transport block or a run of data chunks: decoding is
// bounded and a decoded block lays out again as the same texts.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/blocks.h"
#include "link/chunks.h"

using namespace qor::link;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  RequestBlock request;
  if (decode_request_block(data, size, request)) {
    RequestBytes again;
    // Texts that fit their fields lay out again and read back unchanged.
    if (encode_request_block(request, again)) {
      RequestBlock back;
      if (!decode_request_block(again.data(), again.size(), back) || back.name != request.name ||
          back.text != request.text)
        std::abort();
    }
  }
  DataBlock block;
  if (decode_data_block(data, size, block) && (block.type.size() > data_type_size || block.data.size() > data_data_size))
    std::abort();

  std::string text;
  for (std::size_t at = 0; at + 8 <= size; at += 8) {
    Chunk chunk;
    std::memcpy(&chunk.first, data + at, 4);
    std::memcpy(&chunk.second, data + at + 4, 4);
    append_chunk(text, chunk);
  }
  std::string received;
  for (const auto& chunk : split_into_chunks(text)) append_chunk(received, chunk);
  if (received != text) std::abort();
  return 0;
}

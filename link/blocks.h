#pragma once
// The two fixed blocks of the window transport. Every byte that no text fills
// is zero; integers are little-endian whatever the machine.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qor::link {

constexpr std::size_t request_name_size = 64;
constexpr std::size_t request_text_size = 1024;
constexpr std::size_t request_block_size = request_name_size + request_text_size;  // 1088 (0x440)

constexpr std::size_t data_type_size = 64;
constexpr std::size_t data_data_size = 1024;
constexpr std::size_t data_block_size = 4 + data_type_size + data_data_size;  // 1092

using RequestBytes = std::array<std::uint8_t, request_block_size>;
using DataBytes = std::array<std::uint8_t, data_block_size>;

// A request: an empty name carries a request text; a name carries a command
// word (or an empty text: a read request for that pipe).
struct RequestBlock {
  std::string name;
  std::string text;
};

// Terminal data handed to the server by a local program.
struct DataBlock {
  std::int32_t terminal = 0;
  std::string type;
  std::string data;
};

// Lay a block out. False, and `out` untouched, when a text does not fit its
// field with its NUL (a name of 64 bytes or more, a text of 1024 or more) or
// holds a NUL of its own.
bool encode_request_block(const RequestBlock& block, RequestBytes& out);
bool encode_data_block(const DataBlock& block, DataBytes& out);

// Read a block from `size` bytes; false when `size` is not the block's size.
// Each text ends at its first NUL, or at the end of its field when a
// malformed block has none.
bool decode_request_block(const void* bytes, std::size_t size, RequestBlock& out);
bool decode_data_block(const void* bytes, std::size_t size, DataBlock& out);

}  // namespace qor::link

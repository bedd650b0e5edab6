#include "link/blocks.h"

#include <algorithm>
#include <cstring>

namespace qor::link {

namespace {

bool fits(const std::string& text, std::size_t field) {
  return text.size() < field && text.find('\0') == std::string::npos;
}

void put_text(std::uint8_t* field, const std::string& text) { std::memcpy(field, text.data(), text.size()); }

std::string get_text(const std::uint8_t* field, std::size_t size) {
  const std::uint8_t* end = std::find(field, field + size, 0);
  return std::string(reinterpret_cast<const char*>(field), static_cast<std::size_t>(end - field));
}

}  // namespace

bool encode_request_block(const RequestBlock& block, RequestBytes& out) {
  if (!fits(block.name, request_name_size) || !fits(block.text, request_text_size)) return false;
  out.fill(0);
  put_text(out.data(), block.name);
  put_text(out.data() + request_name_size, block.text);
  return true;
}

bool decode_request_block(const void* bytes, std::size_t size, RequestBlock& out) {
  if (!bytes || size != request_block_size) return false;
  auto* b = static_cast<const std::uint8_t*>(bytes);
  out.name = get_text(b, request_name_size);
  out.text = get_text(b + request_name_size, request_text_size);
  return true;
}

bool encode_data_block(const DataBlock& block, DataBytes& out) {
  if (!fits(block.type, data_type_size) || !fits(block.data, data_data_size)) return false;
  out.fill(0);
  auto terminal = static_cast<std::uint32_t>(block.terminal);
  for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(terminal >> (8 * i));
  put_text(out.data() + 4, block.type);
  put_text(out.data() + 4 + data_type_size, block.data);
  return true;
}

bool decode_data_block(const void* bytes, std::size_t size, DataBlock& out) {
  if (!bytes || size != data_block_size) return false;
  auto* b = static_cast<const std::uint8_t*>(bytes);
  std::uint32_t terminal = 0;
  for (int i = 0; i < 4; ++i) terminal |= static_cast<std::uint32_t>(b[i]) << (8 * i);
  out.terminal = static_cast<std::int32_t>(terminal);
  out.type = get_text(b + 4, data_type_size);
  out.data = get_text(b + 4 + data_type_size, data_data_size);
  return true;
}

}  // namespace qor::link

#include "platform/posix/pipe_protocol.h"

#include <algorithm>
#include <cstring>

namespace qor::platform::posix {

std::string pipe_file_name(const std::string& name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string file;
  file.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                 (c == '.' && i > 0);
    if (plain) {
      file += static_cast<char>(c);
    } else {
      file += '%';
      file += hex[c >> 4];
      file += hex[c & 15];
    }
  }
  return file;
}

bool FrameReader::take(const char* data, std::size_t size) {
  if (broken_) return false;
  partial_.append(data, size);
  std::size_t used = 0;
  while (partial_.size() - used >= 4) {
    std::uint32_t length = read_le32(reinterpret_cast<const unsigned char*>(partial_.data() + used));
    if (length > max_frame_) {
      broken_ = true;
      partial_.clear();
      return false;
    }
    if (partial_.size() - used - 4 < length) break;
    // An empty frame carries nothing.
    if (length > 0) {
      messages_.emplace_back(partial_, used + 4, length);
      waiting_ += length;
    }
    used += 4 + length;
  }
  partial_.erase(0, used);
  return true;
}

std::size_t FrameReader::read(char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size && !messages_.empty()) {
    const std::string& front = messages_.front();
    std::size_t take = std::min(size - got, front.size() - front_used_);
    std::memcpy(buffer + got, front.data() + front_used_, take);
    got += take;
    front_used_ += take;
    waiting_ -= take;
    if (front_used_ == front.size()) {
      messages_.pop_front();
      front_used_ = 0;
    }
  }
  return got;
}

}  // namespace qor::platform::posix

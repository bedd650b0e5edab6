#include "transports/tcp/frame_reader.h"

#include <algorithm>

namespace qor::transports::tcp {

void put_length_word(std::uint32_t length, unsigned char* word) {
  length &= length_mask;
  for (std::size_t i = 0; i < length_word_size; ++i) word[i] = static_cast<unsigned char>(length >> (8 * i));
}

std::uint32_t length_of_word(const unsigned char* word) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < length_word_size; ++i) value |= static_cast<std::uint32_t>(word[i]) << (8 * i);
  return value & length_mask;
}

void FrameReader::set_capacity(std::int32_t capacity) {
  capacity_ = capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
  switch (phase_) {
    case Phase::header:
      break;
    case Phase::keep:
      target_ = std::min<std::size_t>(length_, capacity_);
      if (kept_ >= target_) {
        kept_ = target_;
        phase_ = Phase::drop;  // remaining_ > 0 here: the frame is not complete
      }
      break;
    case Phase::drop:
      target_ = std::min(target_, capacity_);
      kept_ = std::min(kept_, target_);
      break;
  }
}

FrameReader::Space FrameReader::space() {
  switch (phase_) {
    case Phase::header:
      return {word_ + have_, length_word_size - have_};
    case Phase::keep: {
      std::size_t piece = std::min(target_ - kept_, keep_piece);
      if (kept_buffer_.size() < kept_ + piece) kept_buffer_.resize(kept_ + piece);
      return {kept_buffer_.data() + kept_, piece};
    }
    case Phase::drop:
      break;
  }
  return {scratch_, std::min<std::size_t>(remaining_, drop_piece)};
}

bool FrameReader::received(std::size_t n) {
  switch (phase_) {
    case Phase::header:
      have_ += n;
      if (have_ < length_word_size) return false;
      have_ = 0;
      length_ = remaining_ = length_of_word(word_);
      kept_ = 0;
      target_ = std::min<std::size_t>(length_, capacity_);
      if (length_ == 0) return true;
      phase_ = target_ > 0 ? Phase::keep : Phase::drop;
      return false;
    case Phase::keep:
      kept_ += n;
      remaining_ -= static_cast<std::uint32_t>(n);
      break;
    case Phase::drop:
      remaining_ -= static_cast<std::uint32_t>(n);
      break;
  }
  if (remaining_ == 0) {
    phase_ = Phase::header;
    return true;
  }
  if (phase_ == Phase::keep && kept_ == target_) phase_ = Phase::drop;
  return false;
}

}  // namespace qor::transports::tcp

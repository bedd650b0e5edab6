#pragma once
// Frames of the stream driver, without any socket: a 4-byte length word,
// least significant byte first (bits 0-30 the payload size, bit 31 a flag
// that is sent as 0 and ignored on receipt), then the payload.
//
// FrameReader is fed by whoever reads the stream. It says where the next
// bytes go and how many it can take (never more than the rest of the
// current frame, so the stream is never read past a frame boundary), and
// tells when a frame is complete. Of each payload it keeps at most the
// capacity its reader has set and drops the rest in pieces of at most 128
// bytes. Its state lasts between reads, so a frame may arrive across any
// number of receives and calls.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qor::transports::tcp {

constexpr std::uint32_t length_mask = 0x7FFFFFFF;
constexpr std::size_t length_word_size = 4;
constexpr std::size_t drop_piece = 128;

void put_length_word(std::uint32_t length, unsigned char* word);
// Bits 0-30 of the word.
std::uint32_t length_of_word(const unsigned char* word);

class FrameReader {
 public:
  struct Space {
    unsigned char* data;
    std::size_t size;  // at least 1
  };

  // How many payload bytes the reader can take (0 or less: none). It applies
  // to the frame in progress too, but can only shrink what that frame
  // keeps once part of it has been dropped.
  void set_capacity(std::int32_t capacity);

  // Where the next bytes of the stream go, and how many at most.
  Space space();
  // `n` bytes (1 to space().size) have been written to space().data. True
  // when they complete a frame; payload(), kept() and length() then
  // describe it until the next call.
  bool received(std::size_t n);

  const unsigned char* payload() const { return kept_buffer_.data(); }
  std::size_t kept() const { return kept_; }
  std::uint32_t length() const { return length_; }

  // True once the length word is complete and until the frame is.
  bool in_payload() const { return phase_ != Phase::header; }
  // True while some bytes of a frame have arrived but not all.
  bool in_frame() const { return phase_ != Phase::header || have_ > 0; }

 private:
  enum class Phase { header, keep, drop };
  static constexpr std::size_t keep_piece = 64 * 1024;

  Phase phase_ = Phase::header;
  std::size_t capacity_ = 0;
  unsigned char word_[length_word_size] = {};
  std::size_t have_ = 0;        // bytes of the length word so far
  std::uint32_t length_ = 0;    // payload size of the current frame
  std::uint32_t remaining_ = 0; // payload bytes still to come
  std::size_t target_ = 0;      // payload bytes this frame keeps
  std::size_t kept_ = 0;
  // Grows with the bytes that actually arrive, never with a length word.
  std::vector<unsigned char> kept_buffer_;
  unsigned char scratch_[drop_piece] = {};
};

}  // namespace qor::transports::tcp

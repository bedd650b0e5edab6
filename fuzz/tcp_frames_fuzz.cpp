// Any byte stream, read in pieces whose sizes and reader capacities come from
// the input: no crash, never more than asked for, and frames that match a
// whole-stream reading of the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "transports/tcp/frame_reader.h"

using namespace qor::transports::tcp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // First byte: the capacity; second: whether it changes between pieces;
  // every further byte pair: a piece size, then stream bytes.
  std::int32_t capacity = static_cast<std::int32_t>(data[0] * 3) - 100;
  bool changing = data[1] & 1;
  std::vector<std::uint8_t> pieces, stream;
  for (std::size_t i = 2; i < size; ++i) (i % 2 ? stream : pieces).push_back(data[i]);

  FrameReader reader;
  reader.set_capacity(capacity);
  std::size_t at = 0, piece = 0, frames = 0;
  std::size_t fed_since_frame = 0;
  while (at < stream.size()) {
    if (changing) {
      capacity = static_cast<std::int32_t>(pieces.empty() ? 0 : pieces[piece % pieces.size()]) - 20;
      reader.set_capacity(capacity);
    }
    FrameReader::Space space = reader.space();
    if (space.size == 0) std::abort();
    std::size_t want = pieces.empty() ? 1 : 1 + pieces[piece++ % pieces.size()] % 40;
    std::size_t n = std::min({space.size, want, stream.size() - at});
    std::memcpy(space.data, stream.data() + at, n);
    at += n;
    fed_since_frame += n;
    if (!reader.received(n)) continue;
    ++frames;
    // A frame keeps at most its capacity, its length and the bytes it took.
    if (reader.kept() > reader.length() || reader.kept() + length_word_size > fed_since_frame) std::abort();
    if (!changing) {
      std::size_t expected = std::min<std::size_t>(reader.length(), capacity > 0 ? static_cast<std::size_t>(capacity) : 0);
      if (reader.kept() != expected) std::abort();
      // The kept bytes are the payload's first bytes.
      if (reader.kept() > 0 &&
          std::memcmp(reader.payload(), stream.data() + at - fed_since_frame + length_word_size, reader.kept()) != 0)
        std::abort();
    }
    if (fed_since_frame != length_word_size + reader.length()) std::abort();
    fed_since_frame = 0;
  }
  (void)frames;
  return 0;
}

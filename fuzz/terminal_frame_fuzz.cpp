// Any bytes as a terminal frame and as a stream of them: no crash; whatever
// decodes encodes back to the same bytes (bar the checksum's case); and every
// frame that find_frame points at decodes, inside the stream.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "linkserver/terminal_frame.h"

using namespace qor::linkserver;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (std::optional<TerminalFrame> frame = decode_frame(bytes)) {
    std::optional<std::string> again = encode_frame(*frame);
    if (!again || again->size() != size) std::abort();
    for (std::size_t i = 0; i < size; ++i)
      if (std::toupper(static_cast<unsigned char>((*again)[i])) != std::toupper(static_cast<unsigned char>(bytes[i])))
        std::abort();
  }
  std::string_view rest = bytes;
  while (!rest.empty()) {
    FrameSpan span = find_frame(rest);
    if (span.discard > rest.size() || span.size > rest.size() - span.discard) std::abort();
    if (span.size == 0) {
      if (span.discard == 0 && rest[0] != frame_stx) std::abort();  // noise is always given back
      break;
    }
    if (!decode_frame(rest.substr(span.discard, span.size))) std::abort();
    rest.remove_prefix(span.discard + span.size);
  }
  return 0;
}
